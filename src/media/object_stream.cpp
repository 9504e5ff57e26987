#include "media/object_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/byte_order.h"
#include "base/code_page.h"
#include "base/errors.h"

// ---------------------------------------------------------------------------
// Windows-1252

std::string Utf16ToAnsi(const std::u16string& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    char16_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      ++i;  // a character beyond the code page: one '?' for the pair
      out += '?';
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      out += '?';
    } else {
      out += UnicodeToCp1252(c);
    }
  }
  return out;
}

std::string Utf8ToAnsi(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    uint8_t c = static_cast<uint8_t>(s[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    int len = 0;
    char32_t u = 0;
    char32_t min = 0;
    if ((c & 0xE0) == 0xC0) {
      len = 2;
      u = c & 0x1F;
      min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
      u = c & 0x0F;
      min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
      u = c & 0x07;
      min = 0x10000;
    }
    bool ok = len > 0 && i + len <= n;
    for (int k = 1; ok && k < len; ++k) {
      uint8_t cc = static_cast<uint8_t>(s[i + k]);
      if ((cc & 0xC0) != 0x80) ok = false;
      else u = (u << 6) | (cc & 0x3F);
    }
    if (!ok || u < min || u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF)) {
      out += '?';
      ++i;
      continue;
    }
    out += UnicodeToCp1252(u);
    i += len;
  }
  return out;
}

std::string AnsiToUtf8(const std::string& s) { return Cp1252BytesToUtf8(s); }

std::u16string AnsiToUtf16(const std::string& s) {
  std::u16string out;
  out.reserve(s.size());
  for (char c : s) out += static_cast<char16_t>(Cp1252ToUnicode(static_cast<uint8_t>(c)));
  return out;
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::string AnsiLowerCase(const std::string& s) {
  std::string out = s;
  for (char& ch : out) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) ch = static_cast<char>(c + 0x20);
    else if (c == 0x8A || c == 0x8C || c == 0x8E) ch = static_cast<char>(c + 0x10);
    else if (c == 0x9F) ch = static_cast<char>(0xFF);
  }
  return out;
}

int NameHashKey(const std::string& name) {
  const std::string s = AnsiLowerCase(name);
  const size_t L = s.size();
  size_t key = L * 16;
  if (L >= 2) key += static_cast<unsigned char>(s[L - 2]) + static_cast<unsigned char>(s[0]);
  return static_cast<int>(key % 256);
}

// ---------------------------------------------------------------------------
// Errors

void ReadError() { throw EReadError("Stream read error"); }
void InvalidStreamFormat() { throw EStreamError("Invalid stream format"); }
void PropValueError() { throw EPropertyError("Invalid property value"); }
void PropertyNotFound(const std::string& name) {
  throw EPropertyError(Format("Property %s does not exist", name.c_str()));
}

void PropertyPathNotFound(const std::string& path, const std::vector<std::string>& objectProps) {
  const size_t dot = path.find('.');
  const std::string first = path.substr(0, dot);
  if (dot == std::string::npos) PropertyNotFound(first);
  for (const std::string& o : objectProps) {
    if (SameText(o, first)) {
      const std::string rest = path.substr(dot + 1);
      PropertyNotFound(rest.substr(0, rest.find('.')));
    }
  }
  PropertyNotFound(first);
}

// ---------------------------------------------------------------------------
// Reader

const uint8_t* TObjectReader::ReadBytes(size_t n) {
  if (n > size_ - pos_) ReadError();
  const uint8_t* p = data_ + pos_;
  pos_ += n;
  return p;
}

uint8_t TObjectReader::ReadByte() { return *ReadBytes(1); }

uint16_t TObjectReader::ReadUInt16() { return LoadLE16(ReadBytes(2)); }

uint32_t TObjectReader::ReadUInt32() { return LoadLE32(ReadBytes(4)); }

