#include "media/object_stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "base/byte_order.h"
#include "base/errors.h"
#include "support/error_of.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(Ansi, ConvertsBetweenCodePageAndUnicode) {
  EXPECT_EQ(AnsiToUtf8("Caf\xE9 \x80"), "Caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(Utf8ToAnsi("Caf\xC3\xA9 \xE2\x82\xAC \xC5\xA0"), "Caf\xE9 \x80 \x8A");
  // Characters the code page lacks and broken sequences become '?'.
  EXPECT_EQ(Utf8ToAnsi("\xD0\x96|\xF0\x9F\x98\x80|\xC3|\xFF"), "?|?|?|?");
  EXPECT_EQ(Utf16ToAnsi(u"A\u00FC\u20AC\u0416\U0001F600"), "A\xFC\x80??");
  // The unassigned bytes survive a round trip.
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8("\x81\x8D\x8F\x90\x9D")), "\x81\x8D\x8F\x90\x9D");
  EXPECT_EQ(Utf16ToAnsi(AnsiToUtf16("\x80\x9F\xFF")), "\x80\x9F\xFF");
}

TEST(ObjectReader, IntegerTags) {
  const Bytes b = {vaInt8, 0xFE, vaInt16, 0x00, 0x80, vaInt32, 0x78, 0x56, 0x34, 0x12};
  TObjectReader r(b.data(), b.size());
  EXPECT_EQ(r.ReadInteger(), -2);
  EXPECT_EQ(r.ReadInteger(), -32768);
  EXPECT_EQ(r.ReadInteger(), 0x12345678);
  EXPECT_EQ(r.Remaining(), 0u);
}

TEST(ObjectReader, BooleansFromTagsAndIdentifiers) {
  const Bytes b = {vaTrue, vaFalse, vaIdent, 4, 't', 'r', 'u', 'E', vaIdent, 5, 'F', 'a', 'l', 's', 'e'};
  TObjectReader r(b.data(), b.size());
  EXPECT_TRUE(r.ReadBoolean());
  EXPECT_FALSE(r.ReadBoolean());
  EXPECT_TRUE(r.ReadBoolean());
  EXPECT_FALSE(r.ReadBoolean());
}

TEST(ObjectReader, StringTags) {
  Bytes b = {vaString, 3,    'a', 'b',  'c',  vaLString,    2, 0, 0, 0, 'x', 'y',  vaWString, 3,  0, 0, 0, 'S',
             0,        0xFC, 0,   0xAC, 0x20, vaUTF8String, 4, 0, 0, 0, 'e', 0xC3, 0xA9,      '!'};
  TObjectReader r(b.data(), b.size());
  EXPECT_EQ(r.ReadString(), "abc");
  EXPECT_EQ(r.ReadString(), "xy");
  EXPECT_EQ(r.ReadString(), "S\xFC\x80");
  EXPECT_EQ(r.ReadString(), "e\xE9!");
}

struct WrongTagCase {
  const char* what;
  Bytes bytes;
  int reader;  // 0 integer, 1 boolean, 2 string, 3 binary
};

TEST(ObjectReader, ValuesOfTheWrongKindAreInvalid) {
  const std::vector<WrongTagCase> cases = {
      {"string as integer", {vaString, 1, '1'}, 0},
      {"int64 as integer", {vaInt64, 1, 0, 0, 0, 0, 0, 0, 0}, 0},
      {"integer as boolean", {vaInt8, 1}, 1},
      {"other identifier as boolean", {vaIdent, 3, 'Y', 'e', 's'}, 1},
      {"identifier as string", {vaIdent, 1, 'a'}, 2},
      {"string as binary", {vaString, 0}, 3},
      {"unknown tag", {0x55, 0}, 2},
  };
  for (const auto& c : cases) {
    TObjectReader r(c.bytes.data(), c.bytes.size());
    size_t n = 0;
    const std::string msg = ErrorOf([&] {
      switch (c.reader) {
        case 0: r.ReadInteger(); break;
        case 1: r.ReadBoolean(); break;
        case 2: r.ReadString(); break;
        default: r.ReadBinary(n); break;
      }
    });
    EXPECT_EQ(msg, "Invalid property value") << c.what;
  }
}

