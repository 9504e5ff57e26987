#include "app/replay.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "app/form.h"
#include "base/byte_order.h"
#include "base/names.h"
#include "media/surface.h"
#include "persist/atomic_file.h"
#include "platform/headless_host.h"
#include "world/player.h"

namespace {
constexpr char Magic[8] = {'Q', 'V', 'R', 'E', 'P', 'L', 'A', 'Y'};
constexpr uint32_t TickMs = 20;

// Stream record codes (docs/replay-format.md).
enum : uint8_t {
  OpRun = 0x01,             // varint n: n idle steps of +20 ms
  OpStep = 0x10,            // 0x10 + step kind, varint dt, arguments
  OpKeys = 0x30,            // varint count, count x (scan code, value)
  OpJoystick = 0x31,        // the whole reading
  OpPointer = 0x32,         // zigzag x, zigzag y
  OpFocus = 0x33,           // 0 or 1
  OpKeyFlip = 0x34,         // scan code: that one key went down (0x80) or up (0)
  OpPointerAtEvent = 0x35,  // the pointer is where the last mouse event said
  OpCheck = 0x40,           // varint tick, 8-byte digest
  OpShortRun = 0x80,        // 0x80 + n - 1: n (1 .. 128) idle steps of +20 ms
};
constexpr uint8_t StepKinds = static_cast<uint8_t>(ReplayStep::StartGame) + 1;

// Built by the compiler: nothing to fill, and nothing two threads could race
// on, when the portal's workers check replays.
constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t c = i;
    for (int k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}
constexpr std::array<uint32_t, 256> CrcTable = MakeCrcTable();

constexpr uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; i++) c = CrcTable[(c ^ p[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}
// The standard check value of CRC-32.
constexpr uint8_t CrcCheckInput[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
static_assert(Crc32(CrcCheckInput, sizeof CrcCheckInput) == 0xCBF43926u);

// --- writing ----------------------------------------------------------------
void PutU8(std::vector<uint8_t>& o, uint8_t v) { o.push_back(v); }
void PutU16(std::vector<uint8_t>& o, uint16_t v) { AppendLE16(o, v); }
void PutU32(std::vector<uint8_t>& o, uint32_t v) { AppendLE32(o, v); }
void PutU64(std::vector<uint8_t>& o, uint64_t v) { AppendLE64(o, v); }
void PutVar(std::vector<uint8_t>& o, uint64_t v) {
  while (v >= 0x80) {
    o.push_back(static_cast<uint8_t>(v | 0x80));
    v >>= 7;
  }
  o.push_back(static_cast<uint8_t>(v));
}
void PutZig(std::vector<uint8_t>& o, int32_t v) {
  PutVar(o, (static_cast<uint32_t>(v) << 1) ^ static_cast<uint32_t>(v >> 31));
}
void PutBytes(std::vector<uint8_t>& o, const uint8_t* p, size_t n) { o.insert(o.end(), p, p + n); }
void PutStr(std::vector<uint8_t>& o, const std::string& s) {
  const size_t n = std::min<size_t>(s.size(), 64);
  o.push_back(static_cast<uint8_t>(n));
  PutBytes(o, reinterpret_cast<const uint8_t*>(s.data()), n);
}

// --- reading ----------------------------------------------------------------
class Reader {
public:
  Reader(const uint8_t* p, size_t n, const char* part) : p_(p), n_(n), part_(part) {}
  size_t Pos() const { return pos_; }
  bool AtEnd() const { return pos_ >= n_; }
  void Need(size_t k) {
    if (n_ - pos_ < k) throw ReplayError(std::string("damaged replay: the ") + part_ + " ends too early");
  }
  uint8_t U8() {
    Need(1);
    return p_[pos_++];
  }
  uint8_t Flag() {
    uint8_t v = U8();
    if (v > 1) Bad("a flag is neither 0 nor 1");
    return v;
  }
  uint16_t U16() { return Fixed(&LoadLE16); }
  uint32_t U32() { return Fixed(&LoadLE32); }
  uint64_t U64() { return Fixed(&LoadLE64); }
  uint64_t Var(uint64_t max) {
    uint64_t v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      uint8_t b = U8();
      v |= static_cast<uint64_t>(b & 0x7F) << shift;
      if (!(b & 0x80)) {
        if (v > max) Bad("a number is out of range");
        return v;
      }
    }
    Bad("a number is too long");
  }
  int32_t Zig() {
    uint32_t u = static_cast<uint32_t>(Var(UINT32_MAX));
    return static_cast<int32_t>((u >> 1) ^ (0u - (u & 1)));
  }
  void Bytes(uint8_t* out, size_t k) {
    Need(k);
    std::memcpy(out, p_ + pos_, k);
    pos_ += k;
  }
  std::string Str() {
    uint8_t k = U8();
    if (k > 64) Bad("a text is longer than 64 bytes");
    Need(k);
    std::string s(reinterpret_cast<const char*>(p_ + pos_), k);
    pos_ += k;
    return s;
  }
  [[noreturn]] void Bad(const std::string& why) {
    throw ReplayError("damaged replay: " + why + " (" + part_ + ", byte " + std::to_string(pos_) + ")");
  }

private:
  template <typename T>
  T Fixed(T (*load)(const uint8_t*)) {
    Need(sizeof(T));
    const T v = load(p_ + pos_);
    pos_ += sizeof(T);
    return v;
  }
  const uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;
  const char* part_;
};

// One decoded stream record.
struct Record {
  uint8_t Op = 0;
  TReplayStepInfo Step;
  uint32_t Dt = 0;
  uint64_t Count = 0;  // run length, check tick
  uint64_t Digest = 0;
  uint8_t KeyCount = 0;
  uint8_t Keys[256][2] = {};
  TJoystickReading Joy;
  int32_t X = 0, Y = 0;
  uint8_t Flag = 0;
};

void DecodeRecord(Reader& r, Record& rec) {
  rec.Op = r.U8();
  if (rec.Op >= OpShortRun) {
    rec.Count = rec.Op - OpShortRun + 1u;
    rec.Op = OpRun;
  } else if (rec.Op == OpRun) {
    rec.Count = r.Var(ReplayMaxTicks);
    if (rec.Count == 0) r.Bad("an empty run");
  } else if (rec.Op >= OpStep && rec.Op < OpStep + StepKinds) {
    TReplayStepInfo& s = rec.Step;
    s = TReplayStepInfo{};
    s.Kind = static_cast<ReplayStep>(rec.Op - OpStep);
    rec.Dt = static_cast<uint32_t>(r.Var(UINT32_MAX));
    switch (s.Kind) {
      case ReplayStep::KeyDown: s.A = static_cast<uint32_t>(r.Var(0xFFFF)); break;
      case ReplayStep::KeyUp:
        s.A = static_cast<uint32_t>(r.Var(0xFFFF));
        s.X = r.Flag();
        break;
      case ReplayStep::MouseMove:
        s.X = r.Zig();
        s.Y = r.Zig();
        break;
      case ReplayStep::MouseDown:
      case ReplayStep::MouseUp:
        s.A = r.U8();
        if (s.A > 2) r.Bad("an unknown mouse button");
        s.X = r.Zig();
        s.Y = r.Zig();
        break;
      case ReplayStep::Activate: s.A = r.Flag(); break;
      case ReplayStep::SysCommand:
        s.A = r.U8();
        if (s.A > 3) r.Bad("an unknown window command");
        break;
      default: break;
    }
  } else if (rec.Op == OpKeys) {
    uint64_t n = r.Var(256);
    if (n == 0) r.Bad("an empty key change");
    rec.KeyCount = static_cast<uint8_t>(n - 1);
    for (uint64_t i = 0; i < n; i++) {
      rec.Keys[i][0] = r.U8();
      rec.Keys[i][1] = r.U8();
    }
  } else if (rec.Op == OpJoystick) {
    TJoystickReading& j = rec.Joy;
    j.Present = r.Flag();
    uint32_t* fields[] = {&j.X, &j.Y, &j.Z, &j.XMin, &j.XMax, &j.YMin, &j.YMax, &j.ZMin, &j.ZMax, &j.Buttons};
    for (uint32_t* f : fields) *f = static_cast<uint32_t>(r.Var(UINT32_MAX));
    j.ButtonCount = static_cast<int>(r.Var(32));
  } else if (rec.Op == OpPointer) {
    rec.X = r.Zig();
    rec.Y = r.Zig();
  } else if (rec.Op == OpFocus) {
    rec.Flag = r.Flag();
  } else if (rec.Op == OpKeyFlip) {
    rec.Flag = r.U8();
  } else if (rec.Op == OpPointerAtEvent) {
  } else if (rec.Op == OpCheck) {
    rec.Count = r.Var(ReplayMaxTicks);
    rec.Digest = r.U64();
  } else {
    r.Bad("an unknown record " + std::to_string(rec.Op));
  }
}

void PutJoystick(std::vector<uint8_t>& o, const TJoystickReading& j) {
  PutU8(o, j.Present ? 1 : 0);
  for (uint32_t v : {j.X, j.Y, j.Z, j.XMin, j.XMax, j.YMin, j.YMax, j.ZMin, j.ZMax, j.Buttons}) PutVar(o, v);
  PutVar(o, static_cast<uint32_t>(std::clamp(j.ButtonCount, 0, 32)));
}

bool SameJoystick(const TJoystickReading& a, const TJoystickReading& b) {
  return a.Present == b.Present && a.X == b.X && a.Y == b.Y && a.Z == b.Z && a.XMin == b.XMin && a.XMax == b.XMax &&
         a.YMin == b.YMin && a.YMax == b.YMax && a.ZMin == b.ZMin && a.ZMax == b.ZMax && a.Buttons == b.Buttons &&
         std::clamp(a.ButtonCount, 0, 32) == std::clamp(b.ButtonCount, 0, 32);
}

void PutHeader(std::vector<uint8_t>& o, const TReplayHeader& h) {
  PutStr(o, h.ProgramVersion);
  PutU64(o, h.DataDigest);
  PutU32(o, h.StartClock);
  PutU64(o, h.RngState);
  PutU8(o, h.FrameCounter);
  PutU8(o, h.MusicOn);
  PutU8(o, h.SoundOn);
  PutU8(o, h.WindowMode);
  PutBytes(o, h.AddText, 16);
  for (int i = 0; i < 10; i++) {
    PutBytes(o, h.TableNames[i], 16);
    PutU32(o, h.TableScores[i]);
  }
  for (int i = 0; i < 3; i++) {
    PutU8(o, h.TimerEnabled[i]);
    PutU32(o, h.TimerStart[i]);
  }
  const TDXTimer::TState& t = h.FrameTimer;
  PutU8(o, t.Initialized);
  PutU8(o, t.Suspended);
  PutU32(o, t.OldTime);
  PutU32(o, t.OldTime2);
  PutU32(o, t.FrameCount);
  PutU32(o, static_cast<uint32_t>(t.FrameRate));
  PutU64(o, h.InputStates);
  PutU64(o, h.InputRawStates);
  PutU8(o, h.Foreground);
  PutU32(o, static_cast<uint32_t>(h.PointerX));
  PutU32(o, static_cast<uint32_t>(h.PointerY));
  PutBytes(o, h.ScanCodes, 256);
  PutJoystick(o, h.Joystick);
  PutU8(o, h.Selection);
  PutU32(o, h.KeySum);
  PutU8(o, h.ClickLatch);
  PutU8(o, h.AddTextEditing);
  PutU8(o, h.SwallowKey);
  PutU8(o, h.Paused);
  PutU32(o, h.HoverBits);
  PutBytes(o, h.Pulses, 4);
}

void ReadHeader(Reader& r, TReplayHeader& h, uint16_t format) {
  h.ProgramVersion = r.Str();
  h.DataDigest = format >= 2 ? r.U64() : 0;
  h.StartClock = r.U32();
  h.RngState = r.U64();
  h.FrameCounter = r.U8();
  h.MusicOn = r.Flag();
  h.SoundOn = r.Flag();
  h.WindowMode = r.U8();
  r.Bytes(h.AddText, 16);
  for (int i = 0; i < 10; i++) {
    r.Bytes(h.TableNames[i], 16);
    h.TableScores[i] = r.U32();
  }
  for (int i = 0; i < 3; i++) {
    h.TimerEnabled[i] = r.Flag();
    h.TimerStart[i] = r.U32();
  }
  TDXTimer::TState& t = h.FrameTimer;
  t.Initialized = r.Flag();
  t.Suspended = r.Flag();
  t.OldTime = r.U32();
  t.OldTime2 = r.U32();
  t.FrameCount = r.U32();
  t.FrameRate = static_cast<int32_t>(r.U32());
  h.InputStates = r.U64();
  h.InputRawStates = r.U64();
  if ((h.InputStates | h.InputRawStates) & ~AllInputStates) r.Bad("input states beyond the 36 the game knows");
  h.Foreground = r.Flag();
  h.PointerX = static_cast<int32_t>(r.U32());
  h.PointerY = static_cast<int32_t>(r.U32());
  r.Bytes(h.ScanCodes, 256);
  {
    TJoystickReading& j = h.Joystick;
    j.Present = r.Flag();
    uint32_t* fields[] = {&j.X, &j.Y, &j.Z, &j.XMin, &j.XMax, &j.YMin, &j.YMax, &j.ZMin, &j.ZMax, &j.Buttons};
    for (uint32_t* f : fields) *f = static_cast<uint32_t>(r.Var(UINT32_MAX));
    j.ButtonCount = static_cast<int>(r.Var(32));
  }
  h.Selection = r.U8();
  h.KeySum = r.U32();
  h.ClickLatch = r.Flag();
  h.AddTextEditing = r.Flag();
  h.SwallowKey = r.Flag();
  h.Paused = r.Flag();
  h.HoverBits = r.U32();
  if (h.HoverBits >> 18) r.Bad("hover flags beyond the 18 the game knows");
  r.Bytes(h.Pulses, 4);
}

// --- digest -------------------------------------------------------------------
struct Fnv {
  uint64_t h = 0xcbf29ce484222325ull;
  void Byte(uint8_t b) {
    h ^= b;
    h *= 0x100000001b3ull;
  }
  void U64(uint64_t v) {
    uint8_t b[8];
    StoreLE64(b, v);
    for (uint8_t x : b) Byte(x);
  }
  void I(int64_t v) { U64(static_cast<uint64_t>(v)); }
  void D(double d) {
    if (d == 0) d = 0;  // -0 and +0 are one position
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    U64(bits);
  }
  void S(const char* s) {
    for (; *s; s++) Byte(static_cast<uint8_t>(*s));
    Byte(0);
  }
};
}  // namespace

// ---------------------------------------------------------------------------
// The file

std::vector<uint8_t> SerializeReplay(const TReplay& rp) {
  std::vector<uint8_t> o;
  o.reserve(rp.Stream.size() + 1024);
  PutBytes(o, reinterpret_cast<const uint8_t*>(Magic), 8);
  PutU16(o, ReplayFormatVersion);
  PutU32(o, rp.RulesVersion);
  std::vector<uint8_t> h;
  PutHeader(h, rp.Header);
  PutU32(o, static_cast<uint32_t>(h.size()));
  PutBytes(o, h.data(), h.size());
  PutU32(o, static_cast<uint32_t>(rp.Stream.size()));
  PutBytes(o, rp.Stream.data(), rp.Stream.size());
  const TReplayFinal& f = rp.Final;
  PutU32(o, f.Ticks);
  PutU32(o, f.Score);
  PutU16(o, f.Level);
  PutU8(o, f.Lives);
  PutU64(o, f.Digest);
  PutStr(o, f.Screen);
  PutU32(o, Crc32(o.data(), o.size()));
  return o;
}

TReplay ParseReplay(const uint8_t* data, size_t size) {
  if (size < 8 || std::memcmp(data, Magic, 8) != 0) throw ReplayError("not a Quorvane replay (no QVREPLAY mark)");
  if (size > ReplayMaxFileSize) throw ReplayError("not a Quorvane replay (larger than 16 MiB)");
  Reader r(data, size, "file");
  uint8_t skip[8];
  r.Bytes(skip, 8);
  const uint16_t format = r.U16();
  if (format < ReplayOldestFormatVersion || format > ReplayFormatVersion)
    throw ReplayError("replay format version " + std::to_string(format) + " is not one this program reads (it reads " +
                      std::to_string(ReplayOldestFormatVersion) + " to " + std::to_string(ReplayFormatVersion) + ")");
  TReplay rp;
  rp.RulesVersion = r.U32();
  // The layout first (a cut file says so), then the checksum (a damaged one
  // says so) before any number inside is believed.
  const uint32_t headerLen = r.U32();
  r.Need(headerLen);
  const size_t headerAt = r.Pos();
  for (uint32_t i = 0; i < headerLen; i++) r.U8();
  const uint32_t streamLen = r.U32();
  r.Need(streamLen);
  const size_t streamAt = r.Pos();
  for (uint32_t i = 0; i < streamLen; i++) r.U8();
  TReplayFinal& f = rp.Final;
  f.Ticks = r.U32();
  f.Score = r.U32();
  f.Level = r.U16();
  f.Lives = r.U8();
  f.Digest = r.U64();
  f.Screen = r.Str();
  const size_t crcAt = r.Pos();
  const uint32_t stored = r.U32();
  if (!r.AtEnd()) r.Bad("bytes after the checksum");
  if (Crc32(data, crcAt) != stored) throw ReplayError("damaged replay: checksum mismatch");
  {
    Reader hr(data + headerAt, headerLen, "header");
    ReadHeader(hr, rp.Header, format);
    if (!hr.AtEnd()) hr.Bad("the header is longer than its fields");
  }
  if (f.Ticks > ReplayMaxTicks) throw ReplayError("damaged replay: the game is longer than a day");
  rp.Stream.assign(data + streamAt, data + streamAt + streamLen);

  // The whole stream is decoded once here, so playback meets no surprise.
  Reader sr(rp.Stream.data(), rp.Stream.size(), "input stream");
  Record rec;
  uint64_t steps = 0, lastCheck = 0;
  bool first = true;
  while (!sr.AtEnd()) {
    DecodeRecord(sr, rec);
    if (first && rec.Op != OpStep + static_cast<uint8_t>(ReplayStep::StartGame))
      sr.Bad("the stream does not begin with the start of a game");
    if (!first && rec.Op == OpStep + static_cast<uint8_t>(ReplayStep::StartGame)) sr.Bad("a second game start");
    first = false;
    if (rec.Op == OpRun) steps += rec.Count;
    else if (rec.Op >= OpStep && rec.Op < OpStep + StepKinds) steps++;
    else if (rec.Op == OpCheck) {
      if (rec.Count <= lastCheck) sr.Bad("digest ticks out of order");
      lastCheck = rec.Count;
    }
    if (steps > 4 * ReplayMaxTicks) sr.Bad("more steps than a day of play");
  }
  if (first) throw ReplayError("damaged replay: the input stream is empty");
  // The records are those of this format whatever the rules; the rules
  // decide what the game makes of them.
  if (rp.RulesVersion != ReplayRulesVersion)
    throw ReplayError("this replay was recorded with rules version " + std::to_string(rp.RulesVersion) +
                      "; this program plays rules version " + std::to_string(ReplayRulesVersion) +
                      ", so it cannot replay it faithfully");
  return rp;
}

TReplay ReadReplayFile(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) throw ReplayError(path + ": is a folder, not a replay");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ReplayError(path + ": cannot open");
  std::vector<uint8_t> bytes;
  char buf[65536];
  while (in) {
    in.read(buf, sizeof buf);
    bytes.insert(bytes.end(), buf, buf + in.gcount());
    if (bytes.size() > ReplayMaxFileSize) throw ReplayError(path + ": not a Quorvane replay (larger than 16 MiB)");
  }
  try {
    return ParseReplay(bytes.data(), bytes.size());
  } catch (const ReplayError& e) {
    throw ReplayError(path + ": " + e.what());
  }
}

