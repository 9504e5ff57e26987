#include "app/screenshot.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "base/errors.h"
#include "media/png.h"
#include "persist/atomic_file.h"

namespace {
bool NameChar(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'; }

// $HOME or ${HOME} at s[i] (s[i] == '$'): appends the home folder and moves
// past it. Any other variable is beyond what we expand: false.
bool ExpandHome(std::string_view s, size_t& i, const std::string& home, std::string& out) {
  if (home.empty()) return false;  // "$HOME/x" must not become "/x"
  const std::string_view rest = s.substr(i + 1);
  if (rest.substr(0, 6) == "{HOME}") {
    i += 7;
  } else if (rest.substr(0, 4) == "HOME" && (rest.size() == 4 || !NameChar(rest[4]))) {
    i += 5;
  } else {
    return false;
  }
  out += home;
  return true;
}

// The shell word at the start of s (the right side of an assignment), or
// nothing when it is unterminated or uses what we do not expand.
std::optional<std::string> ShellWord(std::string_view s, const std::string& home) {
  std::string out;
  size_t i = 0;
  if (!s.empty() && s[0] == '~' && (s.size() == 1 || s[1] == '/')) {
    if (home.empty()) return std::nullopt;
    out = home;
    i = 1;
  }
  while (i < s.size()) {
    const char c = s[i];
    if (c == ' ' || c == '\t' || c == ';' || c == '\r') break;
    if (c == '\'') {
      const size_t end = s.find('\'', i + 1);
      if (end == std::string_view::npos) return std::nullopt;
      out += s.substr(i + 1, end - i - 1);
      i = end + 1;
    } else if (c == '"') {
      i++;
      for (;;) {
        if (i >= s.size()) return std::nullopt;
        const char d = s[i];
        if (d == '"') break;
        if (d == '\\' && i + 1 < s.size() &&
            (s[i + 1] == '$' || s[i + 1] == '`' || s[i + 1] == '"' || s[i + 1] == '\\')) {
          out += s[i + 1];
          i += 2;
        } else if (d == '$') {
          if (!ExpandHome(s, i, home, out)) return std::nullopt;
        } else if (d == '`') {
          return std::nullopt;
        } else {
          out += d;
          i++;
        }
      }
      i++;
    } else if (c == '\\') {
      if (i + 1 >= s.size()) return std::nullopt;
      out += s[i + 1];
      i += 2;
    } else if (c == '$') {
      if (!ExpandHome(s, i, home, out)) return std::nullopt;
    } else if (c == '`' || c == '|' || c == '&' || c == '<' || c == '>' || c == '(' || c == ')') {
      return std::nullopt;
    } else {
      out += c;
      i++;
    }
  }
  return out;
}

std::string HomeDir(const EnvLookup& env) {
  if (const char* h = env("HOME"); h && h[0] == '/') return h;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/') return pw->pw_dir;
  return {};
}

}  // namespace

std::string UserDirFromText(std::string_view text, std::string_view name, const std::string& home) {
  const std::string key = "XDG_" + std::string(name) + "_DIR=";
  std::string found;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    while (!line.empty() && (line[0] == ' ' || line[0] == '\t')) line.remove_prefix(1);
    if (line.substr(0, 7) == "export ") {
      line.remove_prefix(7);
      while (!line.empty() && line[0] == ' ') line.remove_prefix(1);
    }
    if (line.substr(0, key.size()) != key) continue;
    const std::optional<std::string> value = ShellWord(line.substr(key.size()), home);
    if (!value) continue;  // the shell would stop or run something here; we take nothing
    // Sourcing runs every line: the last assignment is the one that counts.
    found = *value;
  }
  if (found.empty() || found[0] != '/') return {};
  return found;
}

std::string PicturesDir(const EnvLookup& env) {
  if (const char* v = env("XDG_PICTURES_DIR"); v && *v) return v;
  const std::string home = HomeDir(env);
  std::string config;
  if (const char* c = env("XDG_CONFIG_HOME"); c && c[0] == '/') config = c;
  else if (!home.empty()) config = home + "/.config";
  else return {};
  std::ifstream in(config + "/user-dirs.dirs", std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return UserDirFromText(text.str(), "PICTURES", home);
}

std::string ScreenshotFolder(const char* picturesDir, const std::string& stateDir) {
  if (picturesDir && *picturesDir) {
    std::string dir = picturesDir;
    if (dir.back() != '/') dir += '/';
    return dir + "Quorvane/";
  }
  return stateDir;
}

std::string ScreenshotName(const std::tm& t, int number) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "quorvane-%04d-%02d-%02d-%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                t.tm_hour, t.tm_min, t.tm_sec);
  std::string name = stamp;
  if (number > 1) name += "-" + std::to_string(number);
  return name + ".png";
}

std::string SaveScreenshot(const std::string& folder, const std::tm& t, const uint32_t* pixels, int width, int height,
                           const FileWriter& write) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder, ec))
    throw std::runtime_error("cannot create " + folder + (ec ? ": " + ec.message() : std::string()));
  std::string path;
  for (int n = 1;; n++) {
    path = folder + ScreenshotName(t, n);
    if (!fs::exists(path, ec)) break;
    if (n >= 1000) throw std::runtime_error("too many screenshots in one second");
  }
  const std::vector<uint8_t> png = EncodePng(pixels, width, height);
  const std::string_view bytes(reinterpret_cast<const char*>(png.data()), png.size());
  try {
    if (write) write(path, bytes);
    else WriteFileAtomically(path, bytes);
  } catch (const std::exception& e) {
    // The writer names the file; the player needs only the reason.
    std::string reason = e.what();
    const std::string prefix = "Cannot write " + path + ": ";
    if (reason.rfind(prefix, 0) == 0) reason.erase(0, prefix.size());
    // The name was free before: whatever a failed writer left there is ours.
    std::error_code ignored;
    fs::remove(path, ignored);
    throw std::runtime_error(reason);
  }
  return path;
}
