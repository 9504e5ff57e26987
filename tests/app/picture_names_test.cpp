// Every picture the code asks for by name is in the archive it asks in, so a
// typo in the code or a name missing from the art fails here, not in play.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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

Uses ScanSources() {
  Uses uses;
  // The sprites ask through the world's services, the form asks its lists.
  const std::regex gameFind(R"re((?:GameImgs\.Items\.Find|GamePicture)\("([^"]+)"\))re");
  const std::regex menuFind(R"re((?:DXImageList1\.Items\.Find|MenuPicture)\("([^"]+)"\))re");
  // Sprites of the menus and backgrounds take their picture by name.
  const std::regex menuCtor(R"re(new (?:TFon|TAsk|TFonB)\([^,]+,\s*"([^"]+)"\))re");
  const std::regex menuButton(R"re(new TMenuB\([^,]+,\s*"([^"]+)")re");
  for (const char* area : {"app", "world", "ui"}) {
    for (const auto& entry : fs::recursive_directory_iterator(fs::path(QV_SOURCE_DIR) / "src" / area)) {
      if (entry.path().extension() != ".cpp") continue;
      std::ifstream in(entry.path());
      std::stringstream ss;
      ss << in.rdbuf();
      const std::string text = ss.str();
      for (auto [re, set] : {std::pair{&gameFind, &uses.game}, std::pair{&menuFind, &uses.menu},
                             std::pair{&menuCtor, &uses.menu}, std::pair{&menuButton, &uses.menu}})
        for (auto it = std::sregex_iterator(text.begin(), text.end(), *re); it != std::sregex_iterator(); ++it)
          set->insert((*it)[1]);
    }
  }
  uses.menu.erase("Game");  // picks one of the three level backgrounds
  // The names declared once for the code, and those it builds from parts:
  // the level backgrounds and the help pages.
  for (const char* n : kMenuPictureNames) uses.menu.insert(n);
  for (const char* n : kGamePictureNames) uses.game.insert(n);
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
  EXPECT_TRUE(uses.menu.count("Qtns") && uses.menu.count("FonMenu"));
  for (const auto& name : uses.game) EXPECT_GE(game.Items.IndexOf(name), 0) << name << " in GData.dxg";
  for (const auto& name : uses.menu) EXPECT_GE(menu.Items.IndexOf(name), 0) << name << " in MData.dxg";
}