bool WriteReplayFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  // The one writer of whole files: a temporary beside it, synced, renamed.
  try {
    WriteFileAtomically(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

uint64_t WorldDigest(TForm1& f) {
  Fnv h;
  h.S(f.ScreenName.c_str());
  h.I(f.Level);
  h.I(f.UnmaskedScore());
  h.I(f.Paused);
  h.I(f.GameEnded);
  h.I(f.FrameCounter);
  h.I(f.EnemiesLeft);
  h.I(f.EnemyBound);
  h.I(f.EnemyKinds);
  h.I(f.BonusCount);
  h.U64(f.Rng.State());
  h.I(f.Timer1Enabled());
  h.I(f.Timer2Enabled());
  h.I(f.Timer3Enabled());
  h.I(f.ScoreLabelCount);
  for (uint8_t i = 0; i < f.ScoreLabelCount && i < f.ScoreLabels.size(); i++) {
    const TScoreLabel& l = f.ScoreLabels[i];
    h.I(l.Points);
    h.I(l.X);
    h.I(l.Y);
  }
  if (f.Player) {
    h.I(f.Player->Lives);
    h.I(f.Player->Falling);
    h.I(f.Player->Blinking);
    h.I(f.Player->Shown);
  } else {
    h.I(-1);
  }
  TSpriteEngine& e = f.DXSpriteEngine1;
  for (int i = 0; i < e.Count(); i++) {
    TSprite* s = e.Child(i);
    if (s->IsDead) continue;
    h.I(static_cast<int>(s->SpriteKind()));
    h.D(s->X);
    h.D(s->Y);
    h.I(s->Width);
    h.I(s->Height);
    h.I(s->GetZ());
    h.I(s->Visible);
    if (auto* is = dynamic_cast<TImageSprite*>(s)) h.D(is->FramePos);
  }
  return h.h;
}

uint64_t GameDataDigest(const std::string& programDir) {
  std::string dir = programDir;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  Fnv h;
  for (const char* name : {"Data/MData.dxg", "Data/GData.dxg"}) {
    std::ifstream in(dir + name, std::ios::binary);
    if (!in) return 0;
    h.S(name);
    uint64_t length = 0;
    char buf[65536];
    while (in) {
      in.read(buf, sizeof buf);
      const std::streamsize n = in.gcount();
      for (std::streamsize i = 0; i < n; i++) h.Byte(static_cast<uint8_t>(buf[i]));
      length += static_cast<uint64_t>(n);
    }
    if (in.bad()) return 0;
    h.U64(length);
  }
  return h.h == 0 ? 1 : h.h;  // 0 means unknown
}

uint64_t FrameHash(const uint32_t* pixels, size_t count) {
  if (!pixels || count == 0) return 0;
  // FNV over the colour bytes only; the unused top byte of a pixel does not count.
  uint64_t h = 0xcbf29ce484222325ull;
  for (size_t i = 0; i < count; i++) {
    const uint32_t p = pixels[i] & 0xFFFFFF;
    h = (h ^ p) * 0x100000001b3ull;
  }
  return h;
}

std::string DigestHex(uint64_t d) {
  char buf[20];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(d));
  return buf;
}

// ---------------------------------------------------------------------------
// Recording

void ReplayTap::GameStarting() {
  if (mode_ != Mode::Off || !RecordGames || !form_) return;
  TForm1& f = *form_;
  TReplayHeader& h = rec_.Header;
  h = TReplayHeader{};
  h.ProgramVersion = QV_VERSION;
  if (!haveDataDigest_) {
    dataDigest_ = GameDataDigest(f.ProgramDir);
    haveDataDigest_ = true;
  }
  h.DataDigest = dataDigest_;
  h.StartClock = depth_ > 0 ? latchedTime_ : inner_->Milliseconds();
  h.RngState = f.Rng.State();
  h.FrameCounter = f.FrameCounter;
  h.MusicOn = f.Config.MusicOn ? 1 : 0;
  h.SoundOn = f.Config.SoundOn ? 1 : 0;
  h.WindowMode = f.Config.WindowMode;
  std::memcpy(h.AddText, &f.Config.AddText, 16);
  for (int i = 0; i < 10; i++) {
    std::memcpy(h.TableNames[i], &f.Config.HighScores[i].Name, 16);
    h.TableScores[i] = f.Config.HighScores[i].Score;
  }
  const TTimer* timers[3] = {&f.Timer1, &f.Timer2, &f.Timer3};
  for (int i = 0; i < 3; i++) {
    h.TimerEnabled[i] = timers[i]->Enabled();
    h.TimerStart[i] = timers[i]->Start();
  }
  h.FrameTimer = f.DXTimer1.SaveState();
  h.InputStates = f.DXInput1.States;
  h.InputRawStates = f.DXInput1.PreviousRawStates();
  // The machine as it is now: later reads are noted as changes from this.
  foreground_ = inner_->Foreground();
  int x = 0, y = 0;
  inner_->PointerPos(x, y);
  px_ = x;
  py_ = y;
  inner_->ReadScanCodes(scan_);
  joy_ = inner_->ReadJoystick();
  h.Foreground = foreground_;
  h.PointerX = px_;
  h.PointerY = py_;
  std::memcpy(h.ScanCodes, scan_, 256);
  h.Joystick = joy_;
  h.Selection = f.Selection;
  h.KeySum = f.KeySum;
  h.ClickLatch = f.ClickLatch;
  h.AddTextEditing = f.AddTextEditing;
  h.SwallowKey = f.SwallowKey;
  h.Paused = f.Paused;
  h.HoverBits = 0;
  for (int i = 0; i < 18; i++)
    if (f.Hover[i]) h.HoverBits |= 1u << i;
  h.Pulses[0] = f.PulseRight;
  h.Pulses[1] = f.PulseLeft;
  h.Pulses[2] = f.PulseDown;
  h.Pulses[3] = f.PulseUp;

  rec_.RulesVersion = ReplayRulesVersion;
  rec_.Stream.clear();
  last_.clear();
  // Reserved once: a steady tick then writes nothing at all, and a long
  // game's few kilobytes fit without growing.
  rec_.Stream.reserve(64 * 1024);
  prevTime_ = h.StartClock;
  prevIdleTime_ = h.StartClock;
  eventX_ = eventY_ = INT32_MIN;
  pendingRun_ = 0;
  ticks_ = 0;
  nextCheck_ = ReplayCheckInterval;
  lastLives_ = 255;
  mode_ = Mode::Record;
  PutStep(TReplayStepInfo{ReplayStep::StartGame, 0, 0, 0}, 0);
  // The handler that called StartGame is not itself part of the game.
  skipStep_ = depth_ > 0;
  latched_ = depth_ > 0;
}

void ReplayTap::BeginStep(const TReplayStepInfo& step) {
  if (depth_++ > 0) return;
  step_ = step;
  skipStep_ = false;
  if (mode_ == Mode::Record) {
    latchedTime_ = inner_->Milliseconds();
    latched_ = true;
  } else {
    // Off: the time a game started in this step is the step's time.
    latchedTime_ = mode_ == Mode::Play ? clock_ : inner_->Milliseconds();
    latched_ = false;
  }
}

void ReplayTap::EndStep(bool effective) {
  if (depth_ == 0 || --depth_ > 0) return;
  latched_ = false;
  if (form_ && form_->Player) lastLives_ = form_->Player->Lives;
  if (mode_ != Mode::Record) return;
  if (!skipStep_ && (effective || step_.Kind != ReplayStep::Idle)) {
    // Idle steps count from the previous idle step, so the ticks around an
    // event still form runs of +20 ms; events count from the previous step.
    if (step_.Kind == ReplayStep::Idle) {
      PutStep(step_, latchedTime_ - prevIdleTime_);
      prevIdleTime_ = latchedTime_;
    } else {
      PutStep(step_, latchedTime_ - prevTime_);
    }
    prevTime_ = latchedTime_;
    if (step_.Kind == ReplayStep::MouseMove || step_.Kind == ReplayStep::MouseDown ||
        step_.Kind == ReplayStep::MouseUp) {
      eventX_ = step_.X;
      eventY_ = step_.Y;
    }
    if (ticks_ >= nextCheck_) {
      FlushRun();
      PutU8(rec_.Stream, OpCheck);
      PutVar(rec_.Stream, ticks_);
      PutU64(rec_.Stream, WorldDigest(*form_));
      nextCheck_ = (ticks_ / ReplayCheckInterval + 1) * ReplayCheckInterval;
    }
  }
  skipStep_ = false;
  if (form_ && !IsGameScreen(form_->ScreenName)) Finish();
}

void ReplayTap::FlushRun() {
  if (pendingRun_ == 0) return;
  if (pendingRun_ <= 128) {
    PutU8(rec_.Stream, static_cast<uint8_t>(OpShortRun + pendingRun_ - 1));
  } else {
    PutU8(rec_.Stream, OpRun);
    PutVar(rec_.Stream, pendingRun_);
  }
  pendingRun_ = 0;
}

void ReplayTap::PutStep(const TReplayStepInfo& s, uint32_t dt) {
  if (s.Kind == ReplayStep::Idle && dt == TickMs) {
    pendingRun_++;
    return;
  }
  FlushRun();
  std::vector<uint8_t>& o = rec_.Stream;
  PutU8(o, static_cast<uint8_t>(OpStep + static_cast<uint8_t>(s.Kind)));
  PutVar(o, dt);
  switch (s.Kind) {
    case ReplayStep::KeyDown: PutVar(o, s.A); break;
    case ReplayStep::KeyUp:
      PutVar(o, s.A);
      PutU8(o, s.X ? 1 : 0);
      break;
    case ReplayStep::MouseMove:
      PutZig(o, s.X);
      PutZig(o, s.Y);
      break;
    case ReplayStep::MouseDown:
    case ReplayStep::MouseUp:
      PutU8(o, static_cast<uint8_t>(s.A));
      PutZig(o, s.X);
      PutZig(o, s.Y);
      break;
    case ReplayStep::Activate:
    case ReplayStep::SysCommand: PutU8(o, static_cast<uint8_t>(s.A)); break;
    default: break;
  }
}

std::string ReplayTap::Folder() const {
  if (!ReplayDir.empty() || !form_) return ReplayDir;
  return form_->StateDir + "replays/";
}

void ReplayTap::FinishRecording() {
  if (mode_ == Mode::Record) Finish();
}

void ReplayTap::Finish() {
  FlushRun();
  TForm1& f = *form_;
  TReplayFinal& fin = rec_.Final;
  fin.Ticks = ticks_;
  fin.Score = f.UnmaskedScore();
  fin.Level = f.Level;
  fin.Lives = lastLives_;
  fin.Digest = WorldDigest(f);
  fin.Screen = f.ScreenName;
  mode_ = Mode::Off;
  latched_ = false;
  last_ = SerializeReplay(rec_);
  const std::string folder = Folder();
  if (!folder.empty() && !WriteReplayFile(folder + "last.qvr", last_))
    std::fprintf(stderr, "quorvane: cannot write %slast.qvr\n", folder.c_str());
}

namespace {
std::string SafeName(const std::string& name) {
  std::string s;
  for (unsigned char c : name) {
    if (std::isalnum(c)) s += static_cast<char>(c);
    else if (c == ' ' || c == '-' || c == '_' || c == '.') s += '_';
  }
  if (s.empty()) s = "nameless";
  return s;
}

// "top-<score>-<name>-<time>.qvr": score and name as the table shows them.
bool ParseTopName(const std::string& file, uint32_t& score, std::string& name) {
  if (file.rfind("top-", 0) != 0 || file.size() < 9 || file.substr(file.size() - 4) != ".qvr") return false;
  const std::string body = file.substr(4, file.size() - 8);
  const size_t a = body.find('-');
  const size_t b = body.rfind('-');
  if (a == std::string::npos || b == a) return false;
  const std::string digits = body.substr(0, a);
  if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long v = std::strtoul(digits.c_str(), nullptr, 10);
  score = static_cast<uint32_t>(v);
  name = body.substr(a + 1, b - a - 1);
  return true;
}
}  // namespace

void ReplayTap::KeepTopTenReplay(const std::vector<uint8_t>& bytes, uint32_t score, const std::string& name) {
  const std::string folder = Folder();
  if (folder.empty() || bytes.empty()) return;
  // The table keeps the first 12 characters of a name.
  const std::string kept = name.substr(0, std::min<size_t>(name.size(), MaxEnteredNameLength));
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &tm);
  const std::string path = folder + "top-" + std::to_string(score) + "-" + SafeName(kept) + "-" + stamp + ".qvr";
  if (!WriteReplayFile(path, bytes)) std::fprintf(stderr, "quorvane: cannot write %s\n", path.c_str());
}

