// Finding the data (portable folder, installed data folder, --data-dir) and
// choosing the folder of the writable files.
#include "app/install_paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

struct Tree {
  Tree() {
    char tmpl[] = "/tmp/quorvane-paths-XXXXXX";
    Root = mkdtemp(tmpl);
    Root += "/";
  }
  ~Tree() {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(Root, ec); !ec && it != fs::recursive_directory_iterator(); ++it)
      ::chmod(it->path().c_str(), 0700);
    ::chmod(Root.c_str(), 0700);
    fs::remove_all(Root, ec);
  }
  std::string Dir(const std::string& rel) {
    fs::create_directories(Root + rel);
    return Root + rel;
  }
  void File(const std::string& rel, const std::string& text) {
    fs::create_directories(fs::path(Root + rel).parent_path());
    std::ofstream(Root + rel, std::ios::binary) << text;
  }
  std::string Read(const std::string& rel) {
    std::ifstream in(Root + rel, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::string Root;
};

}  // namespace

TEST(FindDataDir, PortableInstalledAndGivenFolders) {
  Tree t;
  const std::string portable = t.Dir("portable/");
  t.Dir("portable/Data");
  const std::string bin = t.Dir("usr/bin/");
  t.Dir("usr/share/quorvane/Data");
  const std::string given = t.Dir("elsewhere");
  t.Dir("elsewhere/Data");

  struct Case {
    std::string exeDir, option, dir;
    bool portable;
  } cases[] = {
      {portable, "", portable, true},
      {bin, "", t.Root + "usr/share/quorvane/", false},
      // --data-dir is the player's word, even where the executable has data beside it.
      {portable, given, given + "/", false},
      {bin, given + "/", given + "/", false},
      // Naming the executable's own folder is still the portable layout.
      {portable, t.Root + "portable/../portable", t.Root + "portable/../portable/", true},
      {"", given, given + "/", false},
  };
  for (const Case& c : cases) {
    const DataLookup r = FindDataDir(c.exeDir, c.option, "../share/quorvane");
    EXPECT_EQ(r.Dir, c.dir) << c.exeDir << " " << c.option;
    EXPECT_EQ(r.Portable, c.portable) << c.exeDir << " " << c.option;
  }
}

TEST(FindDataDir, MissingDataNamesEveryPlaceLookedIn) {
  Tree t;
  const std::string bin = t.Dir("opt/bin/");
  DataLookup r = FindDataDir(bin, "", "../share/quorvane");
  EXPECT_TRUE(r.Dir.empty());
  EXPECT_NE(r.Error.find(bin), std::string::npos) << r.Error;
  EXPECT_NE(r.Error.find(t.Root + "opt/share/quorvane/"), std::string::npos) << r.Error;
  EXPECT_NE(r.Error.find("--data-dir"), std::string::npos) << r.Error;

  // A given folder without Data/ is an error naming it; nothing else is tried.
  t.Dir("opt/share/quorvane/Data");
  r = FindDataDir(bin, t.Root + "nothing", "../share/quorvane");
  EXPECT_TRUE(r.Dir.empty());
  EXPECT_NE(r.Error.find(t.Root + "nothing/"), std::string::npos) << r.Error;
  // A file called Data is not the data.
  t.File("fake/Data", "x");
  EXPECT_TRUE(FindDataDir(t.Root + "fake", "", "x").Dir.empty());
}

TEST(UserStateDir, FollowsTheBaseDirectoryRules) {
  const char* oldXdg = std::getenv("XDG_DATA_HOME");
  const char* oldHome = std::getenv("HOME");
  const std::string savedXdg = oldXdg ? oldXdg : "", savedHome = oldHome ? oldHome : "";
  ::setenv("HOME", "/home/player", 1);
  ::setenv("XDG_DATA_HOME", "/data/x", 1);
  EXPECT_EQ(UserStateDir(), "/data/x/quorvane/");
  ::setenv("XDG_DATA_HOME", "relative/x", 1);  // not absolute: ignored
  EXPECT_EQ(UserStateDir(), "/home/player/.local/share/quorvane/");
  ::unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(UserStateDir(), "/home/player/.local/share/quorvane/");
  ::setenv("XDG_DATA_HOME", "", 1);
  EXPECT_EQ(UserStateDir(), "/home/player/.local/share/quorvane/");
  if (oldXdg) ::setenv("XDG_DATA_HOME", savedXdg.c_str(), 1);
  else ::unsetenv("XDG_DATA_HOME");
  if (oldHome) ::setenv("HOME", savedHome.c_str(), 1);
  else ::unsetenv("HOME");
}

