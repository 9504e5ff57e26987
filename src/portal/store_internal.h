#pragma once
#include <memory>
#include <string>

#include "portal/store.h"

std::unique_ptr<TScoreStore> OpenSqliteStore(const std::string& path);
std::unique_ptr<TScoreStore> OpenPostgresStore(const std::string& conninfo);
