#pragma once
// The operator's commands beside serving: backup, list and remove, and the
// options of the database connection.
#include <string>
#include <vector>

#include "portal/store.h"

struct TAdminCommand {
  std::string Name;  // empty: serve
  std::vector<std::string> Args;
  std::string Since;
  int Limit = 1000;
};

extern const char* const kAdminUsage;

// True when argv[i] is a command's name (backup, list, remove, serve).
bool IsAdminCommand(const std::string& word);
// Takes argv[i] (and its value, advancing i) when it is a database option or
// belongs to the command; exits 2 on a bad value.
bool TakeAdminOption(int argc, char** argv, int& i, TStoreOptions& store, TAdminCommand& command);
// Runs the command against db; the process's exit status.
int RunAdminCommand(const TAdminCommand& command, const std::string& db, const TStoreOptions& store);
// "2025-12-06", "2025-12-06T18:30[:00][Z]", "@UNIXSECONDS" or an age such as
// "30m", "12h", "7d"; false when it is none of these.
bool ParseWhen(const std::string& text, int64_t now, int64_t& out);