TEST(ObjectReader, ReadingPastTheEndIsAReadError) {
  // Lengths are checked against what is left before anything is allocated.
  const std::vector<WrongTagCase> cases = {
      {"nothing", {}, 2},
      {"short int16", {vaInt16, 1}, 0},
      {"short int32", {vaInt32, 1, 2, 3}, 0},
      {"short string", {vaString, 5, 'a'}, 2},
      {"huge long string", {vaLString, 0xFF, 0xFF, 0xFF, 0xFF, 'a'}, 2},
      {"huge wide string", {vaWString, 0xFF, 0xFF, 0xFF, 0x7F, 'a', 0}, 2},
      {"odd wide string", {vaWString, 2, 0, 0, 0, 'a', 0, 'b'}, 2},
      {"huge utf-8 string", {vaUTF8String, 0, 0, 0, 0x80}, 2},
      {"short binary", {vaBinary, 0x00, 0x00, 0x00, 0x10, 1, 2, 3}, 3},
      {"binary length cut", {vaBinary, 1, 0}, 3},
  };
  for (const auto& c : cases) {
    TObjectReader r(c.bytes.data(), c.bytes.size());
    size_t n = 0;
    const std::string msg = ErrorOf([&] {
      if (c.reader == 0) r.ReadInteger();
      else if (c.reader == 2) r.ReadString();
      else r.ReadBinary(n);
    });
    EXPECT_EQ(msg, "Stream read error") << c.what;
  }
}