void TObjectReader::ReadResHeader() {
  // The header is looked at through its first 79 bytes: marker, type word
  // and a zero-terminated name of at most 75 characters.
  const size_t avail = std::min<size_t>(size_ - pos_, 79);
  const uint8_t* h = data_ + pos_;
  if (avail < 3 || h[0] != 0xFF || h[1] != 0x0A || h[2] != 0x00) InvalidStreamFormat();
  const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(h + 3, 0, avail - 3));
  // A name without its terminator within the header cannot be measured.
  if (!zero) InvalidStreamFormat();
  const size_t nameLen = static_cast<size_t>(zero - (h + 3));
  Skip(nameLen + 10);
}

void TObjectReader::ReadSignature() {
  const uint8_t* p = ReadBytes(4);
  if (std::memcmp(p, "TPF0", 4) != 0) InvalidStreamFormat();
}

void TObjectReader::ReadPrefix() {
  if ((NextValue() & 0xF0) != 0xF0) return;
  const uint8_t flags = ReadByte() & 0x0F;
  if (flags & 0x02) ReadInteger();  // child position, not used
}

std::string TObjectReader::ReadStr() {
  const size_t n = ReadByte();
  const uint8_t* p = ReadBytes(n);
  return std::string(reinterpret_cast<const char*>(p), n);
}

TValueType TObjectReader::NextValue() {
  if (pos_ >= size_) ReadError();
  return static_cast<TValueType>(data_[pos_]);
}

TValueType TObjectReader::ReadValue() { return static_cast<TValueType>(ReadByte()); }

bool TObjectReader::EndOfList() { return NextValue() == vaNull; }

void TObjectReader::ReadListEnd() {
  if (ReadValue() != vaNull) PropValueError();
}

void TObjectReader::ReadListBegin() {
  if (ReadValue() != vaList) PropValueError();
}

int32_t TObjectReader::ReadInteger() {
  switch (ReadValue()) {
    case vaInt8: return static_cast<int8_t>(ReadByte());
    case vaInt16: return static_cast<int16_t>(ReadUInt16());
    case vaInt32: return ReadInt32();
    default: PropValueError();
  }
}

std::string TObjectReader::ReadIdent() {
  switch (ReadValue()) {
    case vaIdent: return ReadStr();
    case vaFalse: return "False";
    case vaTrue: return "True";
    case vaNil: return "nil";
    default: PropValueError();
  }
}

bool TObjectReader::ReadBoolean() {
  const TValueType t = NextValue();
  if (t == vaFalse || t == vaTrue) {
    ReadValue();
    return t == vaTrue;
  }
  if (t != vaIdent) PropValueError();
  const std::string ident = ReadIdent();
  if (SameText(ident, "False")) return false;
  if (SameText(ident, "True")) return true;
  PropValueError();
}

std::string TObjectReader::ReadString() {
  switch (ReadValue()) {
    case vaString: return ReadStr();
    case vaLString: {
      const size_t n = ReadUInt32();
      const uint8_t* p = ReadBytes(n);
      return std::string(reinterpret_cast<const char*>(p), n);
    }
    case vaWString: {
      const uint64_t count = ReadUInt32();
      if (count * 2 > Remaining()) ReadError();
      const uint8_t* p = ReadBytes(static_cast<size_t>(count * 2));
      std::u16string w(static_cast<size_t>(count), u'\0');
      for (size_t i = 0; i < w.size(); ++i) w[i] = static_cast<char16_t>(LoadLE16(p + 2 * i));
      return Utf16ToAnsi(w);
    }
    case vaUTF8String: {
      const size_t n = ReadUInt32();
      const uint8_t* p = ReadBytes(n);
      return Utf8ToAnsi(std::string(reinterpret_cast<const char*>(p), n));
    }
    default: PropValueError();
  }
}

const uint8_t* TObjectReader::ReadBinary(size_t& length) {
  if (ReadValue() != vaBinary) PropValueError();
  length = ReadUInt32();
  return ReadBytes(length);
}

// ---------------------------------------------------------------------------
// Objects

