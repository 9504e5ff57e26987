#include "persist/config.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <thread>

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

// A Config.cfg larger than this is not read whole; it is kept by renaming.
constexpr size_t MaxReadSize = 1u << 20;

struct FileRead {
  enum Kind { Missing, NotRegular, Unreadable, Read } Result = Missing;
  std::string Bytes;
  bool TooLarge = false;  // more than MaxReadSize: Bytes holds the start only
  int Error = 0;
};

FileRead ReadConfigFile(const std::string& path) {
  FileRead out;
  // O_NONBLOCK: a FIFO in place of the file must not stall start-up.
  Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) {
    out.Error = errno;
    out.Result = errno == ENOENT || errno == ENOTDIR ? FileRead::Missing : FileRead::Unreadable;
    return out;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    out.Result = FileRead::NotRegular;
    return out;
  }
  char buf[4096];
  for (;;) {
    const ssize_t r = ::read(fd.get(), buf, sizeof buf);
    if (r < 0) {
      if (errno == EINTR) continue;
      out.Error = errno;
      out.Result = FileRead::Unreadable;
      return out;
    }
    if (r == 0) break;
    out.Bytes.append(buf, static_cast<size_t>(r));
    if (out.Bytes.size() > MaxReadSize) {
      out.TooLarge = true;
      break;
    }
  }
  out.Result = FileRead::Read;
  return out;
}