void ReplayTap::PruneBeatenReplays(const std::vector<HighScoreRow>& beaten) {
  const std::string folder = Folder();
  if (folder.empty() || beaten.empty()) return;
  namespace fs = std::filesystem;
  std::error_code ec;
  std::vector<std::string> files;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    files.push_back(it->path().filename().string());
  // Newest first: of two games kept for equal rows, the later one went below
  // the earlier and is the one beaten.
  std::sort(files.rbegin(), files.rend());
  for (const HighScoreRow& row : beaten) {
    const auto wanted = std::make_pair(UnmaskScore(row.Score), SafeName(HighScoreName(row)));
    for (auto it = files.begin(); it != files.end(); ++it) {
      uint32_t score = 0;
      std::string name;
      if (!ParseTopName(*it, score, name) || std::make_pair(score, name) != wanted) continue;
      fs::remove(folder + *it, ec);
      files.erase(it);
      break;
    }
  }
}

// ---------------------------------------------------------------------------
// What the game reads

uint32_t ReplayTap::Milliseconds() {
  if (mode_ == Mode::Play) return clock_;
  if (latched_) return latchedTime_;
  return inner_->Milliseconds();
}

void ReplayTap::Present(const TPixelView& frame) {
  if (mode_ == Mode::Play && DrawingOff) return;
  inner_->Present(frame);
}