void ReadProperties(TObjectReader& reader, TStreamObject& object) {
  while (!reader.EndOfList()) {
    const std::string path = reader.ReadStr();
    try {
      object.ReadProperty(reader, path);
    } catch (const Exception& e) {
      std::string name = object.Name();
      if (name.empty()) name = object.ClassName();
      throw EReadError(Format("Error reading %s%s%s: %s", name.c_str(), ".", path.c_str(), e.what()));
    }
  }
  reader.ReadListEnd();
}

void ReadCollection(TObjectReader& reader, const std::function<void()>& clear,
                    const std::function<TStreamObject&()>& add) {
  if (!reader.EndOfList()) clear();
  while (!reader.EndOfList()) {
    const TValueType t = reader.NextValue();
    if (t == vaInt8 || t == vaInt16 || t == vaInt32) reader.ReadInteger();  // order value, unused
    reader.ReadListBegin();
    TStreamObject& item = add();
    ReadProperties(reader, item);
  }
  reader.ReadListEnd();
}

TRootHeader ReadRootHeader(TObjectReader& reader) {
  reader.ReadResHeader();
  reader.ReadSignature();
  reader.ReadPrefix();
  TRootHeader h;
  h.ClassName = reader.ReadStr();
  h.ObjectName = reader.ReadStr();
  return h;
}

void ReadRootComponent(const uint8_t* data, size_t size,
                       const std::function<TStreamObject&(const TRootHeader&)>& make) {
  TObjectReader reader(data, size);
  const TRootHeader h = ReadRootHeader(reader);
  TStreamObject& root = make(h);
  ReadProperties(reader, root);
  // The archive roots own no child objects.
  if (!reader.EndOfList()) InvalidStreamFormat();
  reader.ReadListEnd();
}

std::string ReadRootClassName(const uint8_t* data, size_t size) {
  TObjectReader reader(data, size);
  return ReadRootHeader(reader).ClassName;
}

void TArchiveBudget::Spend(uint64_t& left, uint64_t n, uint64_t total, const char* what) {
  if (n > left)
    throw EReadError(Format("Archive exceeds its budget of %llu %s", static_cast<unsigned long long>(total), what));
  left -= n;
}

namespace {

[[noreturn]] void CannotOpen(const std::string& path, int err) {
  throw EFOpenError(Format("Cannot open file \"%s\". %s", path.c_str(), std::strerror(err)), std::strerror(err));
}

// A pipe or a device in the file's place would block the open or never end.
void RequireRegularFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) CannotOpen(path, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
}

}  // namespace

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  auto fail = [&](int err) { CannotOpen(path, err); };
  RequireRegularFile(path);
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) fail(errno);
  std::vector<uint8_t> bytes;
  // The size is only a hint for the first allocation; the reads decide.
  if (std::fseek(f, 0, SEEK_END) == 0) {
    const long size = std::ftell(f);
    if (size > 0) bytes.reserve(static_cast<size_t>(size));
    std::rewind(f);
  }
  uint8_t buf[65536];
  for (;;) {
    const size_t got = std::fread(buf, 1, sizeof buf, f);
    bytes.insert(bytes.end(), buf, buf + got);
    if (got < sizeof buf) break;
  }
  const bool bad = std::ferror(f) != 0;
  const int err = errno;
  std::fclose(f);
  if (bad) fail(err ? err : EIO);
  return bytes;
}

