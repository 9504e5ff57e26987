#include "media/wave_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <thread>

#include "base/byte_order.h"
#include "base/errors.h"
#include "support/null_host.h"

namespace {

// Just enough of a host for the sound component: an audio device that may or
// may not be there, and whose callback the test pulls by hand.
class AudioOnlyHost : public NullHost {
public:
  bool audioAvailable = true;
  int rate = 44100;
  AudioSource* source = nullptr;
  int opens = 0, closes = 0, messages = 0;

  std::vector<float> Pull(int frames) {
    std::vector<float> out(2 * static_cast<size_t>(frames), 0.0f);
    if (source) source->RenderAudio(out.data(), frames);
    return out;
  }

  void MessageBox(const std::string&, const std::string&) override { ++messages; }
  bool OpenAudio(AudioSource* s, int& sampleRate) override {
    ++opens;
    if (!audioAvailable) return false;
    source = s;
    sampleRate = rate;
    return true;
  }
  void CloseAudio() override {
    ++closes;
    source = nullptr;
  }
};

std::vector<uint8_t> Fmt(int channels, int rate, int bits, int tag = 1) {
  const int align = channels * bits / 8;
  std::vector<uint8_t> f;
  auto u16 = [&](int v) { AppendLE16(f, static_cast<uint16_t>(v)); };
  auto u32 = [&](uint32_t v) { AppendLE32(f, v); };
  u16(tag), u16(channels), u32(rate), u32(rate * align), u16(align), u16(bits);
  return f;
}

// 16-bit mono samples (1/32768 units) of a recognisable shape.
std::vector<int16_t> Shape(int n, int seed) {
  std::vector<int16_t> v(n);
  for (int i = 0; i < n; ++i) v[i] = static_cast<int16_t>(((i * (7 + seed)) % 401 - 200) * 40 + seed);
  return v;
}

TWave Wave16(const std::vector<int16_t>& v, int rate = 44100) {
  TWave w;
  w.Format = Fmt(1, rate, 16);
  for (int16_t s : v) AppendLE16(w.Data, static_cast<uint16_t>(s));
  return w;
}

float F(int16_t s) { return s / 32768.0f; }

const std::vector<int16_t> kDie = Shape(1000, 1);
const std::vector<int16_t> kShum = Shape(300, 2);
const std::vector<int16_t> kBeep = std::vector<int16_t>(200, 16384);

std::vector<uint8_t> GameArchive() {
  std::vector<TWaveArchiveItem> items(4);
  items[0].Name = "Beep", items[0].Wave = Wave16(kBeep);
  items[1].Name = "Die", items[1].Wave = Wave16(kDie);
  items[2].Name = "Shum", items[2].Wave = Wave16(kShum), items[2].Looped = true;
  items[3].Name = "Empty", items[3].Wave.Format = Fmt(1, 44100, 16);
  return WriteWaveArchive(items);
}

class WaveListTest : public testing::Test {
protected:
  void SetUp() override {
    sound.Initialize();
    ASSERT_TRUE(sound.Initialized());
    list.SetDXSound(&sound);
    list.LoadFromStream(GameArchive());
  }
  TWaveCollectionItem& Item(const char* name) { return list.Items().Find(name); }

  AudioOnlyHost host;
  TDXSound sound{host};
  TDXWaveList list;
};

}  // namespace

TEST_F(WaveListTest, ThreeOverlappingCopiesSumAndAFourthPlayReusesTheFirst) {
  TWaveCollectionItem& die = Item("Die");
  die.Play();
  auto a = host.Pull(100);
  die.Play();
  auto b = host.Pull(100);
  die.Play();
  auto c = host.Pull(900);
  EXPECT_EQ(die.CopyCount(), 3u);
  for (int i = 0; i < 100; ++i) ASSERT_FLOAT_EQ(a[2 * i], F(kDie[i])) << i;
  for (int i = 0; i < 100; ++i) ASSERT_NEAR(b[2 * i], F(kDie[100 + i]) + F(kDie[i]), 1e-6) << i;
  for (int i = 0; i < 800; ++i) {
    ASSERT_NEAR(c[2 * i], F(kDie[200 + i]) + F(kDie[100 + i]) + F(kDie[i]), 2e-6) << i;
    ASSERT_EQ(c[2 * i], c[2 * i + 1]);
  }
  host.Pull(200);  // all three have finished
  EXPECT_FALSE(die.Playing());

  TSoundBuffer* first = die.Copy(0);
  die.Play();
  EXPECT_EQ(die.CopyCount(), 3u);
  EXPECT_EQ(die.Copy(0), first);
  EXPECT_TRUE(first->Playing());
  EXPECT_FALSE(die.Copy(1)->Playing());
  EXPECT_FALSE(die.Copy(2)->Playing());
  EXPECT_FLOAT_EQ(host.Pull(1)[0], F(kDie[0]));
  // Copies share the main buffer's data.
  EXPECT_EQ(first->SharedData().get(), die.MainBuffer()->SharedData().get());
}

