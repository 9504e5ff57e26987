#pragma once
// Whole-file saves that never leave a torn file behind.
#include <string>
#include <string_view>

// Writes bytes to path through a temporary file beside it and one rename
// (Config.cfg and quorvane.ini are saved this way): the file keeps its permissions, a link is written
// through in place, and a folder that refuses new files while the file itself
// is writable gets an in-place rewrite. Raises EInOutError
// ("Cannot write <path>: <reason>") on failure.
void WriteFileAtomically(const std::string& path, std::string_view bytes);