void ReplayTap::SetFullScreen(bool fullScreen) {
  // A replay leaves the viewer's window as it is.
  if (mode_ == Mode::Play) return;
  inner_->SetFullScreen(fullScreen);
}

bool ReplayTap::Foreground() {
  if (mode_ == Mode::Play) return foreground_;
  const bool v = inner_->Foreground();
  if (mode_ == Mode::Record && v != foreground_) {
    FlushRun();
    PutU8(rec_.Stream, OpFocus);
    PutU8(rec_.Stream, v ? 1 : 0);
    foreground_ = v;
  }
  return v;
}

void ReplayTap::ReadScanCodes(uint8_t table[256]) {
  if (mode_ == Mode::Play) {
    std::memcpy(table, scan_, 256);
    return;
  }
  inner_->ReadScanCodes(table);
  if (mode_ != Mode::Record || std::memcmp(table, scan_, 256) == 0) return;
  int n = 0, changed = 0;
  for (int i = 0; i < 256; i++)
    if (table[i] != scan_[i]) {
      n++;
      changed = i;
    }
  FlushRun();
  std::vector<uint8_t>& o = rec_.Stream;
  if (n == 1 && (scan_[changed] ^ table[changed]) == 0x80 && (table[changed] & 0x7F) == 0) {
    PutU8(o, OpKeyFlip);
    PutU8(o, static_cast<uint8_t>(changed));
    scan_[changed] = table[changed];
    return;
  }
  PutU8(o, OpKeys);
  PutVar(o, static_cast<uint64_t>(n));
  for (int i = 0; i < 256; i++) {
    if (table[i] == scan_[i]) continue;
    PutU8(o, static_cast<uint8_t>(i));
    PutU8(o, table[i]);
    scan_[i] = table[i];
  }
}