// Holds an exclusive flock on Config.cfg.lock beside the file for the life of
// the object, so two copies of the game never interleave a read and a write.
// Without a lock (a folder that refuses new files, a copy stuck holding it
// for seconds) the work goes on unlocked rather than not at all.
class ConfigLock {
public:
  explicit ConfigLock(const std::string& programDir) {
    const std::string path = ConfigFilePath(programDir) + ".lock";
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return;
    for (int attempt = 0; attempt < 200; ++attempt) {
      if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
      if (errno != EWOULDBLOCK && errno != EINTR) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::close(fd_);
    fd_ = -1;
  }
  ~ConfigLock() {
    if (fd_ >= 0) ::close(fd_);  // closing drops the lock
  }
  ConfigLock(const ConfigLock&) = delete;
  ConfigLock& operator=(const ConfigLock&) = delete;

private:
  int fd_ = -1;
};

// Characters a name can hold: whatever the game lets a player type is a
// printable character; control codes come only from damage.
bool PrintableText(const uint8_t* chars, int n) {
  for (int i = 0; i < n; ++i)
    if (chars[i] < 0x20 || chars[i] == 0x7F) return false;
  return true;
}

bool ValidEnteredText(const ShortString15& s) {
  return s.Length <= MaxEnteredNameLength && PrintableText(s.Chars, s.Length);
}

// Rows compare by what the table shows: score and name.
bool SameRow(const HighScoreRow& a, const HighScoreRow& b) {
  return UnmaskScore(a.Score) == UnmaskScore(b.Score) && HighScoreName(a) == HighScoreName(b);
}

// Rows of `from` that are not in `minus`, each row of `minus` cancelling one.
std::vector<HighScoreRow> Without(std::vector<HighScoreRow> from, const std::vector<HighScoreRow>& minus) {
  for (const HighScoreRow& m : minus) {
    auto it = std::find_if(from.begin(), from.end(), [&](const HighScoreRow& r) { return SameRow(r, m); });
    if (it != from.end()) from.erase(it);
  }
  return from;
}

std::vector<HighScoreRow> RowsOf(const HighScoreRow (&rows)[10]) {
  return std::vector<HighScoreRow>(rows, rows + HighScoreRows);
}

// Keeps the bytes of a damaged Config.cfg as Config.cfg.damaged, replacing an
// older one. An unreadable or oversized file is renamed instead of copied.
void KeepDamagedCopy(const std::string& path, const FileRead& read, ConfigDamage& damage) {
  const std::string copy = path + ".damaged";
  if (read.Result == FileRead::Read && !read.TooLarge) {
    try {
      WriteFileAtomically(copy, read.Bytes);
      damage.CopyPath = copy;
    } catch (const EInOutError& e) {
      damage.CopyError = e.what();
    }
    return;
  }
  if (::rename(path.c_str(), copy.c_str()) == 0) damage.CopyPath = copy;
  else damage.CopyError = Format("Cannot rename %s: %s", path.c_str(), std::strerror(errno));
}

// What a Config.cfg on disk holds, damaged parts replaced; `found` is false
// when there is no file to read.
ConfigRecord ReadForMerge(const std::string& path, bool& found) {
  FileRead read = ReadConfigFile(path);
  found = read.Result == FileRead::Read;
  if (!found) return DefaultConfigRecord();
  ConfigDamage damage;
  ConfigRecord disk = ParseConfigBytes(read.Bytes, &damage);
  // Damaged under our feet: its bytes are kept as at start-up, no message.
  if (damage.Found) KeepDamagedCopy(path, read, damage);
  SortHighScores(disk);
  return disk;
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

std::string ConfigDamage::Message() const {
  // Short lines: a message box does not wrap them.
  std::string m = "Config.cfg is damaged (" + What + ").\n";
  m += RowsKept == HighScoreRows ? std::string("Every row of the high-score table was kept.\n")
                                 : Format("%d of the 10 high scores could be read and were kept.\n", RowsKept);
  if (!CopyPath.empty()) m += "The damaged file is kept as\n" + CopyPath;
  else m += "The damaged file could not be kept and is replaced at the next save:\n" + CopyError;
  return m;
}

// What is kept of each field, and what counts as damage:
// - the size: anything but 232 bytes is damage; a shorter file keeps the
//   fields that are whole in it, a longer one is read for its first 232;
// - MusicOn, SoundOn, WindowMode: every value means something (0 or not);
//   SpareFlag and the padding are carried as they are;
// - AddText: at most 12 printable characters, as typed; otherwise empty;
// - a row: a name of at most 12 printable characters (unscrambled) and a
//   score from 0 to MaxTableScore; otherwise the default row of its place
//   (the bytes after a name's length are never judged: they are unused);
// - StartCount: any value (missing: 0).
ConfigRecord ParseConfigBytes(std::string_view bytes, ConfigDamage* damage) {
  ConfigRecord c = DefaultConfigRecord();
  ConfigDamage d;
  std::vector<std::string> problems;
  if (bytes.size() != sizeof c) problems.push_back(Format("%zu bytes instead of %zu", bytes.size(), sizeof c));
  ConfigRecord raw;
  std::memset(&raw, 0, sizeof raw);
  const size_t n = std::min(bytes.size(), sizeof raw);
  std::memcpy(&raw, bytes.data(), n);
  auto whole = [&](size_t offset, size_t size) { return offset + size <= n; };

  if (whole(offsetof(ConfigRecord, MusicOn), 1)) c.MusicOn = raw.MusicOn;
  if (whole(offsetof(ConfigRecord, SoundOn), 1)) c.SoundOn = raw.SoundOn;
  if (whole(offsetof(ConfigRecord, WindowMode), 1)) c.WindowMode = raw.WindowMode;
  if (whole(offsetof(ConfigRecord, SpareFlag), 1)) c.SpareFlag = raw.SpareFlag;
  if (whole(offsetof(ConfigRecord, AddText), sizeof raw.AddText)) {
    if (ValidEnteredText(raw.AddText)) c.AddText = raw.AddText;
    else problems.push_back("the text sent with scores");
  }
  UnscrambleNames(raw);
  int badRows = 0;
  for (int i = 0; i < HighScoreRows; ++i) {
    if (!whole(offsetof(ConfigRecord, HighScores) + sizeof(HighScoreRow) * i, sizeof(HighScoreRow))) continue;
    const HighScoreRow& row = raw.HighScores[i];
    if (ValidEnteredText(row.Name) && UnmaskScore(row.Score) <= MaxTableScore) {
      c.HighScores[i] = row;
      d.RowsKept++;
    } else {
      badRows++;
    }
  }
  if (badRows == 1) problems.push_back("1 row of impossible values");
  else if (badRows > 1) problems.push_back(Format("%d rows of impossible values", badRows));
  for (size_t k = 0; k < sizeof raw.Padding; ++k)
    if (whole(offsetof(ConfigRecord, Padding) + k, 1)) c.Padding[k] = raw.Padding[k];
  c.StartCount = whole(offsetof(ConfigRecord, StartCount), sizeof raw.StartCount) ? raw.StartCount : 0;

  d.Found = !problems.empty();
  for (size_t k = 0; k < problems.size(); ++k) d.What += (k ? ", " : "") + problems[k];
  if (damage) *damage = d;
  return c;
}

TableMerge MergeHighScores(const HighScoreRow (&synced)[10], bool cleared, const HighScoreRow (&mine)[10],
                           const HighScoreRow (&disk)[10]) {
  const ConfigRecord defaults = DefaultConfigRecord();
  ConfigRecord table = defaults;
  std::vector<HighScoreRow> entries;
  if (cleared) {
    // Rows another copy entered after this one last read the file; the
    // default rows are never anyone's record.
    entries = Without(Without(RowsOf(disk), RowsOf(synced)), RowsOf(defaults.HighScores));
  } else {
    std::copy(disk, disk + HighScoreRows, table.HighScores);
  }
  SortHighScores(table);
  std::vector<HighScoreRow> pool = RowsOf(table.HighScores);
  const std::vector<HighScoreRow> own = Without(RowsOf(mine), RowsOf(cleared ? defaults.HighScores : synced));
  entries.insert(entries.end(), own.begin(), own.end());
  for (const HighScoreRow& e : entries) {
    pool.push_back(e);
    // Only a score above the last row enters, as at the end of a game.
    if (UnmaskScore(e.Score) > UnmaskScore(table.HighScores[HighScoreRows - 1].Score))
      InsertHighScore(table, e.Score, HighScoreName(e));
  }
  TableMerge m;
  std::copy(table.HighScores, table.HighScores + HighScoreRows, m.Rows);
  m.Beaten = Without(pool, RowsOf(m.Rows));
  return m;
}

void LoadConfig(ConfigRecord& config, const std::string& programDir, ConfigSync* sync, ConfigDamage* damage) {
  ConfigLock lock(programDir);
  const std::string path = ConfigFilePath(programDir);
  ConfigDamage found;
  const FileRead read = ReadConfigFile(path);
  if (read.Result == FileRead::Read) {
    config = ParseConfigBytes(read.Bytes, &found);
  } else {
    SetDefaultConfig(config);
    if (read.Result == FileRead::Unreadable) {
      found.Found = true;
      found.What = Format("it cannot be read: %s", std::strerror(read.Error));
    }
  }
  if (found.Found) KeepDamagedCopy(path, read, found);
  // A missing, unusable or damaged file is replaced at once; a damaged one
  // only once its copy is safe, so no byte of it is lost.
  const bool write = found.Found ? !found.CopyPath.empty() : read.Result != FileRead::Read;
  if (damage) *damage = found;
  bool saveFailed = false;
  std::string saveError;
  if (write) {
    try {
      SaveConfig(config, programDir);
    } catch (const EInOutError& e) {
      saveFailed = true;
      saveError = e.what();
    }
  }
  if (sync) {
    std::copy(config.HighScores, config.HighScores + HighScoreRows, sync->Rows);
    sync->StartCount = config.StartCount;
    sync->Cleared = false;
  }
  config.StartCount += 1;
  SortHighScores(config);
  if (saveFailed) throw EInOutError(saveError);
}

TableMerge SaveConfigMerged(const ConfigRecord& config, const std::string& programDir, ConfigSync& sync,
                            uint64_t* writtenStartCount) {
  ConfigLock lock(programDir);
  bool found = false;
  const ConfigRecord disk = ReadForMerge(ConfigFilePath(programDir), found);
  // A file that went away meanwhile holds nothing new: what this copy knew.
  HighScoreRow base[HighScoreRows];
  std::copy_n(found ? disk.HighScores : sync.Rows, HighScoreRows, base);
  TableMerge merge = MergeHighScores(sync.Rows, sync.Cleared, config.HighScores, base);
  ConfigRecord out = config;
  std::copy(merge.Rows, merge.Rows + HighScoreRows, out.HighScores);
  // Starts counted here since the last read or write, added to the file's.
  out.StartCount = (found ? disk.StartCount : sync.StartCount) + (config.StartCount - sync.StartCount);
  SaveConfig(out, programDir);
  std::copy(merge.Rows, merge.Rows + HighScoreRows, sync.Rows);
  sync.StartCount = out.StartCount;
  sync.Cleared = false;
  if (writtenStartCount) *writtenStartCount = out.StartCount;
  return merge;
}