TEST_F(WaveListTest, WithALimitOfTwoAThirdPlayRestartsTheOldestCopy) {
  TWaveCollectionItem& die = Item("Die");
  die.SetMaxPlayingCount(2);
  die.Play();
  host.Pull(100);
  die.Play();
  host.Pull(100);
  TSoundBuffer* oldest = die.Copy(0);
  TSoundBuffer* younger = die.Copy(1);
  die.Play();
  EXPECT_EQ(die.CopyCount(), 2u);
  // The oldest was cut off, restarted and moved to the end.
  EXPECT_EQ(die.Copy(0), younger);
  EXPECT_EQ(die.Copy(1), oldest);
  auto out = host.Pull(50);
  for (int i = 0; i < 50; ++i) ASSERT_NEAR(out[2 * i], F(kDie[100 + i]) + F(kDie[i]), 1e-6) << i;
}

TEST_F(WaveListTest, LoopedSoundRestartsFromTheStartAndStopSilencesIt) {
  TWaveCollectionItem& shum = Item("Shum");
  ASSERT_TRUE(shum.Looped());
  shum.Play();
  auto out = host.Pull(450);  // one and a half loops
  for (int i = 0; i < 450; ++i) ASSERT_FLOAT_EQ(out[2 * i], F(kShum[i % 300])) << i;
  EXPECT_EQ(shum.CopyCount(), 0u);  // the main buffer loops itself
  shum.Play();
  out = host.Pull(10);
  for (int i = 0; i < 10; ++i) ASSERT_FLOAT_EQ(out[2 * i], F(kShum[i])) << i;
  shum.Stop();
  EXPECT_FALSE(shum.Playing());
  out = host.Pull(100);
  for (float s : out) ASSERT_EQ(s, 0.0f);
}

TEST_F(WaveListTest, SettingLoopedOnASoundingItemStopsIt) {
  TWaveCollectionItem& die = Item("Die");
  die.Play();
  host.Pull(10);
  ASSERT_TRUE(die.Playing());
  die.SetLooped(true);
  EXPECT_TRUE(die.Looped());
  EXPECT_FALSE(die.Playing());
  for (float s : host.Pull(50)) ASSERT_EQ(s, 0.0f);

  TWaveCollectionItem& shum = Item("Shum");
  shum.Play();
  shum.SetLooped(true);  // not a new value: keeps sounding
  EXPECT_TRUE(shum.Playing());
  shum.SetLooped(false);
  EXPECT_FALSE(shum.Playing());
}

TEST_F(WaveListTest, StopOnAnItemThatNeverPlayedDoesNothing) {
  TWaveCollectionItem& die = Item("Die");
  TWaveCollectionItem& shum = Item("Shum");
  shum.Play();
  die.Stop();
  EXPECT_EQ(die.CopyCount(), 0u);
  EXPECT_FALSE(die.Playing());
  EXPECT_TRUE(shum.Playing());  // others are untouched
  // Nor on an item that is not initialised.
  TWaveCollection loose;
  TWaveCollectionItem& item = loose.Add();
  item.SetWave(Wave16(kDie));
  item.Stop();
  item.Play();
  EXPECT_FALSE(item.Playing());
}

TEST_F(WaveListTest, VolumeAppliesToTheMainBufferAtOnceAndToEveryCopy) {
  TWaveCollectionItem& beep = Item("Beep");
  beep.SetVolume(-800);
  EXPECT_EQ(beep.MainBuffer()->Volume(), -800);
  beep.Play();
  auto out = host.Pull(10);
  EXPECT_NEAR(out[0], 0.5 * std::pow(10.0, -0.4), 1e-6);
  EXPECT_NEAR(out[1], 0.5 * std::pow(10.0, -0.4), 1e-6);
}