TJoystickReading ReplayTap::ReadJoystick() {
  if (mode_ == Mode::Play) return joy_;
  TJoystickReading j = inner_->ReadJoystick();
  if (mode_ == Mode::Record && !SameJoystick(j, joy_)) {
    FlushRun();
    PutU8(rec_.Stream, OpJoystick);
    PutJoystick(rec_.Stream, j);
    joy_ = j;
  }
  return j;
}

void ReplayTap::PointerPos(int& x, int& y) {
  if (mode_ == Mode::Play) {
    x = px_;
    y = py_;
    return;
  }
  inner_->PointerPos(x, y);
  if (mode_ == Mode::Record && (x != px_ || y != py_)) {
    FlushRun();
    if (x == eventX_ && y == eventY_) {
      PutU8(rec_.Stream, OpPointerAtEvent);
    } else {
      PutU8(rec_.Stream, OpPointer);
      PutZig(rec_.Stream, x);
      PutZig(rec_.Stream, y);
    }
    px_ = x;
    py_ = y;
  }
}

void ReplayTap::WarpPointer(int x, int y) {
  // Playback moves its own pointer only; recording knows the game put the
  // pointer there, so the next read that finds it there is no news.
  if (mode_ != Mode::Play) inner_->WarpPointer(x, y);
  if (mode_ != Mode::Off) {
    px_ = x;
    py_ = y;
  }
}

