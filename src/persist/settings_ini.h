#pragma once
// quorvane.ini, beside Config.cfg: the settings Config.cfg's fixed record has
// no room for. Plain "key=value" lines; '#' starts a comment line; blank
// lines, comments, unknown keys and lines that are not "key=value" are all
// kept as they are, so a save never loses what a user wrote.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* SettingsFileName = "quorvane.ini";

class SettingsIni {
public:
  // Parses the text of a file. Keys and values are trimmed of blanks; a key
  // given twice takes its last value. A line without '=' or with an empty key
  // is ignored (and kept).
  static SettingsIni Parse(std::string_view text);
  // The file's text: every line read, in order, with changed values
  // rewritten in place and new keys appended.
  std::string Text() const;

  std::optional<std::string> Get(std::string_view key) const;
  std::string GetOr(std::string_view key, std::string_view fallback) const;
  // Sets a key (rewrites its line, or adds one at the end). A key must be
  // non-empty and contain no '=', '#' or line break; a value no line break.
  // Raises std::invalid_argument otherwise.
  void Set(std::string_view key, std::string_view value);
  // Removes every line of the key; false when it was not there.
  bool Remove(std::string_view key);
  // Every key that has a value, in file order, each once.
  std::vector<std::string> Keys() const;

  // Set by LoadSettingsIni when the file exists but could not be read; a
  // save then refuses, so it cannot replace a file it never saw.
  std::string ReadError;

private:
  struct Line {
    std::string Raw;  // as read, or as last written
    std::string Key;  // empty: comment, blank or bad line
    std::string Value;
  };
  std::vector<Line> lines_;
};

// stateDir + "quorvane.ini" ('/' added when missing).
std::string SettingsFilePath(const std::string& stateDir);

// Reads quorvane.ini; a missing file gives empty settings, an unreadable one
// empty settings with ReadError set. Never throws.
SettingsIni LoadSettingsIni(const std::string& stateDir);

// Writes quorvane.ini atomically (as Config.cfg is saved). Raises EInOutError
// on failure, or when the settings came from a file that could not be read.
void SaveSettingsIni(const SettingsIni& settings, const std::string& stateDir);