TEST_F(WaveListTest, PanAndFrequencyApplyWhenACopyStarts) {
  TWaveCollectionItem& beep = Item("Beep");
  beep.SetPan(-2000);
  beep.SetFrequency(88200);
  beep.Play();
  auto out = host.Pull(120);
  EXPECT_NEAR(out[0], 0.5, 1e-6);
  EXPECT_NEAR(out[1], 0.05, 1e-6);
  EXPECT_NE(out[2 * 99], 0.0f);  // 200 frames at twice the rate: 100 output frames
  EXPECT_EQ(out[2 * 101], 0.0f);
}

TEST_F(WaveListTest, MaxPlayingCountDropsCopiesAndRefusesNegatives) {
  TWaveCollectionItem& die = Item("Die");
  die.Play();
  die.Play();
  EXPECT_EQ(die.CopyCount(), 2u);
  die.SetMaxPlayingCount(-3);
  EXPECT_EQ(die.MaxPlayingCount(), 0);
  EXPECT_EQ(die.CopyCount(), 2u);  // 0 was already the value
  die.SetMaxPlayingCount(5);
  EXPECT_EQ(die.CopyCount(), 0u);
  for (float s : host.Pull(20)) ASSERT_EQ(s, 0.0f);
}

TEST_F(WaveListTest, AnEmptyWavePlaysNothing) {
  TWaveCollectionItem& empty = Item("Empty");
  EXPECT_EQ(empty.MainBuffer(), nullptr);
  empty.Play();
  empty.SetLooped(true);
  empty.Play();
  EXPECT_FALSE(empty.Playing());
  for (float s : host.Pull(20)) ASSERT_EQ(s, 0.0f);
}

TEST_F(WaveListTest, StopAllSilencesEveryItem) {
  Item("Die").Play();
  Item("Shum").Play();
  Item("Beep").Play();
  list.Items().StopAll();
  for (int i = 0; i < list.Items().Count(); ++i) EXPECT_FALSE(list.Items().Items(i).Playing()) << i;
  for (float s : host.Pull(20)) ASSERT_EQ(s, 0.0f);
}

TEST_F(WaveListTest, FinalizeDropsBuffersAndInitializeRebuildsThem) {
  Item("Shum").Play();
  sound.Finalize();
  EXPECT_EQ(host.closes, 1);
  EXPECT_FALSE(Item("Shum").Initialized());
  EXPECT_EQ(Item("Shum").MainBuffer(), nullptr);
  Item("Die").Play();  // not initialised: nothing
  EXPECT_EQ(Item("Die").CopyCount(), 0u);
  sound.Initialize();
  ASSERT_NE(Item("Die").MainBuffer(), nullptr);
  Item("Die").Play();
  EXPECT_FLOAT_EQ(host.Pull(1)[0], F(kDie[0]));
}

TEST_F(WaveListTest, ASoundComponentGoingAwayUnbindsTheList) {
  auto other = std::make_unique<TDXSound>(host);
  other->Initialize();
  TDXWaveList second;
  second.SetDXSound(other.get());
  second.LoadFromStream(GameArchive());
  ASSERT_TRUE(second.Items().Find("Die").Initialized());
  other.reset();
  EXPECT_EQ(second.DXSound(), nullptr);
  EXPECT_FALSE(second.Items().Find("Die").Initialized());
  second.Items().Find("Die").Play();  // must not touch the dead mixer
}

TEST_F(WaveListTest, BindingToAnInitialisedComponentInitialisesTheItems) {
  TDXWaveList late;
  late.LoadFromStream(GameArchive());
  EXPECT_FALSE(late.Items().Find("Die").Initialized());
  late.SetDXSound(&sound);
  EXPECT_TRUE(late.Items().Find("Die").Initialized());
  EXPECT_NE(late.Items().Find("Die").MainBuffer(), nullptr);
}