void ReplayTap::QueueKeyRelease(uint16_t vk) {
  // In playback the release comes from the file, as the host delivered it.
  if (mode_ != Mode::Play) inner_->QueueKeyRelease(vk);
}

void ReplayTap::MessageBox(const std::string& text, const std::string& caption) {
  if (mode_ == Mode::Play) {
    std::fprintf(stderr, "replay: message box: %s\n", text.c_str());
    return;
  }
  inner_->MessageBox(text, caption);
}

std::string ReplayTap::OpenUrl(const std::string& url) {
  // Pages open from the menus only, never inside a recorded game.
  if (mode_ != Mode::Play) return inner_->OpenUrl(url);
  return {};
}

void ReplayTap::Quit() {
  if (mode_ != Mode::Play) inner_->Quit();
}

// ---------------------------------------------------------------------------
// Playback

void ReplayTap::BeginPlayback(const TReplay& rp) {
  mode_ = Mode::Play;
  RecordGames = false;
  const TReplayHeader& h = rp.Header;
  clock_ = h.StartClock;
  foreground_ = h.Foreground != 0;
  px_ = h.PointerX;
  py_ = h.PointerY;
  std::memcpy(scan_, h.ScanCodes, 256);
  joy_ = h.Joystick;
  ticks_ = 0;
  if (!form_) return;
  TForm1& f = *form_;
  f.SettingsFixed = true;
  f.Config = DefaultConfigRecord();
  f.Config.MusicOn = h.MusicOn;
  f.Config.SoundOn = h.SoundOn;
  f.Config.WindowMode = h.WindowMode;
  std::memcpy(&f.Config.AddText, h.AddText, 16);
  for (int i = 0; i < 10; i++) {
    std::memcpy(&f.Config.HighScores[i].Name, h.TableNames[i], 16);
    f.Config.HighScores[i].Score = h.TableScores[i];
  }
}

