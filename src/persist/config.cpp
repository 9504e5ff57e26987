#include "persist/config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "base/errors.h"
#include "persist/atomic_file.h"

std::string ShortString15::Str() const {
  return std::string(reinterpret_cast<const char*>(Chars), static_cast<size_t>(SafeLength()));
}

void ShortString15::Assign(std::string_view text, int maxChars) {
  size_t n = text.size();
  if (maxChars < 0) maxChars = 0;
  if (maxChars > Capacity) maxChars = Capacity;
  if (n > static_cast<size_t>(maxChars)) n = static_cast<size_t>(maxChars);
  Length = static_cast<uint8_t>(n);
  std::memcpy(Chars, text.data(), n);
}

namespace {

constexpr const char* DefaultName = "Anonymous";

uint32_t DefaultRowScore(int row) { return static_cast<uint32_t>(11 - row) * 100; }

void ShiftNames(ConfigRecord& config, int direction) {
  for (int i = 1; i <= HighScoreRows; ++i) {
    ShortString15& name = config.HighScores[i - 1].Name;
    const int n = name.SafeLength();
    for (int c = 0; c < n; ++c) name.Chars[c] = static_cast<uint8_t>(name.Chars[c] + direction * i);
  }
}

class Fd {
public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

private:
  int fd_;
};

// Reads the first record; false on any failure (missing, short, not a plain file).
bool ReadRecord(const std::string& path, ConfigRecord& out) {
  // O_NONBLOCK: a FIFO in place of the file must not stall start-up.
  Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) return false;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  ConfigRecord buf;
  auto* p = reinterpret_cast<unsigned char*>(&buf);
  size_t got = 0;
  while (got < sizeof buf) {
    ssize_t r = ::read(fd.get(), p + got, sizeof buf - got);
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  if (got != sizeof buf) return false;
  out = buf;
  return true;
}

}  // namespace

void SetDefaultConfig(ConfigRecord& config) {
  std::memset(&config, 0, sizeof config);
  config.MusicOn = 1;
  config.SoundOn = 1;
  config.WindowMode = 0;
  config.SpareFlag = 1;
  config.StartCount = 0;
  ResetHighScores(config);
}

ConfigRecord DefaultConfigRecord() {
  ConfigRecord config;
  SetDefaultConfig(config);
  return config;
}

std::string ConfigFilePath(const std::string& programDir) {
  if (programDir.empty() || programDir.back() == '/') return programDir + ConfigFileName;
  return programDir + "/" + ConfigFileName;
}

void ScrambleNames(ConfigRecord& config) { ShiftNames(config, +1); }
void UnscrambleNames(ConfigRecord& config) { ShiftNames(config, -1); }

void SortHighScores(ConfigRecord& config) {
  HighScoreRow* rows = config.HighScores;
  for (auto& row : config.HighScores) row.Score = UnmaskScore(row.Score);
  for (int i = 0; i < HighScoreRows - 1; ++i) {
    int best = i;
    for (int j = i + 1; j < HighScoreRows; ++j)
      if (rows[j].Score > rows[best].Score) best = j;
    std::swap(rows[i], rows[best]);
  }
  for (auto& row : config.HighScores) row.Score = MaskScore(row.Score);
}

void InsertHighScore(ConfigRecord& config, uint32_t maskedScore, const std::string& enteredName) {
  HighScoreRow* rows = config.HighScores;  // rows[p - 1] is row p
  const uint32_t score = UnmaskScore(maskedScore);
  int p = HighScoreRows;
  while (p >= 1 && UnmaskScore(rows[p - 1].Score) < score) --p;
  // Rows p+1 .. 9 move down one, from the bottom up; row 10 falls off.
  for (int r = HighScoreRows - 1; r >= p + 1; --r) rows[r] = rows[r - 1];
  const int target = p + 1 > HighScoreRows ? HighScoreRows : p + 1;
  rows[target - 1].Score = maskedScore;
  rows[target - 1].Name.Assign(enteredName, MaxEnteredNameLength);
}

void ResetHighScores(ConfigRecord& config) {
  for (int i = 1; i <= HighScoreRows; ++i) {
    config.HighScores[i - 1].Name.Assign(DefaultName);
    config.HighScores[i - 1].Score = MaskScore(DefaultRowScore(i));
  }
}

std::string HighScoreName(const HighScoreRow& row) { return row.Name.Str(); }

void SaveConfig(const ConfigRecord& config, const std::string& programDir) {
  // Scramble a copy so the names in memory stay as they are whatever fails.
  ConfigRecord stored = config;
  ScrambleNames(stored);
  // A crash or a full disk mid-save leaves the previous Config.cfg whole.
  WriteFileAtomically(ConfigFilePath(programDir),
                      std::string_view(reinterpret_cast<const char*>(&stored), sizeof stored));
}

void LoadConfig(ConfigRecord& config, const std::string& programDir) {
  bool saveFailed = false;
  std::string saveError;
  if (ReadRecord(ConfigFilePath(programDir), config)) {
    UnscrambleNames(config);
  } else {
    SetDefaultConfig(config);
    try {
      SaveConfig(config, programDir);
    } catch (const EInOutError& e) {
      saveFailed = true;
      saveError = e.what();
    }
  }
  config.StartCount += 1;
  SortHighScores(config);
  if (saveFailed) throw EInOutError(saveError);
}