TFileBuffer ReadFileBuffer(const std::string& path) {
  auto fail = [&](int err) { CannotOpen(path, err); };
  RequireRegularFile(path);
  struct Fd {
    int fd;
    ~Fd() {
      if (fd >= 0) ::close(fd);
    }
  } file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) fail(errno);
  // The size is only a hint; the reads decide. The byte beyond it lets the
  // read that finds the end go into the buffer too.
  size_t capacity = 1;
  struct stat st;
  if (::fstat(file.fd, &st) == 0 && st.st_size > 0) capacity = static_cast<size_t>(st.st_size) + 1;
  TFileBuffer out;
  out.Data.reset(new uint8_t[capacity]);
  for (;;) {
    if (out.Size == capacity) {  // the file grew while we read it
      std::unique_ptr<uint8_t[]> more(new uint8_t[capacity * 2]);
      std::memcpy(more.get(), out.Data.get(), out.Size);
      out.Data = std::move(more);
      capacity *= 2;
    }
    const ssize_t got = ::read(file.fd, out.Data.get() + out.Size, capacity - out.Size);
    if (got > 0) out.Size += static_cast<size_t>(got);
    else if (got == 0) break;
    else if (errno != EINTR) fail(errno);
  }
  return out;
}

// ---------------------------------------------------------------------------
// Writer

void TObjectWriter::WriteUInt16(uint16_t v) { AppendLE16(Bytes, v); }

void TObjectWriter::WriteUInt32(uint32_t v) { AppendLE32(Bytes, v); }

void TObjectWriter::WriteBytes(const void* p, size_t n) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  Bytes.insert(Bytes.end(), b, b + n);
}

void TObjectWriter::BeginResHeader(const std::string& resourceName) {
  WriteByte(0xFF);
  WriteUInt16(0x000A);
  std::string name = resourceName.substr(0, std::min<size_t>(resourceName.size(), 75));
  name.erase(std::find(name.begin(), name.end(), '\0'), name.end());
  WriteBytes(name.data(), name.size());
  WriteByte(0);
  WriteUInt16(0x1030);  // moveable, pure, discardable
  resSizePos_ = Bytes.size();
  WriteUInt32(0);
}

void TObjectWriter::EndResHeader() {
  const uint32_t size = static_cast<uint32_t>(Bytes.size() - resSizePos_ - 4);
  StoreLE32(Bytes.data() + resSizePos_, size);
}

void TObjectWriter::WriteSignature() { WriteBytes("TPF0", 4); }

void TObjectWriter::WriteStr(const std::string& s) {
  const size_t n = std::min<size_t>(s.size(), 255);
  WriteByte(static_cast<uint8_t>(n));
  WriteBytes(s.data(), n);
}

void TObjectWriter::WriteInteger(int64_t v) {
  if (v >= -128 && v <= 127) {
    WriteByte(vaInt8);
    WriteByte(static_cast<uint8_t>(v));
  } else if (v >= -32768 && v <= 32767) {
    WriteByte(vaInt16);
    WriteUInt16(static_cast<uint16_t>(v));
  } else if (v >= INT32_MIN && v <= INT32_MAX) {
    WriteByte(vaInt32);
    WriteUInt32(static_cast<uint32_t>(v));
  } else {
    WriteByte(vaInt64);
    AppendLE64(Bytes, static_cast<uint64_t>(v));
  }
}

void TObjectWriter::WriteIdent(const std::string& s) {
  WriteByte(vaIdent);
  WriteStr(s);
}

void TObjectWriter::WriteString(const std::string& s) {
  if (s.size() <= 255) {
    WriteByte(vaString);
    WriteStr(s);
  } else {
    WriteByte(vaLString);
    WriteUInt32(static_cast<uint32_t>(s.size()));
    WriteBytes(s.data(), s.size());
  }
}

void TObjectWriter::WriteWideString(const std::u16string& s) {
  WriteByte(vaWString);
  WriteUInt32(static_cast<uint32_t>(s.size()));
  for (char16_t c : s) WriteUInt16(c);
}

void TObjectWriter::WriteUtf8String(const std::string& s) {
  WriteByte(vaUTF8String);
  WriteUInt32(static_cast<uint32_t>(s.size()));
  WriteBytes(s.data(), s.size());
}

void TObjectWriter::WriteBinary(const void* p, size_t n) {
  WriteByte(vaBinary);
  WriteUInt32(static_cast<uint32_t>(n));
  WriteBytes(p, n);
}
