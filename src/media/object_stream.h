#pragma once
// The archive container shared by the picture and sound archives: a
// resource header, then a "TPF0" object stream holding one root object with
// its tagged property values. TObjectReader reads it from memory with every
// length checked against what is left; TObjectWriter produces it.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

enum TValueType : uint8_t {
  vaNull = 0,
  vaList = 1,
  vaInt8 = 2,
  vaInt16 = 3,
  vaInt32 = 4,
  vaExtended = 5,
  vaString = 6,
  vaIdent = 7,
  vaFalse = 8,
  vaTrue = 9,
  vaBinary = 10,
  vaSet = 11,
  vaLString = 12,
  vaNil = 13,
  vaCollection = 14,
  vaSingle = 15,
  vaCurrency = 16,
  vaDate = 17,
  vaWString = 18,
  vaInt64 = 19,
  vaUTF8String = 20,
};

// Windows-1252 conversions for the 8-bit names. Characters the code page
// lacks become '?'; malformed UTF-8 sequences become '?' each.
std::string Utf16ToAnsi(const std::u16string& s);
std::string Utf8ToAnsi(const std::string& s);
std::string AnsiToUtf8(const std::string& s);
std::u16string AnsiToUtf16(const std::string& s);

// ASCII case-insensitive equality (property names, identifiers).
bool SameText(const std::string& a, const std::string& b);

// Windows-1252 lower case, as the picture and sound lists compare item names.
std::string AnsiLowerCase(const std::string& s);
// The bucket of an item name in the 256-bucket name index of those lists.
int NameHashKey(const std::string& name);

// Error helpers with the program's message texts.
[[noreturn]] void ReadError();                                // EReadError "Stream read error"
[[noreturn]] void InvalidStreamFormat();                      // EStreamError "Invalid stream format"
[[noreturn]] void PropValueError();                           // EPropertyError "Invalid property value"
[[noreturn]] void PropertyNotFound(const std::string& name);  // "Property %s does not exist"
// The same for a dotted path: names the first segment the object lacks,
// given the names of its object-valued properties.
[[noreturn]] void PropertyPathNotFound(const std::string& path, const std::vector<std::string>& objectProps);

class TObjectReader {
public:
  TObjectReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t Position() const { return pos_; }
  size_t Size() const { return size_; }
  size_t Remaining() const { return size_ - pos_; }

  // Raw reads; running past the end is "Stream read error".
  uint8_t ReadByte();
  uint16_t ReadUInt16();
  uint32_t ReadUInt32();
  int32_t ReadInt32() { return static_cast<int32_t>(ReadUInt32()); }
  // Returns a pointer to the next n bytes and moves past them.
  const uint8_t* ReadBytes(size_t n);
  void Skip(size_t n) { ReadBytes(n); }

  // Layer 1 and the start of layer 2.
  void ReadResHeader();
  void ReadSignature();
  // The optional filer-flag byte in front of a class name.
  void ReadPrefix();
  // Length byte + characters.
  std::string ReadStr();

