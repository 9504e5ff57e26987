#include "persist/settings_ini.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "base/errors.h"
#include "persist/atomic_file.h"

namespace {

// A settings file is a few lines; anything bigger is not ours.
constexpr size_t MaxSettingsBytes = 1 << 20;

std::string_view Trim(std::string_view s) {
  const char* blanks = " \t\r\f\v";
  size_t b = s.find_first_not_of(blanks);
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(blanks);
  return s.substr(b, e - b + 1);
}

bool ValidKey(std::string_view key) {
  return !key.empty() && Trim(key) == key && key.find_first_of("=#\r\n") == std::string_view::npos;
}

}  // namespace

SettingsIni SettingsIni::Parse(std::string_view text) {
  SettingsIni s;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    std::string_view raw = text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    pos = nl == std::string_view::npos ? text.size() : nl + 1;
    Line line{std::string(raw), {}, {}};
    std::string_view t = Trim(raw);
    size_t eq = t.find('=');
    if (!t.empty() && t[0] != '#' && eq != std::string_view::npos) {
      std::string_view key = Trim(t.substr(0, eq));
      if (!key.empty()) {
        line.Key = key;
        line.Value = Trim(t.substr(eq + 1));
      }
    }
    s.lines_.push_back(std::move(line));
  }
  return s;
}

std::string SettingsIni::Text() const {
  std::string out;
  for (const Line& l : lines_) {
    out += l.Raw;
    out += '\n';
  }
  return out;
}

std::optional<std::string> SettingsIni::Get(std::string_view key) const {
  for (auto it = lines_.rbegin(); it != lines_.rend(); ++it)
    if (!it->Key.empty() && it->Key == key) return it->Value;
  return std::nullopt;
}

std::string SettingsIni::GetOr(std::string_view key, std::string_view fallback) const {
  auto v = Get(key);
  return v ? *v : std::string(fallback);
}

void SettingsIni::Set(std::string_view key, std::string_view value) {
  if (!ValidKey(key)) throw std::invalid_argument("bad settings key: " + std::string(key));
  if (value.find_first_of("\r\n") != std::string_view::npos)
    throw std::invalid_argument("a setting's value is one line: " + std::string(key));
  // The value read back is the trimmed one; store exactly that.
  std::string v(Trim(value));
  std::string raw = std::string(key) + "=" + v;
  for (auto it = lines_.rbegin(); it != lines_.rend(); ++it) {
    if (it->Key == key) {
      it->Raw = raw;
      it->Value = v;
      return;
    }
  }
  lines_.push_back(Line{raw, std::string(key), v});
}

bool SettingsIni::Remove(std::string_view key) {
  size_t before = lines_.size();
  std::erase_if(lines_, [&](const Line& l) { return !l.Key.empty() && l.Key == key; });
  return lines_.size() != before;
}

std::vector<std::string> SettingsIni::Keys() const {
  std::vector<std::string> keys;
  for (const Line& l : lines_) {
    if (l.Key.empty()) continue;
    bool seen = false;
    for (const auto& k : keys) seen = seen || k == l.Key;
    if (!seen) keys.push_back(l.Key);
  }
  return keys;
}

std::string SettingsFilePath(const std::string& stateDir) {
  if (stateDir.empty() || stateDir.back() == '/') return stateDir + SettingsFileName;
  return stateDir + "/" + SettingsFileName;
}

SettingsIni LoadSettingsIni(const std::string& stateDir) {
  const std::string path = SettingsFilePath(stateDir);
  // O_NONBLOCK: a FIFO in place of the file must not stall start-up.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    SettingsIni empty;
    if (errno != ENOENT && errno != ENOTDIR)
      empty.ReadError = Format("Cannot read %s: %s", path.c_str(), std::strerror(errno));
    return empty;
  }
  std::string text;
  std::string error;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = Format("Cannot read %s: not a plain file", path.c_str());
  } else {
    char buf[4096];
    for (;;) {
      ssize_t r = ::read(fd, buf, sizeof buf);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) {
        error = Format("Cannot read %s: %s", path.c_str(), std::strerror(errno));
        break;
      }
      if (r == 0) break;
      text.append(buf, static_cast<size_t>(r));
      if (text.size() > MaxSettingsBytes) {
        error = Format("Cannot read %s: larger than %zu bytes", path.c_str(), MaxSettingsBytes);
        break;
      }
    }
  }
  ::close(fd);
  if (!error.empty()) {
    SettingsIni empty;
    empty.ReadError = error;
    return empty;
  }
  return SettingsIni::Parse(text);
}

void SaveSettingsIni(const SettingsIni& settings, const std::string& stateDir) {
  const std::string path = SettingsFilePath(stateDir);
  if (!settings.ReadError.empty())
    throw EInOutError(Format("Cannot write %s: it could not be read, so it is left as it is", path.c_str()));
  WriteFileAtomically(path, settings.Text());
}
