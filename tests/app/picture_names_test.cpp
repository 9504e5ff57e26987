// Every picture the code asks for by name is in the archive it asks in, so a
// typo in the code or a name missing from the art fails here, not in play.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "base/names.h"
#include "media/image_list.h"

namespace fs = std::filesystem;

namespace {

struct Uses {
  std::set<std::string> game;  // GameImgs, from GData.dxg
  std::set<std::string> menu;  // DXImageList1, from MData.dxg
};

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The code names most pictures by their constants in base/names.h.
std::map<std::string, std::string> PictureConstants() {
  std::map<std::string, std::string> names;
  const std::string text = ReadText(fs::path(QV_SOURCE_DIR) / "src/base/names.h");
  const std::regex decl(R"re(constexpr const char\* (kPicture\w+) = "([^"]+)")re");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), decl); it != std::sregex_iterator(); ++it)
    names[(*it)[1]] = (*it)[2];
  return names;
}

Uses ScanSources() {
  Uses uses;
  const auto constants = PictureConstants();
  // A picture is named by a literal or by its constant.
  const std::string name = R"re(\s*(?:"([^"]+)"|(kPicture\w+)))re";
  // The sprites ask through the world's services, the form asks its lists.
  const std::regex gameFind(R"re((?:GameImgs\.Items\.Find|GamePicture)\()re" + name);
  const std::regex menuFind(R"re((?:DXImageList1\.Items\.Find|MenuPicture)\()re" + name);
  // Sprites of the menus and backgrounds take their picture by name.
  const std::regex menuCtor(R"re(new (?:TFon|TAsk|TFonB|TMenuB)\([^,]+,)re" + name);
  // The screens' tables name their buttons' and panels' pictures.
  const std::regex layoutName(R"re(\b(kPicture\w+)\b)re");
  for (const char* area : {"app", "world", "ui"}) {
    for (const auto& entry : fs::recursive_directory_iterator(fs::path(QV_SOURCE_DIR) / "src" / area)) {
      const fs::path& path = entry.path();
      if (path.extension() != ".cpp" && path.filename() != "screen_layout.h") continue;
      const std::string text = ReadText(path);
      auto collect = [&](const std::regex& re, std::set<std::string>& set, int literal, int constant) {
        for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it) {
          if (literal && (*it)[literal].matched) set.insert((*it)[literal]);
          if ((*it)[constant].matched) {
            const auto found = constants.find((*it)[constant]);
            EXPECT_NE(found, constants.end()) << (*it)[constant] << " in " << path;
            if (found != constants.end()) set.insert(found->second);
          }
        }
      };
      if (path.filename() == "screen_layout.h") {
        collect(layoutName, uses.menu, 0, 1);
        continue;
      }
      collect(gameFind, uses.game, 1, 2);
      collect(menuFind, uses.menu, 1, 2);
      collect(menuCtor, uses.menu, 1, 2);
    }
  }
  // Names the code builds from a prefix: the level backgrounds and the help
  // pages ("Game" picks one of the three).
  uses.menu.erase(kPictureGame);
  uses.menu.erase(kPictureHlp);
  for (const char* n : {"FonGame1", "FonGame2", "FonGame3", "Hlp1", "Hlp2", "Hlp3", "Hlp4"}) uses.menu.insert(n);
  return uses;
}

}  // namespace

TEST(PictureNames, EveryNameTheCodeUsesIsInItsArchive) {
  const std::string mdata = std::string(QV_GAME_DIR) + "Data/MData.dxg";
  const std::string gdata = std::string(QV_GAME_DIR) + "Data/GData.dxg";
  ASSERT_TRUE(fs::exists(mdata) && fs::exists(gdata)) << "the build makes both archives";
  TDXImageList menu, game;
  menu.LoadFromFile(mdata);
  game.LoadFromFile(gdata);
  const Uses uses = ScanSources();
  // The scan must find the pictures it is meant to find.
  EXPECT_GE(uses.game.size(), 12u);
  EXPECT_TRUE(uses.game.count("Player") && uses.game.count("Demon") && uses.game.count("Puk"));
  EXPECT_TRUE(uses.menu.count("Qtns") && uses.menu.count("FonMenu") && uses.menu.count("Start"));
  EXPECT_EQ(uses.game.count("FonMenu"), 0u);
  for (const auto& name : uses.game) EXPECT_GE(game.Items.IndexOf(name), 0) << name << " in GData.dxg";
  for (const auto& name : uses.menu) EXPECT_GE(menu.Items.IndexOf(name), 0) << name << " in MData.dxg";
}