TEST(ChooseStateDir, AWritableProgramFolderKeepsItsFiles) {
  Tree t;
  const std::string game = t.Dir("game/");
  EXPECT_EQ(ChooseStateDir(game, t.Root + "xdg/quorvane/", true), game);
  EXPECT_EQ(ChooseStateDir(t.Root + "game", t.Root + "xdg/quorvane/", true), game);
  EXPECT_FALSE(fs::exists(t.Root + "xdg")) << "nothing is made in the user's folder";
}

TEST(ChooseStateDir, AReadOnlyInstallUsesTheUserFolderAndCopiesTheOldFiles) {
  Tree t;
  const std::string game = t.Dir("share/quorvane/");
  t.File("share/quorvane/Config.cfg", std::string(232, '\x01'));
  t.File("share/quorvane/quorvane.ini", "# site default\nportal=http://127.0.0.1/\n");
  ::chmod((game + "Config.cfg").c_str(), 0444);
  ::chmod(game.c_str(), 0555);
  const std::string xdg = t.Root + "home/.local/share/quorvane/";
  EXPECT_EQ(ChooseStateDir(game, xdg, true), xdg);
  EXPECT_EQ(t.Read("home/.local/share/quorvane/Config.cfg"), std::string(232, '\x01'));
  EXPECT_EQ(t.Read("home/.local/share/quorvane/quorvane.ini"), "# site default\nportal=http://127.0.0.1/\n");
  EXPECT_TRUE(fs::exists(game + "Config.cfg")) << "copied, never moved";
  struct stat st {};
  ASSERT_EQ(::stat(xdg.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // Later runs keep the user's own files.
  t.File("home/.local/share/quorvane/Config.cfg", std::string(232, '\x02'));
  EXPECT_EQ(ChooseStateDir(game, xdg, true), xdg);
  EXPECT_EQ(t.Read("home/.local/share/quorvane/Config.cfg"), std::string(232, '\x02'));
}

TEST(ChooseStateDir, AWritableConfigInAReadOnlyFolderStaysWhereItIs) {
  Tree t;
  const std::string game = t.Dir("game/");
  t.File("game/Config.cfg", std::string(232, '\x01'));
  ::chmod(game.c_str(), 0555);
  EXPECT_EQ(ChooseStateDir(game, t.Root + "xdg/quorvane/", true), game);
  // Without a home folder the program folder is kept, and its saves report their errors as ever.
  ::chmod((game + "Config.cfg").c_str(), 0444);
  EXPECT_EQ(ChooseStateDir(game, "", true), game);
}

TEST(ChooseStateDir, AnInstalledGameKeepsItsStateInTheUserFolderEvenWhenItCouldWrite) {
  // Root, or a prefix in the player's own home: the data folder is writable,
  // yet the installed tree is never written.
  Tree t;
  const std::string game = t.Dir("usr/share/quorvane/");
  t.File("usr/share/quorvane/Config.cfg", std::string(232, '\x03'));
  const std::string xdg = t.Root + "xdg/quorvane/";
  EXPECT_EQ(ChooseStateDir(game, xdg, false), xdg);
  // A table left there by an older version comes along once.
  EXPECT_EQ(t.Read("xdg/quorvane/Config.cfg"), std::string(232, '\x03'));
  EXPECT_EQ(ChooseStateDir(DataLookup{game, "", false}, xdg), xdg);
  EXPECT_EQ(ChooseStateDir(DataLookup{game, "", true}, xdg), game);
  // Without any home folder there is nowhere else.
  EXPECT_EQ(ChooseStateDir(game, "", false), game);
}