// A resource header with the given name, then the rest.
Bytes WithHeader(const std::string& name, const Bytes& rest) {
  Bytes b = {0xFF, 0x0A, 0x00};
  b.insert(b.end(), name.begin(), name.end());
  b.push_back(0);
  b.insert(b.end(), {0x30, 0x10, 0, 0, 0, 0});
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

TEST(ObjectReader, RootHeaderWithPrefixAndNames) {
  const Bytes obj = {'T', 'P', 'F', '0', 0xF2, vaInt8, 7, 3, 'T', 'A', 'B', 2, 'o', 'b'};
  for (const std::string& name : {std::string(), std::string("DATA"), std::string(75, 'N')}) {
    const Bytes b = WithHeader(name, obj);
    TObjectReader r(b.data(), b.size());
    const TRootHeader h = ReadRootHeader(r);
    EXPECT_EQ(h.ClassName, "TAB");
    EXPECT_EQ(h.ObjectName, "ob");
    EXPECT_EQ(r.Remaining(), 0u);
  }
  // A prefix without the child-position flag carries no integer.
  const Bytes noPos = WithHeader("X", {'T', 'P', 'F', '0', 0xF1, 1, 'C', 0});
  TObjectReader r(noPos.data(), noPos.size());
  EXPECT_EQ(ReadRootHeader(r).ClassName, "C");
}

TEST(ObjectReader, BadHeadersAndSignatures) {
  const Bytes obj = {'T', 'P', 'F', '0', 1, 'C', 0};
  Bytes wrongFirst = WithHeader("A", obj);
  wrongFirst[0] = 0xFE;
  Bytes wrongType = WithHeader("A", obj);
  wrongType[1] = 0x0B;
  Bytes wrongSignature = WithHeader("A", obj);
  wrongSignature[WithHeader("A", {}).size() + 3] = '1';
  Bytes unterminated = {0xFF, 0x0A, 0x00};
  unterminated.insert(unterminated.end(), 100, 'x');
  const std::vector<std::pair<Bytes, std::string>> cases = {
      {wrongFirst, "Invalid stream format"},
      {wrongType, "Invalid stream format"},
      {wrongSignature, "Invalid stream format"},
      {unterminated, "Invalid stream format"},
      {{}, "Invalid stream format"},
      {{0xFF, 0x0A}, "Invalid stream format"},
      {{0xFF, 0x0A, 0x00, 'A', 0, 0x30}, "Stream read error"},
      {WithHeader("A", {'T', 'P'}), "Stream read error"},
      {WithHeader("A", {'T', 'P', 'F', '0', 0xF2, vaString, 0, 1, 'C', 0}), "Invalid property value"},
  };
  for (const auto& [bytes, expected] : cases) {
    EXPECT_EQ(ErrorOf([&] {
                TObjectReader r(bytes.data(), bytes.size());
                ReadRootHeader(r);
              }),
              expected);
  }
}

// Records what the reader does with it.
class Recorder : public TStreamObject {
public:
  std::string name;
  std::vector<std::string>* log;
  explicit Recorder(std::vector<std::string>* l, std::string n = "") : name(std::move(n)), log(l) {}
  std::string ClassName() const override { return "TRecorder"; }
  std::string Name() const override { return name; }
  void ReadProperty(TObjectReader& r, const std::string& path) override {
    if (path == "A") log->push_back("A=" + std::to_string(r.ReadInteger()));
    else if (path == "S") log->push_back("S=" + r.ReadString());
    else PropertyPathNotFound(path, {"Sub"});
  }
};

TEST(ObjectReader, PropertyErrorsNameTheObjectAndProperty) {
  std::vector<std::string> log;
  struct Case {
    Bytes bytes;
    std::string objectName;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{1, 'A', vaString, 0, 0}, "", "Error reading TRecorder.A: Invalid property value"},
      {{1, 'A', vaString, 0, 0}, "Obj", "Error reading Obj.A: Invalid property value"},
      {{1, 'Z', vaInt8, 1, 0}, "", "Error reading TRecorder.Z: Property Z does not exist"},
      {{5, 'S', 'u', 'b', '.', 'Q', vaInt8, 1, 0}, "", "Error reading TRecorder.Sub.Q: Property Q does not exist"},
      {{5, 'O', 't', 'h', '.', 'Q', vaInt8, 1, 0}, "", "Error reading TRecorder.Oth.Q: Property Oth does not exist"},
      {{1, 'A', vaInt16, 1}, "", "Error reading TRecorder.A: Stream read error"},
      // Running out between properties is not inside one.
      {{1, 'A', vaInt8, 1}, "", "Stream read error"},
  };
  for (const Case& c : cases) {
    Recorder obj(&log, c.objectName);
    TObjectReader r(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(ErrorOf([&] { ReadProperties(r, obj); }), c.expected);
  }
}

TEST(ObjectReader, CollectionsWithOrderValues) {
  // Three items, the first two with order values of different widths.
  const Bytes b = {vaInt8, 5,        vaList, 1,   'A', vaInt8, 1,      0, vaInt16, 1,      1, vaList, 1,
                   'S',    vaString, 1,      'x', 1,   'A',    vaInt8, 2, 0,       vaList, 0, 0,      0xEE};
  std::vector<std::string> log;
  std::vector<std::unique_ptr<Recorder>> items;
  TObjectReader r(b.data(), b.size());
  ReadCollection(
      r, [&] { log.push_back("clear"); },
      [&]() -> TStreamObject& {
        log.push_back("add");
        items.push_back(std::make_unique<Recorder>(&log));
        return *items.back();
      });
  EXPECT_EQ(log, (std::vector<std::string>{"clear", "add", "A=1", "add", "S=x", "A=2", "add"}));
  EXPECT_EQ(r.Remaining(), 1u);

  // An empty collection does not clear.
  const Bytes empty = {0};
  TObjectReader r2(empty.data(), empty.size());
  log.clear();
  ReadCollection(
      r2, [&] { log.push_back("clear"); }, [&]() -> TStreamObject& { return *items[0]; });
  EXPECT_TRUE(log.empty());
}

TEST(ObjectReader, CollectionItemExistsBeforeItsPropertiesFail) {
  const Bytes b = {vaList, 1, 'A', vaInt8, 3, 0, vaList, 1, 'A', vaInt16, 5};
  std::vector<std::string> log;
  std::vector<std::unique_ptr<Recorder>> items;
  TObjectReader r(b.data(), b.size());
  const std::string msg = ErrorOf([&] {
    ReadCollection(
        r, [] {},
        [&]() -> TStreamObject& {
          items.push_back(std::make_unique<Recorder>(&log));
          return *items.back();
        });
  });
  EXPECT_EQ(msg, "Error reading TRecorder.A: Stream read error");
  EXPECT_EQ(items.size(), 2u);
  EXPECT_EQ(log, std::vector<std::string>{"A=3"});

  // Anything but 0x01 where an item should start is refused before adding.
  const Bytes bad = {vaInt8, 1, vaInt8, 0};
  TObjectReader r2(bad.data(), bad.size());
  items.clear();
  EXPECT_EQ(ErrorOf([&] {
              ReadCollection(
                  r2, [] {},
                  [&]() -> TStreamObject& {
                    items.push_back(std::make_unique<Recorder>(&log));
                    return *items.back();
                  });
            }),
            "Invalid property value");
  EXPECT_TRUE(items.empty());
}

TEST(ObjectWriter, ShortestIntegerTagsRoundTrip) {
  const std::vector<std::pair<int64_t, uint8_t>> cases = {
      {0, vaInt8},       {127, vaInt8},        {-128, vaInt8},       {128, vaInt16},
      {-129, vaInt16},   {32767, vaInt16},     {-32768, vaInt16},    {32768, vaInt32},
      {-32769, vaInt32}, {INT32_MAX, vaInt32}, {INT32_MIN, vaInt32},
  };
  for (const auto& [v, tag] : cases) {
    TObjectWriter w;
    w.WriteInteger(v);
    ASSERT_EQ(w.Bytes[0], tag) << v;
    TObjectReader r(w.Bytes.data(), w.Bytes.size());
    EXPECT_EQ(r.ReadInteger(), v);
    EXPECT_EQ(r.Remaining(), 0u);
  }
}

TEST(ObjectWriter, StringsAndHeaderRoundTrip) {
  TObjectWriter w;
  w.BeginResHeader(std::string(90, 'R'));  // longer names are cut to fit
  w.WriteSignature();
  w.WriteStr("TRoot");
  w.WriteStr("");
  w.WriteString("short");
  w.WriteString(std::string(300, 'L'));
  w.WriteWideString(u"W\u00E9");
  w.WriteUtf8String("\xC3\xA9t\xC3\xA9");
  w.WriteBoolean(true);
  w.WriteIdent("clRed");
  w.WriteBinary("\x01\x02", 2);
  w.EndResHeader();
  TObjectReader r(w.Bytes.data(), w.Bytes.size());
  const TRootHeader h = ReadRootHeader(r);
  EXPECT_EQ(h.ClassName, "TRoot");
  EXPECT_EQ(r.ReadString(), "short");
  EXPECT_EQ(w.Bytes[r.Position()], vaLString);
  EXPECT_EQ(r.ReadString(), std::string(300, 'L'));
  EXPECT_EQ(r.ReadString(), "W\xE9");
  EXPECT_EQ(r.ReadString(), "\xE9t\xE9");
  EXPECT_TRUE(r.ReadBoolean());
  EXPECT_EQ(r.ReadIdent(), "clRed");
  size_t n = 0;
  const uint8_t* p = r.ReadBinary(n);
  ASSERT_EQ(n, 2u);
  EXPECT_EQ(p[1], 2);
  // The size field counts what follows the header.
  const size_t headerEnd = 3 + 75 + 1 + 2 + 4;
  const uint32_t size = LoadLE32(w.Bytes.data() + headerEnd - 4);
  EXPECT_EQ(size, w.Bytes.size() - headerEnd);
}

// Both file readers, as one shape: the buffer one must give the same bytes
// and the same errors as the vector one.
const struct {
  const char* name;
  Bytes (*read)(const std::string&);
} kFileReaders[] = {
    {"ReadFileBytes", [](const std::string& path) { return ReadFileBytes(path); }},
    {"ReadFileBuffer",
     [](const std::string& path) {
       const TFileBuffer b = ReadFileBuffer(path);
       EXPECT_NE(b.Data, nullptr);
       return Bytes(b.Data.get(), b.Data.get() + b.Size);
     }},
};

TEST(ReadFileBytes, MissingFileNamesPathAndReason) {
  const std::string path = "/nonexistent-dir/none.dxg";
  for (const auto& reader : kFileReaders) {
    SCOPED_TRACE(reader.name);
    EXPECT_EQ(ErrorOf([&] { reader.read(path); }),
              "Cannot open file \"/nonexistent-dir/none.dxg\". No such file or directory");
    try {
      reader.read(path);
      FAIL();
    } catch (const EFOpenError&) {
    }
  }
}

// Sizes around stdio's chunk and the buffer's one spare byte.
TEST(ReadFileBytes, WholeFilesOfEverySize) {
  const std::string path = testing::TempDir() + "read_file_sizes.bin";
  for (const size_t size : {size_t{0}, size_t{1}, size_t{65535}, size_t{65536}, size_t{65537}, size_t{300001}}) {
    Bytes written(size);
    for (size_t i = 0; i < size; ++i) written[i] = static_cast<uint8_t>((i * 131) ^ (i >> 9));
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    if (size > 0) {
      ASSERT_EQ(std::fwrite(written.data(), 1, size, f), size);
    }
    std::fclose(f);
    for (const auto& reader : kFileReaders) {
      SCOPED_TRACE(std::string(reader.name) + " " + std::to_string(size));
      EXPECT_EQ(reader.read(path), written);
    }
  }
  std::remove(path.c_str());
}

// A pipe would block the open until someone writes; a device may never end.
TEST(ReadFileBytes, OnlyRegularFilesAreRead) {
  const std::string dir = testing::TempDir() + "read_file_bytes_test/";
  mkdir(dir.c_str(), 0700);
  const std::string fifo = dir + "pipe.dxg";
  unlink(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string path;
    std::string reason;
  } cases[] = {{fifo, "Invalid argument"}, {"/dev/zero", "Invalid argument"}, {dir, "Is a directory"}};
  for (const auto& reader : kFileReaders)
    for (const auto& c : cases)
      EXPECT_EQ(ErrorOf([&] { reader.read(c.path); }), "Cannot open file \"" + c.path + "\". " + c.reason)
          << reader.name;
  unlink(fifo.c_str());
  rmdir(dir.c_str());
}

}  // namespace