ReplayPlayer::ReplayPlayer(TForm1& form, TReplay replay) : form_(form), tap_(form.Tap), replay_(std::move(replay)) {
  const TReplayHeader& h = replay_.Header;
  TForm1& f = form_;
  tap_.clock_ = h.StartClock;
  time_ = h.StartClock;
  idleTime_ = h.StartClock;
  f.Rng.SetState(h.RngState);
  f.FrameCounter = h.FrameCounter;
  TTimer* timers[3] = {&f.Timer1, &f.Timer2, &f.Timer3};
  for (int i = 0; i < 3; i++) timers[i]->Restore(h.TimerEnabled[i] != 0, h.TimerStart[i]);
  f.DXTimer1.RestoreState(h.FrameTimer);
  f.DXInput1.States = h.InputStates;
  f.DXInput1.SetPreviousRawStates(h.InputRawStates);
  f.Selection = h.Selection;
  f.KeySum = h.KeySum;
  f.ClickLatch = h.ClickLatch;
  f.AddTextEditing = h.AddTextEditing;
  f.SwallowKey = h.SwallowKey;
  f.Paused = h.Paused;
  for (int i = 0; i < 18; i++) f.Hover[i] = (h.HoverBits >> i) & 1;
  f.PulseRight = h.Pulses[0];
  f.PulseLeft = h.Pulses[1];
  f.PulseDown = h.Pulses[2];
  f.PulseUp = h.Pulses[3];
}

uint32_t ReplayPlayer::Ticks() const { return tap_.ticks_; }

bool ReplayPlayer::NextStepTime(uint32_t& time) const {
  if (pendingRun_ > 0) {
    time = idleTime_ + TickMs;
    return true;
  }
  size_t pos = pos_;
  Record rec;
  while (pos < replay_.Stream.size()) {
    Reader at(replay_.Stream.data() + pos, replay_.Stream.size() - pos, "input stream");
    DecodeRecord(at, rec);
    pos += at.Pos();
    if (rec.Op == OpRun) {
      time = idleTime_ + TickMs;
      return true;
    }
    if (rec.Op >= OpStep && rec.Op < OpStep + StepKinds) {
      time = (rec.Step.Kind == ReplayStep::Idle ? idleTime_ : time_) + rec.Dt;
      return true;
    }
  }
  return false;
}

void ReplayPlayer::Fail(const std::string& what) {
  if (mismatch_.empty()) mismatch_ = what;
}

