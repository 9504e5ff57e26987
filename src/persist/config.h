#pragma once
// The settings and high-score record kept in Config.cfg: one 232-byte record,
// little-endian, stored exactly as it lies in memory (names shifted per row).
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

static_assert(std::endian::native == std::endian::little,
              "Config.cfg is written straight from memory and is little-endian");

// A short string of capacity 15: a length byte and 15 character bytes.
// Bytes after the length are kept as they are; assigning never clears them.
struct ShortString15 {
  static constexpr int Capacity = 15;
  uint8_t Length;
  uint8_t Chars[Capacity];

  // The length a damaged file may hold (up to 255) clamped to the field.
  int SafeLength() const { return Length > Capacity ? Capacity : Length; }
  // The characters as stored (at most 15).
  std::string Str() const;
  // Length := min(|text|, maxChars, 15); copies that many characters only.
  void Assign(std::string_view text, int maxChars = Capacity);
};

struct HighScoreRow {
  ShortString15 Name;
  uint32_t Score;  // always held masked
};

struct ConfigRecord {
  uint8_t MusicOn;
  uint8_t SoundOn;
  uint8_t WindowMode;  // 0 = full screen
  uint8_t SpareFlag;
  ShortString15 AddText;
  HighScoreRow HighScores[10];  // row 1 (best) is HighScores[0]
  uint8_t Padding[4];
  uint64_t StartCount;
};

// The layout is the file format: no member may move and no padding may creep in.
static_assert(std::is_standard_layout_v<ConfigRecord> && std::is_trivially_copyable_v<ConfigRecord>);
static_assert(std::has_unique_object_representations_v<ConfigRecord>, "no padding bytes");
static_assert(sizeof(ShortString15) == 16);
static_assert(sizeof(HighScoreRow) == 20);
static_assert(offsetof(HighScoreRow, Name) == 0);
static_assert(offsetof(HighScoreRow, Score) == 16);
static_assert(sizeof(ConfigRecord) == 232);
static_assert(offsetof(ConfigRecord, MusicOn) == 0);
static_assert(offsetof(ConfigRecord, SoundOn) == 1);
static_assert(offsetof(ConfigRecord, WindowMode) == 2);
static_assert(offsetof(ConfigRecord, SpareFlag) == 3);
static_assert(offsetof(ConfigRecord, AddText) == 4);
static_assert(offsetof(ConfigRecord, HighScores) == 20);
static_assert(offsetof(ConfigRecord, Padding) == 220);
static_assert(offsetof(ConfigRecord, StartCount) == 224);

constexpr int HighScoreRows = 10;
constexpr uint32_t ScoreMask = 31517;
constexpr int MaxEnteredNameLength = 12;
inline constexpr const char* ConfigFileName = "Config.cfg";

constexpr uint32_t MaskScore(uint32_t score) { return score ^ ScoreMask; }
constexpr uint32_t UnmaskScore(uint32_t masked) { return masked ^ ScoreMask; }

// The highest score a table row may hold. A game earns at most a few hundred
// points a minute (an imp is worth 10 to 20, a bonus at most 50, each level
// opens with a two-second intro), so ten million points would take weeks of
// one unbroken game, longer than the day a recorded game may last. A row
// above it comes from damage, never from play; this catches random bytes
// (which almost always give a score in the hundreds of millions or a
// "negative" one above 2^31) without ever refusing a played record.
constexpr uint32_t MaxTableScore = 9'999'999;

// What LoadConfig found wrong with Config.cfg, for the one message the player
// gets at start-up.
struct ConfigDamage {
  bool Found = false;
  std::string What;      // what was wrong with it
  int RowsKept = 0;      // rows of the table that were readable and kept
  std::string CopyPath;  // where the damaged file was kept; empty if it could not be
  std::string CopyError;
  std::string Message() const;
};

// Reads the bytes of a Config.cfg: every readable field is kept, every
// damaged one falls back to its default (a damaged row becomes the default
// row of its place). `damage` (when given) says what was wrong. The names of
// the result are unscrambled; the table is not sorted.
ConfigRecord ParseConfigBytes(std::string_view bytes, ConfigDamage* damage);

// What this copy of the game last knew of the file, so that a save can tell
// its own new records from those another copy wrote meanwhile.
struct ConfigSync {
  HighScoreRow Rows[10]{};  // the table as the file held it when last read or written
  uint64_t StartCount = 0;  // StartCount as the file held it then
  bool Cleared = false;     // the player cleared the table since
};

struct TableMerge {
  HighScoreRow Rows[10]{};
  // Rows that were in the file or entered here and lost their place to
  // better ones; their kept replays may go.
  std::vector<HighScoreRow> Beaten;
};

// The table to write: the file's table `disk` with this copy's new records
// (rows of `mine` not in `synced`) entered. When this copy cleared the table,
// the default table takes the place of what it knew and only the rows another
// copy entered since (rows of `disk` not in `synced`) are kept from the file.
TableMerge MergeHighScores(const HighScoreRow (&synced)[10], bool cleared, const HighScoreRow (&mine)[10],
                           const HighScoreRow (&disk)[10]);

// The record a first start (or an unreadable file) begins with.
ConfigRecord DefaultConfigRecord();
void SetDefaultConfig(ConfigRecord& config);

// programDir + "Config.cfg" (a '/' is put between when programDir lacks one).
std::string ConfigFilePath(const std::string& programDir);

// Reads Config.cfg; any read failure gives the default record, which is
// written at once. Then StartCount += 1 and the table is sorted. When the
// default file cannot be written the record is still completed before the
// EInOutError is raised, so the caller may report it and go on.
// A damaged file (wrong size, impossible values, unreadable) is kept as
// Config.cfg.damaged (the last one only), its readable rows are kept and the
// repaired record is written at once; `damage` says what happened. `sync`
// (when given) remembers the file's table for SaveConfigMerged.
void LoadConfig(ConfigRecord& config, const std::string& programDir, ConfigSync* sync = nullptr,
                ConfigDamage* damage = nullptr);

// Saves `config` for a game that may run more than once at a time: under a
// lock on Config.cfg.lock the file is read again and the table written is
// MergeHighScores of it, so no record entered by any copy is lost. The
// settings, `AddText` and the padding are this copy's (the player's last
// choice); StartCount adds this copy's starts to the file's. Raises
// EInOutError when the write fails (nothing in `sync` changes then). Returns
// the table written and its StartCount in `written`.
TableMerge SaveConfigMerged(const ConfigRecord& config, const std::string& programDir, ConfigSync& sync,
                            uint64_t* writtenStartCount = nullptr);

// Writes the whole record with scrambled names through a temporary file and a
// rename, so Config.cfg is either the old or the new record, never a torn one.
// Raises EInOutError on failure. The names in memory are never touched.
void SaveConfig(const ConfigRecord& config, const std::string& programDir);

// Row i (1-based) gets every one of its first Length characters shifted by +i.
void ScrambleNames(ConfigRecord& config);
void UnscrambleNames(ConfigRecord& config);

// Selection sort with exchange of whole rows, descending by unmasked score
// (not stable, as the start-up sort has always been).
void SortHighScores(ConfigRecord& config);

// Enters a masked score below every row with an equal or greater score;
// the name is cut to 12 characters.
void InsertHighScore(ConfigRecord& config, uint32_t maskedScore, const std::string& enteredName);

// Ten "Anonymous" rows 1000 down to 100; settings untouched.
void ResetHighScores(ConfigRecord& config);

// The name of a row as the screens show it (never more than 15 characters).
std::string HighScoreName(const HighScoreRow& row);