  // Tagged values.
  TValueType NextValue();
  TValueType ReadValue();
  bool EndOfList();          // next byte is 0 (does not consume it)
  void ReadListEnd();        // consumes the 0; anything else is "Invalid property value"
  void ReadListBegin();      // consumes the 1; anything else is "Invalid property value"
  int32_t ReadInteger();     // tags 2, 3, 4
  bool ReadBoolean();        // tags 8, 9, or 7 with False/True
  std::string ReadIdent();   // tag 7 (also 8, 9, 13 as False, True, nil)
  std::string ReadString();  // tags 6, 12, 18, 20, as 8-bit text
  // Tag 10: returns the block (pointer into the buffer) and its length.
  const uint8_t* ReadBinary(size_t& length);

private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// An object whose stored properties are read from a stream. ReadProperty
// gets the whole dotted path and reads its value, or raises
// PropertyNotFound for a path it does not have.
class TStreamObject {
public:
  virtual ~TStreamObject() = default;
  virtual std::string ClassName() const = 0;
  virtual std::string Name() const { return {}; }
  virtual void ReadProperty(TObjectReader& reader, const std::string& path) = 0;
};

// Reads (path, value) pairs up to the closing 0. An error raised while one
// property is read comes out as EReadError "Error reading %s%s%s: %s".
void ReadProperties(TObjectReader& reader, TStreamObject& object);

// The value of a collection property (tag 14, already known to be next).
// clear runs once if the collection holds at least one item; add is called
// when an item's 0x01 has been read and returns the new item, whose
// properties are then read into it.
void ReadCollection(TObjectReader& reader, const std::function<void()>& clear,
                    const std::function<TStreamObject&()>& add);

struct TRootHeader {
  std::string ClassName;
  std::string ObjectName;
};

// Resource header, signature, prefix, class and object name.
TRootHeader ReadRootHeader(TObjectReader& reader);

// A whole archive: header, then the root's properties (read into the object
// make returns, given the class name found in the stream), then the empty
// child list.
void ReadRootComponent(const uint8_t* data, size_t size, const std::function<TStreamObject&(const TRootHeader&)>& make);

// The root class name of an archive (to tell pictures from sounds).
std::string ReadRootClassName(const uint8_t* data, size_t size);

// What one archive load may allocate, counted over all of its items. The
// game's own archives use a small part of each; a load that would go past
// one stops with "Archive exceeds its budget of %llu %s" (EReadError).
struct TArchiveBudget {
  uint64_t Items = 16384;             // items in the list (ours: a few hundred at most)
  uint64_t Pixels = 64ull << 20;      // decoded picture pixels, 256 MiB
  uint64_t Frames = 1ull << 20;       // frames the pictures are cut into
  uint64_t WaveBytes = 256ull << 20;  // stored sound format and sample bytes

  // Takes n from left, or raises the error naming what ran out.
  static void Spend(uint64_t& left, uint64_t n, uint64_t total, const char* what);
};

// Reads a whole file into memory; "Cannot open file \"%s\". %s" (EFOpenError)
// when it cannot be opened or read.
std::vector<uint8_t> ReadFileBytes(const std::string& path);

// A whole file in one buffer, as ReadFileBuffer gives it.
struct TFileBuffer {
  std::unique_ptr<uint8_t[]> Data;  // never null; unset past Size
  size_t Size = 0;
};
// The same bytes and errors as ReadFileBytes, read straight into a buffer
// that is not cleared first: an archive load decodes from it at once, and
// stdio's chunk copy and the zero fill cost as much as half the decoding.
TFileBuffer ReadFileBuffer(const std::string& path);

class TObjectWriter {
public:
  std::vector<uint8_t> Bytes;

  void WriteByte(uint8_t b) { Bytes.push_back(b); }
  void WriteUInt16(uint16_t v);
  void WriteUInt32(uint32_t v);
  void WriteBytes(const void* p, size_t n);

  // Opens the resource header; EndResHeader fills in its size field.
  void BeginResHeader(const std::string& resourceName);
  void EndResHeader();
  void WriteSignature();
  void WriteStr(const std::string& s);  // length byte + at most 255 characters

  void WriteValue(TValueType t) { WriteByte(t); }
  void WriteListBegin() { WriteByte(vaList); }
  void WriteListEnd() { WriteByte(vaNull); }
  void WriteInteger(int64_t v);  // shortest of tags 2, 3, 4 (19 beyond 32 bits)
  void WriteBoolean(bool v) { WriteByte(v ? vaTrue : vaFalse); }
  void WriteIdent(const std::string& s);
  void WriteString(const std::string& s);         // tag 6, or 12 past 255 bytes
  void WriteWideString(const std::u16string& s);  // tag 18
  void WriteUtf8String(const std::string& s);     // tag 20
  void WriteBinary(const void* p, size_t n);      // tag 10
  void WritePropName(const std::string& path) { WriteStr(path); }

private:
  size_t resSizePos_ = 0;
};
