// What the command line and quorvane.ini change in the form: the folder of
// the writable files, the display of one run, the value of a setting.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/form.h"
#include "persist/config.h"
#include "platform/headless_host.h"
#include "support/test_game.h"

namespace fs = std::filesystem;

namespace {

ConfigRecord OnDisk(const std::string& dir) {
  ConfigRecord c{};
  std::ifstream in(dir + "Config.cfg", std::ios::binary);
  in.read(reinterpret_cast<char*>(&c), sizeof c);
  EXPECT_EQ(in.gcount(), static_cast<std::streamsize>(sizeof c));
  return c;
}

}  // namespace

TEST(RunOptions, StateDirStartsAsTheProgramFolder) {
  HeadlessHost host;
  TForm1 form(host, "/some/where/");
  EXPECT_EQ(form.StateDir, "/some/where/");
}

TEST(RunOptions, ConfigAndSettingsLiveInTheStateFolder) {
  ProgramFolder data(ProgramFolder::Empty), state(ProgramFolder::Empty);
  std::ofstream(state.Dir + "quorvane.ini") << "# mine\nportal=http://127.0.0.1:1/\n";
  HeadlessHost host;
  TForm1 form(host, data.Dir);
  form.StateDir = state.Dir;
  host.Attach(&form);
  form.FormCreate();
  EXPECT_TRUE(fs::exists(state.Dir + "Config.cfg"));
  EXPECT_FALSE(fs::exists(data.Dir + "Config.cfg")) << "the data folder is never written";
  EXPECT_EQ(form.Setting("portal"), "http://127.0.0.1:1/");
  form.SettingOverrides["portal"] = "http://127.0.0.1:2/";
  EXPECT_EQ(form.Setting("portal"), "http://127.0.0.1:2/") << "the command line wins for this run";
  EXPECT_EQ(form.Setting("scale", "1"), "1");
  form.FormClose();
  EXPECT_FALSE(fs::exists(data.Dir + "Config.cfg"));
}

TEST(RunOptions, DisplayOfOneRunLeavesTheSavedChoiceUntilThePlayerPicksOne) {
  struct Case {
    uint8_t saved, run;
  } cases[] = {{0, 1}, {1, 0}, {1, 1}};
  for (const auto& c : cases) {
    ProgramFolder p(ProgramFolder::Empty);
    ConfigRecord rec = DefaultConfigRecord();
    rec.WindowMode = c.saved;
    SaveConfig(rec, p.Dir);
    HeadlessHost host;
    TForm1 form(host, p.Dir);
    form.RunWindowMode = c.run;
    host.Attach(&form);
    form.FormCreate();
    EXPECT_EQ(form.Config.WindowMode, c.run);
    EXPECT_EQ(host.FullScreen(), c.run == 0);
    form.FormClose();
    EXPECT_EQ(OnDisk(p.Dir).WindowMode, c.saved) << int(c.saved) << int(c.run);
    EXPECT_EQ(OnDisk(p.Dir).StartCount, 1u) << "the rest of the record is saved as usual";

    // The player switches in the game: that choice is saved from then on.
    form.Config.WindowMode = c.run ^ 1;
    form.ApplyDisplayMode();
    EXPECT_EQ(OnDisk(p.Dir).WindowMode, c.run ^ 1);
    form.Config.WindowMode = c.run;
    form.ApplyDisplayMode();
    EXPECT_EQ(OnDisk(p.Dir).WindowMode, c.run);
  }
}