bool ReplayPlayer::Step() {
  TReplayStepInfo step;
  bool have = false;
  if (pendingRun_ > 0) {
    pendingRun_--;
    idleTime_ += TickMs;
    time_ = idleTime_;
    have = true;
  }
  // Thread-safety is not a concern: one player, one thread. The record is
  // large (a whole key table), so it is kept off the stack of deep callers.
  static thread_local Record rec;
  while (!have && pos_ < replay_.Stream.size()) {
    Reader r(replay_.Stream.data() + pos_, replay_.Stream.size() - pos_, "input stream");
    DecodeRecord(r, rec);
    pos_ += r.Pos();
    switch (rec.Op) {
      case OpRun:
        pendingRun_ = static_cast<uint32_t>(rec.Count - 1);
        idleTime_ += TickMs;
        time_ = idleTime_;
        have = true;
        break;
      case OpKeyFlip: tap_.scan_[rec.Flag] ^= 0x80; break;
      case OpPointerAtEvent:
        tap_.px_ = eventX_;
        tap_.py_ = eventY_;
        break;
      case OpKeys:
        for (int i = 0; i <= rec.KeyCount; i++) tap_.scan_[rec.Keys[i][0]] = rec.Keys[i][1];
        break;
      case OpJoystick: tap_.joy_ = rec.Joy; break;
      case OpPointer:
        tap_.px_ = rec.X;
        tap_.py_ = rec.Y;
        break;
      case OpFocus: tap_.foreground_ = rec.Flag != 0; break;
      case OpCheck: break;  // only after a step (below)
      default:
        step = rec.Step;
        if (step.Kind == ReplayStep::Idle) {
          idleTime_ += rec.Dt;
          time_ = idleTime_;
        } else {
          time_ += rec.Dt;
        }
        if (step.Kind == ReplayStep::MouseMove || step.Kind == ReplayStep::MouseDown ||
            step.Kind == ReplayStep::MouseUp) {
          eventX_ = step.X;
          eventY_ = step.Y;
        }
        have = true;
        break;
    }
  }
  if (!have) return false;
  tap_.clock_ = time_;
  TForm1& f = form_;
  switch (step.Kind) {
    case ReplayStep::Idle: f.HostIdle(); break;
    case ReplayStep::KeyDown: f.HostKeyDown(static_cast<uint16_t>(step.A)); break;
    case ReplayStep::KeyUp: f.HostKeyUp(static_cast<uint16_t>(step.A), step.X != 0); break;
    case ReplayStep::MouseMove: f.HostMouseMove(step.X, step.Y); break;
    case ReplayStep::MouseDown: f.HostMouseDown(static_cast<TMouseButton>(step.A), step.X, step.Y); break;
    case ReplayStep::MouseUp: f.HostMouseUp(static_cast<TMouseButton>(step.A), step.X, step.Y); break;
    case ReplayStep::Click: f.HostClick(); break;
    case ReplayStep::Activate: f.HostActivate(step.A != 0); break;
    case ReplayStep::SysCommand: f.HostSysCommand(static_cast<TSysCommand>(step.A)); break;
    case ReplayStep::Close: f.HostCloseRequest(); break;
    case ReplayStep::Terminate: f.HostTerminate(); break;
    case ReplayStep::StartGame:
      tap_.BeginStep(step);
      f.Dispatch([&] { f.StartGame(); });
      tap_.EndStep(true);
      break;
  }
  // The digests written after this step.
  while (pendingRun_ == 0 && pos_ < replay_.Stream.size() && replay_.Stream[pos_] == OpCheck) {
    Reader r(replay_.Stream.data() + pos_, replay_.Stream.size() - pos_, "input stream");
    DecodeRecord(r, rec);
    pos_ += r.Pos();
    if (!mismatch_.empty()) continue;
    const uint64_t d = WorldDigest(f);
    if (rec.Count != Ticks())
      Fail("the game reached a recorded digest point at tick " + std::to_string(Ticks()) + " instead of tick " +
           std::to_string(rec.Count));
    else if (d != rec.Digest)
      // Digests come every few hundred ticks: the first difference lies
      // somewhere after the last point that agreed.
      Fail("the world first differs at digest point tick " + std::to_string(rec.Count) + " (last agreement " +
           (agreed_ == 0 ? std::string("at the start") : "at tick " + std::to_string(agreed_)) + "): digest " +
           DigestHex(d) + ", recorded " + DigestHex(rec.Digest));
    else agreed_ = rec.Count;
  }
  return true;
}

void ReplayPlayer::RunToEnd() {
  while (Step()) {
  }
  CheckFinal();
}

void ReplayPlayer::CheckFinal() {
  if (!mismatch_.empty()) return;
  TForm1& f = form_;
  const TReplayFinal& want = replay_.Final;
  const uint8_t lives = tap_.lastLives_;
  auto at = " at the end (tick " + std::to_string(Ticks()) + ")";
  if (Ticks() != want.Ticks)
    Fail("the game ran " + std::to_string(Ticks()) + " ticks; the recording ran " + std::to_string(want.Ticks));
  else if (f.UnmaskedScore() != want.Score)
    Fail("score " + std::to_string(f.UnmaskedScore()) + at + ", recorded " + std::to_string(want.Score));
  else if (f.Level != want.Level)
    Fail("level " + std::to_string(f.Level) + at + ", recorded " + std::to_string(want.Level));
  else if (lives != want.Lives)
    Fail("lives " + std::to_string(lives) + at + ", recorded " + std::to_string(want.Lives));
  else if (f.ScreenName != want.Screen) Fail("screen " + f.ScreenName + at + ", recorded " + want.Screen);
  else if (WorldDigest(f) != want.Digest)
    Fail("the world differs" + at + ": digest " + DigestHex(WorldDigest(f)) + ", recorded " + DigestHex(want.Digest));
}

TReplayVerdict VerifyReplay(const std::string& programDir, const TReplay& replay, bool drawing) {
  TReplayVerdict v;
  std::string dir = programDir;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  // Other pictures mean other sprite sizes: the game would replay wrongly,
  // so say which data differ rather than where the world drifts.
  if (replay.Header.DataDigest != 0) {
    const uint64_t here = GameDataDigest(dir);
    if (here != replay.Header.DataDigest) {
      v.Message = "game data mismatch: the replay was recorded with game data " + DigestHex(replay.Header.DataDigest) +
                  ", the data in " + dir + " is " + (here == 0 ? std::string("unreadable") : DigestHex(here)) +
                  " (Data/MData.dxg, Data/GData.dxg)";
      v.OtherData = true;
      return v;
    }
  }
  HeadlessHost host;
  host.SetKeepFrames(false);
  TForm1 form(host, dir);
  form.Tap.BeginPlayback(replay);
  form.Tap.DrawingOff = !drawing;
  form.FormCreate();
  form.FormShow();
  if (form.StartupFailed || !form.DXDraw1.Surface()) {
    v.Message = "the game could not start in " + dir;
    for (const auto& m : host.MessageBoxes()) v.Message += ": " + m;
    return v;
  }
  if (!drawing) form.DXDraw1.Surface()->Discard = true;
  ReplayPlayer player(form, replay);
  player.RunToEnd();
  v.Started = true;
  v.Ticks = player.Ticks();
  v.Score = form.UnmaskedScore();
  v.Digest = WorldDigest(form);
  v.Screen = form.ScreenName;
  v.GameOver = !IsGameScreen(form.ScreenName);
  v.Match = player.Mismatch().empty();
  v.Message = player.Mismatch();
  // The surface still holds the last frame presented: no frame is copied
  // out on the way.
  const TDirectDrawSurface* surface = form.DXDraw1.Surface();
  if (drawing && surface && host.PresentCount() > 0)
    v.FrameHash = FrameHash(surface->Bits(), static_cast<size_t>(surface->Width()) * surface->Height());
  return v;
}
