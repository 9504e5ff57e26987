#include "app/install_paths.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "persist/atomic_file.h"
#include "persist/config.h"
#include "persist/settings_ini.h"

#ifndef QV_RELATIVE_DATA_DIR
#define QV_RELATIVE_DATA_DIR "../share/quorvane"
#endif

namespace {

std::string WithSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// mkdir -p; the folders we create are the user's own (0700).
bool MakeDirectories(const std::string& dir) {
  if (IsDirectory(dir)) return true;
  for (size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1)) {
    const std::string part = dir.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  return IsDirectory(dir);
}

// Copies a plain file from → to unless to exists; a failure leaves the
// original where it is and the game starts as on a first run.
void CopyIfMissing(const std::string& from, const std::string& to) {
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0 || errno != ENOENT) return;
  if (::stat(from.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > (1 << 20)) return;
  std::ifstream in(from, std::ios::binary);
  if (!in) return;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) return;
  try {
    WriteFileAtomically(to, bytes.str());
  } catch (const std::exception&) {
  }
}

// Writable by its permission bits, and not on a read-only mount. The bits
// count for root too, so an installed tree made read-only is never written.
bool Writable(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || ::access(path.c_str(), W_OK) != 0) return false;
  if (st.st_uid == ::geteuid()) return (st.st_mode & S_IWUSR) != 0;
  bool inGroup = st.st_gid == ::getegid();
  if (!inGroup) {
    gid_t groups[256];
    int n = ::getgroups(256, groups);
    for (int i = 0; i < n && !inGroup; ++i) inGroup = groups[i] == st.st_gid;
  }
  if (inGroup) return (st.st_mode & S_IWGRP) != 0;
  return (st.st_mode & S_IWOTH) != 0;
}

}  // namespace

bool HasGameData(const std::string& dir) { return !dir.empty() && IsDirectory(WithSlash(dir) + "Data"); }

DataLookup FindDataDir(const std::string& exeDir, const std::string& dataDirOption,
                       const std::string& relativeDataDir) {
  DataLookup r;
  if (!dataDirOption.empty()) {
    if (HasGameData(dataDirOption)) {
      r.Dir = WithSlash(dataDirOption);
      std::error_code ec;
      r.Portable = !exeDir.empty() && std::filesystem::equivalent(dataDirOption, exeDir, ec);
    } else
      r.Error = "Quorvane cannot find its data: there is no Data folder in " + WithSlash(dataDirOption) +
                " (given with --data-dir).";
    return r;
  }
  const std::string beside = WithSlash(exeDir);
  const std::string installed = WithSlash(std::filesystem::path(beside + relativeDataDir).lexically_normal().string());
  for (const std::string& dir : {beside, installed}) {
    if (HasGameData(dir)) {
      r.Dir = dir;
      r.Portable = dir == beside;
      return r;
    }
  }
  r.Error = "Quorvane cannot find its data (the Data and Sound folders). It looked in:\n  " + beside + "\n  " +
            installed + "\nName the folder that holds them with --data-dir DIR.";
  return r;
}

DataLookup FindDataDir(const std::string& exeDir, const std::string& dataDirOption) {
  return FindDataDir(exeDir, dataDirOption, QV_RELATIVE_DATA_DIR);
}

std::string UserStateDir() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  // A relative XDG path is to be ignored, as the base directory rules say.
  if (xdg && xdg[0] == '/') return WithSlash(xdg) + "quorvane/";
  std::string home;
  if (const char* h = std::getenv("HOME"); h && h[0] == '/') home = h;
  else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/') home = pw->pw_dir;
  if (home.empty()) return {};
  return WithSlash(home) + ".local/share/quorvane/";
}

std::string ChooseStateDir(const std::string& programDir, const std::string& userStateDir, bool portable) {
  const std::string dir = WithSlash(programDir);
  const std::string config = ConfigFilePath(dir);
  if (userStateDir.empty() || (portable && (Writable(dir) || Writable(config)))) return dir;
  const std::string state = WithSlash(userStateDir);
  // When the folder cannot be made, the saves name it in their error.
  if (!MakeDirectories(state.substr(0, state.size() - 1))) return state;
  CopyIfMissing(config, ConfigFilePath(state));
  CopyIfMissing(SettingsFilePath(dir), SettingsFilePath(state));
  return state;
}