TEST_F(WaveListTest, PlayWithWaitReturnsOnceTheCopyHasFinished) {
  std::atomic<bool> done{false};
  std::thread audio([&] {
    while (!done) {
      host.Pull(441);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  Item("Die").Play(true);
  const bool playing = Item("Die").Playing();
  done = true;
  audio.join();
  EXPECT_FALSE(playing);
}

TEST_F(WaveListTest, PlayWithWaitDoesNotHangWhenNobodyPullsAudio) {
  // 1000 frames at 44100 Hz: the wait gives up about half a second later.
  const auto start = std::chrono::steady_clock::now();
  Item("Die").Play(true);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(Item("Die").Playing());
}

TEST(WaveListNoDevice, RunsSilentWithoutAMessage) {
  AudioOnlyHost host;
  host.audioAvailable = false;
  TDXSound sound(host);
  sound.Initialize();
  EXPECT_FALSE(sound.Initialized());
  EXPECT_EQ(host.messages, 0);
  TDXWaveList list;
  list.SetDXSound(&sound);
  list.LoadFromStream(GameArchive());
  TWaveCollectionItem& die = list.Items().Find("Die");
  EXPECT_FALSE(die.Initialized());
  die.Play();
  die.Stop();
  EXPECT_EQ(die.CopyCount(), 0u);
  EXPECT_EQ(host.closes, 0);
}

TEST(WaveListRate, A22050HzWaveIsResampledToA44100HzDevice) {
  AudioOnlyHost host;
  TDXSound sound(host);
  sound.Initialize();
  TDXWaveList list;
  list.SetDXSound(&sound);
  const auto shape = Shape(100, 3);
  std::vector<TWaveArchiveItem> items(1);
  items[0].Name = "Slow";
  items[0].Wave = Wave16(shape, 22050);
  list.LoadFromStream(WriteWaveArchive(items));
  list.Items().Find("slow").Play();
  auto out = host.Pull(210);
  for (int k = 0; k < 99; ++k) {
    ASSERT_FLOAT_EQ(out[4 * k], F(shape[k])) << k;
    ASSERT_NEAR(out[4 * k + 2], (F(shape[k]) + F(shape[k + 1])) / 2, 1e-6) << k;
  }
  EXPECT_EQ(out[2 * 205], 0.0f);
}

TEST(WaveListFormats, EightBitStereoAndSixteenBitMonoSoundAlike) {
  AudioOnlyHost host;
  host.rate = 22050;
  TDXSound sound(host);
  sound.Initialize();
  TDXWaveList list;
  list.SetDXSound(&sound);
  std::vector<TWaveArchiveItem> items(2);
  items[0].Name = "Eight";
  items[0].Wave.Format = Fmt(2, 22050, 8);
  items[1].Name = "Sixteen";
  items[1].Wave.Format = Fmt(1, 22050, 16);
  for (int i = 0; i < 64; ++i) {
    const int v = (i * 11) % 200 - 100;
    items[0].Wave.Data.push_back(static_cast<uint8_t>(v + 128));  // left
    items[0].Wave.Data.push_back(128);                            // right silent
    const int16_t s = static_cast<int16_t>(v * 256);
    AppendLE16(items[1].Wave.Data, static_cast<uint16_t>(s));
  }
  list.LoadFromStream(WriteWaveArchive(items));
  list.Items().Find("Eight").Play();
  auto eight = host.Pull(64);
  list.Items().Find("Sixteen").Play();
  auto sixteen = host.Pull(64);
  for (int i = 0; i < 64; ++i) {
    ASSERT_EQ(eight[2 * i], sixteen[2 * i]) << i;
    ASSERT_EQ(eight[2 * i + 1], 0.0f) << i;
    ASSERT_EQ(sixteen[2 * i + 1], sixteen[2 * i]) << i;
  }
}

TEST(WaveListFormats, LongerFormatRecordsArePlayable) {
  AudioOnlyHost host;
  TDXSound sound(host);
  sound.Initialize();
  TDXWaveList list;
  list.SetDXSound(&sound);
  auto withCbSize = Fmt(1, 44100, 16);
  withCbSize.insert(withCbSize.end(), {0, 0});  // 18 bytes
  auto extensible = Fmt(1, 44100, 16, 0xFFFE);
  const uint8_t tail[24] = {22, 0, 16, 0, 4, 0, 0, 0, 1, 0, 0, 0, 0, 0, 16, 0, 128, 0, 0, 170, 0, 56, 155, 113};
  extensible.insert(extensible.end(), tail, tail + 24);  // 40 bytes, sub-format PCM
  for (const auto& format : {withCbSize, extensible}) {
    SCOPED_TRACE(format.size());
    std::vector<TWaveArchiveItem> items(1);
    items[0].Name = "Long";
    items[0].Wave = Wave16(kDie);
    items[0].Wave.Format = format;
    list.LoadFromStream(WriteWaveArchive(items));
    ASSERT_EQ(list.Items().Find("Long").Wave().Format.size(), format.size());
    list.Items().Find("Long").Play();
    auto out = host.Pull(3);
    EXPECT_FLOAT_EQ(out[4], F(kDie[2]));
  }
}

TEST(WaveListFormats, AFormatWeCannotPlayIsReportedWhenTheBufferIsMade) {
  AudioOnlyHost host;
  TDXSound sound(host);
  sound.Initialize();
  TDXWaveList list;
  list.SetDXSound(&sound);
  struct Case {
    const char* what;
    std::vector<uint8_t> format;
  };
  const Case cases[] = {
      {"24-bit", Fmt(1, 44100, 24)}, {"IEEE float", Fmt(1, 44100, 32, 3)},        {"three channels", Fmt(3, 44100, 16)},
      {"no rate", Fmt(1, 0, 16)},    {"a format record cut short", {1, 0, 1, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<TWaveArchiveItem> items(1);
    items[0].Name = "Odd";
    items[0].Wave.Format = c.format;
    items[0].Wave.Data.assign(600, 0x10);
    try {
      list.LoadFromStream(WriteWaveArchive(items));
      FAIL() << "loaded";
    } catch (const EDirectSoundBufferError& e) {
      EXPECT_STREQ(e.what(), "Sound Buffer cannot be made");
    }
    // The item is there but plays nothing.
    list.Items().Find("Odd").Play();
    EXPECT_FALSE(list.Items().Find("Odd").Playing());
  }
}

TEST(WaveListShipped, TheGameArchiveHoldsTheSevenEffects) {
  const std::string path = std::string(QV_GAME_DIR) + "Sound/GSnd.dxg";
  ASSERT_TRUE(std::ifstream(path)) << "the build makes the sound archive";
  AudioOnlyHost host;
  TDXSound sound(host);
  sound.Initialize();
  TDXWaveList list;
  list.SetDXSound(&sound);
  list.LoadFromFile(path);
  for (const char* name : {"Beep", "Bum", "Die", "Level", "Molnia", "Over", "Shum"}) {
    SCOPED_TRACE(name);
    TWaveCollectionItem& item = list.Items().Find(name);
    ASSERT_NE(item.MainBuffer(), nullptr);
    const TSampleData& d = item.MainBuffer()->Data();
    EXPECT_GT(d.Frames, d.SampleRate / 20);  // at least 50 ms
    float peak = 0;
    for (float s : d.Samples) peak = std::max(peak, std::fabs(s));
    EXPECT_GT(peak, 0.3f);
    EXPECT_LT(peak, 1.0f);  // headroom: nothing clips
    item.Play();
    float heard = 0;
    for (float s : host.Pull(2048)) heard = std::max(heard, std::fabs(s));
    EXPECT_GT(heard, 0.05f);
    item.Stop();
  }
  // The fan loops: its last sample leads into its first like any other step.
  TWaveCollectionItem& shum = list.Items().Find("Shum");
  EXPECT_TRUE(shum.Looped());
  const auto& s = shum.MainBuffer()->Data().Samples;
  float largestStep = 0;
  for (size_t i = 1; i < s.size(); ++i) largestStep = std::max(largestStep, std::fabs(s[i] - s[i - 1]));
  EXPECT_LE(std::fabs(s.front() - s.back()), largestStep);
}

TEST(WaveCollection, FindIgnoresCaseAndTheLaterOfTwoNamesWins) {
  TWaveCollection c;
  TWaveCollectionItem& star = c.Add();
  star.SetName("Star");
  TWaveCollectionItem& upper = c.Add();
  upper.SetName("STAR");
  TWaveCollectionItem& beep = c.Add();
  beep.SetName("Beep");
  EXPECT_EQ(&c.Find("star"), &upper);
  EXPECT_EQ(&c.Find("bEEP"), &beep);
  EXPECT_EQ(c.IndexOf("Star"), 1);
  EXPECT_EQ(c.IndexOf("nothing"), -1);
  // Renaming moves an item in the index.
  upper.SetName("Moon");
  EXPECT_EQ(&c.Find("STAR"), &star);
  EXPECT_EQ(&c.Find("moon"), &upper);
  // Names that are equal only in Windows-1252 case folding.
  TWaveCollectionItem& accented = c.Add();
  accented.SetName("\xC9t\xC9");  // ÉTÉ
  EXPECT_EQ(&c.Find("\xE9t\xE9"), &accented);
}

TEST(WaveCollection, FindOfAnAbsentNameFails) {
  TWaveCollection c;
  c.Add().SetName("Beep");
  for (const char* name : {"Bee", "Beeps", "", "Die"}) {
    try {
      c.Find(name);
      FAIL() << name;
    } catch (const EListError& e) {
      EXPECT_EQ(std::string(e.what()), Format("Wave '%s' not found", name));
    }
  }
  EXPECT_THROW(c.Items(1), EListError);
  EXPECT_THROW(c.Items(-1), EListError);
}

TEST(WaveCollection, NameKeysFollowTheLengthAndTwoCharacters) {
  struct Case {
    const char* name;
    int key;
  };
  const Case cases[] = {
      {"", 0},
      {"A", 16},
      {"Beep", (4 * 16 + 'e' + 'b') % 256},
      {"BEEP", (4 * 16 + 'e' + 'b') % 256},
      {"Molnia", (6 * 16 + 'i' + 'm') % 256},
      {"\xC9t\xC9", (3 * 16 + 't' + 0xE9) % 256},  // lower case: the first is 0xE9
  };
  for (const Case& c : cases) EXPECT_EQ(TWaveCollection::HashOf(c.name), c.key) << c.name;
}

TEST_F(WaveListTest, LoadFromFileKeepsTheItemsWhenTheFileIsMissing) {
  EXPECT_THROW(list.LoadFromFile("/nonexistent/GSnd.dxg"), EFOpenError);
  EXPECT_EQ(list.Items().Count(), 4);
  EXPECT_NE(Item("Die").MainBuffer(), nullptr);
}

TEST_F(WaveListTest, LoadFromFileReplacesTheItemsAndBuildsTheirBuffers) {
  const std::string path = testing::TempDir() + "sound_list_test.dxg";
  std::vector<TWaveArchiveItem> items(1);
  items[0].Name = "Level";
  items[0].Wave = Wave16(kDie);
  const auto bytes = WriteWaveArchive(items);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  list.LoadFromFile(path);
  EXPECT_EQ(list.Items().Count(), 1);
  EXPECT_THROW(list.Items().Find("Die"), EListError);
  ASSERT_NE(Item("Level").MainBuffer(), nullptr);
  Item("Level").Play();
  EXPECT_FLOAT_EQ(host.Pull(1)[0], F(kDie[0]));

  // A damaged archive: an error, and no stale items survive its header.
  std::ofstream(path, std::ios::binary) << "not an archive";
  EXPECT_THROW(list.LoadFromFile(path), EStreamError);
  EXPECT_EQ(list.Items().Count(), 0);
  std::remove(path.c_str());
}

// An archive whose component carries "List" twice: each collection value with
// items empties the list before it is read, so only the last one stays, from
// a file as from memory.
TEST_F(WaveListTest, ASecondListValueReplacesTheFirstFromFileAsFromMemory) {
  std::vector<TWaveArchiveItem> two(2), one(1);
  two[0].Name = "A";
  two[1].Name = "B";
  one[0].Name = "C";
  for (auto* v : {&two, &one})
    for (auto& it : *v) it.Wave = Wave16(kDie);
  auto bytes = WriteWaveArchive(two);
  const auto other = WriteWaveArchive(one);
  const std::string key = "\x04List";
  const auto at = std::search(other.begin(), other.end(), key.begin(), key.end());
  ASSERT_NE(at, other.end());
  // Both end with the end of the property list and of the child list.
  bytes.insert(bytes.end() - 2, at, other.end() - 2);

  list.LoadFromStream(bytes);
  ASSERT_EQ(list.Items().Count(), 1);
  EXPECT_EQ(list.Items().Items(0).Name(), "C");

  const std::string path = testing::TempDir() + "two_lists_test.dxg";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  TDXWaveList fromFile;
  fromFile.LoadFromFile(path);
  ASSERT_EQ(fromFile.Items().Count(), 1);
  EXPECT_EQ(fromFile.Items().Items(0).Name(), "C");
  std::remove(path.c_str());
}

TEST_F(WaveListTest, ATruncatedArchiveKeepsTheItemsReadSoFarWithoutBuffers) {
  auto bytes = GameArchive();
  bytes.resize(bytes.size() - 700);  // cuts into the third item's wave
  EXPECT_THROW(list.LoadFromStream(bytes), EStreamError);
  ASSERT_GE(list.Items().Count(), 1);
  EXPECT_EQ(list.Items().Items(0).Name(), "Beep");
  EXPECT_EQ(list.Items().Items(0).MainBuffer(), nullptr);
  list.Items().Items(0).Play();
  for (float s : host.Pull(10)) ASSERT_EQ(s, 0.0f);
}
