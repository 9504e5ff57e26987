// Game controllers: the key table both hosts share, then SDL's own virtual
// controllers driving the real game through SdlPads (menus, a game, steering,
// unplugging and plugging in again, several pads, rumble).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/pad_keys.h"
#include "platform/sdl_host.h"
#include "platform/sdl_pads.h"
#include "support/ui_support.h"
#include "world/player.h"
#include "world/scenery.h"

namespace {
struct KeyLog : PadKeys::Sink {
  void PadKeyDown(uint16_t vk) override { log.push_back("down " + std::to_string(vk)); }
  void PadKeyUp(uint16_t vk) override { log.push_back("up " + std::to_string(vk)); }
  std::vector<std::string> log;
};

PadState Pressed(std::initializer_list<PadButton> buttons, int x = 0, int y = 0) {
  PadState s;
  for (PadButton b : buttons) s.Buttons[static_cast<int>(b)] = true;
  s.LeftX = x;
  s.LeftY = y;
  return s;
}
}  // namespace

TEST(PadKeys, ButtonsGiveTheKeysOfMenusPlayAndNameEntry) {
  constexpr PadMode M = PadMode::Menus, P = PadMode::Play, N = PadMode::Naming;
  const struct {
    PadButton button;
    PadMode mode;
    int vk;  // 0: nothing
  } cases[] = {
      {PadButton::A, M, 13},
      {PadButton::B, M, 27},
      {PadButton::Start, M, 13},
      {PadButton::Back, M, 27},
      {PadButton::A, P, 0},
      {PadButton::B, P, 0},
      {PadButton::Start, P, 'P'},
      {PadButton::Back, P, 27},
      {PadButton::DpUp, P, 38},
      {PadButton::DpDown, M, 40},
      {PadButton::DpLeft, P, 37},
      {PadButton::DpRight, M, 39},
      // Name entry: A and right add the picked letter, B and left delete,
      // Start answers, Back leaves; up and down pick.
      {PadButton::A, N, VK_GAMEPAD_A},
      {PadButton::DpRight, N, VK_GAMEPAD_A},
      {PadButton::B, N, 8},
      {PadButton::DpLeft, N, 8},
      {PadButton::Start, N, 13},
      {PadButton::Back, N, 27},
      {PadButton::DpUp, N, 38},
      {PadButton::DpDown, N, 40},
  };
  for (const auto& c : cases) {
    PadKeys keys;
    KeyLog sink;
    keys.Set(7, Pressed({c.button}), c.mode, sink);
    keys.Set(7, PadState{}, c.mode, sink);
    const std::vector<std::string> want =
        c.vk ? std::vector<std::string>{"down " + std::to_string(c.vk), "up " + std::to_string(c.vk)}
             : std::vector<std::string>{};
    EXPECT_EQ(sink.log, want) << static_cast<int>(c.button) << " in mode " << static_cast<int>(c.mode);
  }
}

TEST(PadKeys, TheStickHasADeadZoneAndLetsGoBelowItsPressLine) {
  PadKeys keys;
  KeyLog sink;
  const struct {
    int x, y;
    std::vector<std::string> log;
  } steps[] = {
      {10000, 0, {}},                                    // inside the dead zone
      {20000, 0, {"down 39"}},                           // past half way: right
      {14000, 0, {}},                                    // between the lines: still held
      {12000, 0, {"up 39"}},                             // below 40%: released
      {14000, 0, {}},                                    // and not pressed again until half way
      {0, -32768, {"down 38"}},                          // up
      {-32768, 32767, {"up 38", "down 40", "down 37"}},  // a diagonal: down and left
      {0, 0, {"up 40", "up 37"}},
  };
  for (const auto& s : steps) {
    sink.log.clear();
    keys.Set(1, Pressed({}, s.x, s.y), PadMode::Play, sink);
    EXPECT_EQ(sink.log, s.log) << s.x << "," << s.y;
  }
}

TEST(PadKeys, APressIsReleasedAsTheKeyItPressedEvenWhenPlayStartsBetween) {
  PadKeys keys;
  KeyLog sink;
  keys.Set(1, Pressed({PadButton::A}), PadMode::Menus, sink);  // Enter in the menu starts a game...
  keys.Set(1, PadState{}, PadMode::Play, sink);                // ...and is let go in play
  EXPECT_EQ(sink.log, (std::vector<std::string>{"down 13", "up 13"}));
}

TEST(PadKeys, SeveralPadsShareTheKeysAndAnUnpluggedPadLetsGoOfOnlyItsOwn) {
  PadKeys keys;
  KeyLog sink;
  keys.Set(1, Pressed({PadButton::DpLeft}), PadMode::Play, sink);
  keys.Set(2, Pressed({}, -30000, 0), PadMode::Play, sink);  // the second pad's stick also says left
  keys.Set(2, Pressed({PadButton::Back}, -30000, 0), PadMode::Play, sink);
  EXPECT_EQ(sink.log, (std::vector<std::string>{"down 37", "down 27"}));
  sink.log.clear();
  keys.Remove(1, PadMode::Play, sink);  // left is still held by pad 2
  EXPECT_TRUE(sink.log.empty());
  keys.Remove(2, PadMode::Play, sink);
  EXPECT_EQ(sink.log, (std::vector<std::string>{"up 27", "up 37"}));
  // B and Back both mean Escape in the menus: one press until both let go.
  sink.log.clear();
  keys.Set(3, Pressed({PadButton::B}), PadMode::Menus, sink);
  keys.Set(3, Pressed({PadButton::B, PadButton::Back}), PadMode::Menus, sink);
  keys.Set(3, Pressed({PadButton::Back}), PadMode::Menus, sink);
  keys.Set(3, PadState{}, PadMode::Menus, sink);
  EXPECT_EQ(sink.log, (std::vector<std::string>{"down 27", "up 27"}));
}

TEST(PadKeys, ScriptNamesOfButtonsAndAxes) {
  EXPECT_EQ(PadButtonFromName("dpright"), PadButton::DpRight);
  EXPECT_EQ(PadButtonFromName("start"), PadButton::Start);
  EXPECT_FALSE(PadButtonFromName("x").has_value());
  EXPECT_EQ(PadAxisFromName("lefty"), PadAxis::LeftY);
  EXPECT_FALSE(PadAxisFromName("rightx").has_value());
}

namespace {
using ui_test::HaveAssets;

// SDL with only its controller subsystem, and virtual pads on it.
class VirtualPads : public ::testing::Test, public PadKeys::Sink {
protected:
  void SetUp() override {
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER), 0) << SDL_GetError();
    pads.Init("");
  }
  void TearDown() override {
    pads.Close();
    for (SDL_Joystick* j : sticks)
      if (j) SDL_JoystickClose(j);
    SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
  }

  // Plugs in a pad with every standard button and axis; its index in sticks.
  int Attach(SDL_VirtualJoystickDesc desc = {}) {
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
    desc.naxes = SDL_CONTROLLER_AXIS_MAX;
    desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
    if (!desc.name) desc.name = "test pad";
    const int device = SDL_JoystickAttachVirtualEx(&desc);
    EXPECT_GE(device, 0) << SDL_GetError();
    sticks.push_back(SDL_JoystickOpen(device));
    EXPECT_NE(sticks.back(), nullptr) << SDL_GetError();
    Pump();
    return static_cast<int>(sticks.size()) - 1;
  }
  void Detach(int pad) {
    const SDL_JoystickID id = SDL_JoystickInstanceID(sticks[pad]);
    SDL_JoystickClose(sticks[pad]);
    sticks[pad] = nullptr;
    for (int i = 0; i < SDL_NumJoysticks(); i++)
      if (SDL_JoystickGetDeviceInstanceID(i) == id) SDL_JoystickDetachVirtual(i);
    Pump();
  }
  void Button(int pad, SDL_GameControllerButton b, bool down) {
    SDL_JoystickSetVirtualButton(sticks[pad], b, down ? 1 : 0);
    Pump();
  }
  void Tap(int pad, SDL_GameControllerButton b) {
    Button(pad, b, true);
    Button(pad, b, false);
  }
  void Axis(int pad, SDL_GameControllerAxis a, int v) {
    SDL_JoystickSetVirtualAxis(sticks[pad], a, static_cast<Sint16>(v));
    Pump();
  }
  // What a host's loop does: every waiting event goes to the pads.
  void Pump() {
    SDL_GameControllerUpdate();
    SDL_Event e;
    while (SDL_PollEvent(&e)) pads.Handle(e, game ? game->Form().HostPadMode() : PadMode::Menus, *this);
  }
  void PadKeyDown(uint16_t vk) override {
    if (game) game->Host().KeyDown(vk);
  }
  void PadKeyUp(uint16_t vk) override {
    if (game) game->Host().KeyUp(vk);
  }

  SdlPads pads;
  std::vector<SDL_Joystick*> sticks;
  TestGame* game = nullptr;
};

// From the menu to the first level with its intro over.
void IntoPlay(TestGame& g) { g.Ticks(120); }
}  // namespace

TEST_F(VirtualPads, ThePadDrivesTheMenuAndStartsAGame) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  game = &g;
  const int pad = Attach();
  EXPECT_EQ(pads.Count(), 1);
  EXPECT_EQ(g.Form().ScreenName, "Menu");
  Tap(pad, SDL_CONTROLLER_BUTTON_DPAD_DOWN);
  EXPECT_EQ(g.Form().Selection, 2);
  // A flick of the stick is one step.
  Axis(pad, SDL_CONTROLLER_AXIS_LEFTY, 32767);
  Axis(pad, SDL_CONTROLLER_AXIS_LEFTY, 0);
  EXPECT_EQ(g.Form().Selection, 3);
  Axis(pad, SDL_CONTROLLER_AXIS_LEFTY, -32768);
  Axis(pad, SDL_CONTROLLER_AXIS_LEFTY, 0);
  Tap(pad, SDL_CONTROLLER_BUTTON_DPAD_UP);
  EXPECT_EQ(g.Form().Selection, 1);
  // B goes back: on the menu that is the question to leave, and B again closes it.
  Tap(pad, SDL_CONTROLLER_BUTTON_B);
  EXPECT_EQ(g.Form().ScreenName, "Exit?");
  Tap(pad, SDL_CONTROLLER_BUTTON_B);
  EXPECT_EQ(g.Form().ScreenName, "Menu");
  Tap(pad, SDL_CONTROLLER_BUTTON_A);
  EXPECT_EQ(g.Form().ScreenName, "Game");
  ASSERT_NE(g.Form().Player, nullptr);
  game = nullptr;
}

TEST_F(VirtualPads, StickAndDpadSteerStartPausesBackAsksToLeave) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  game = &g;
  g.Run("call StartGame\n");
  IntoPlay(g);
  const int pad = Attach();
  TPlayer* p = g.Form().Player;
  ASSERT_NE(p, nullptr);
  // Velocities, since the pilot drifts on after a push: each push below turns
  // the drift the other way, which nothing but the push can do.
  EXPECT_EQ(p->VX, 0);
  Axis(pad, SDL_CONTROLLER_AXIS_LEFTX, 32767);
  g.Ticks(20);
  EXPECT_GT(p->VX, 1) << "the stick steers right";
  Axis(pad, SDL_CONTROLLER_AXIS_LEFTX, 0);
  Button(pad, SDL_CONTROLLER_BUTTON_DPAD_LEFT, true);
  g.Ticks(20);
  EXPECT_LT(p->VX, -1) << "the d-pad steers left";
  Button(pad, SDL_CONTROLLER_BUTTON_DPAD_LEFT, false);
  Button(pad, SDL_CONTROLLER_BUTTON_DPAD_UP, true);
  g.Ticks(20);
  EXPECT_LT(p->VY, -1) << "the d-pad steers up";
  Button(pad, SDL_CONTROLLER_BUTTON_DPAD_UP, false);
  Tap(pad, SDL_CONTROLLER_BUTTON_A);  // nothing in play
  EXPECT_EQ(g.Form().ScreenName, "Game");
  Tap(pad, SDL_CONTROLLER_BUTTON_START);
  EXPECT_TRUE(g.Form().Paused);
  Tap(pad, SDL_CONTROLLER_BUTTON_START);
  EXPECT_FALSE(g.Form().Paused);
  Tap(pad, SDL_CONTROLLER_BUTTON_BACK);
  EXPECT_EQ(g.Form().ScreenName, "ExitGame?");
  game = nullptr;
}

TEST_F(VirtualPads, UnpluggingDuringPlayDisturbsNeitherTheKeyboardNorAnotherPad) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  game = &g;
  g.Run("call StartGame\n");
  IntoPlay(g);
  const int first = Attach();
  const int second = Attach();
  EXPECT_EQ(pads.Count(), 2);
  g.Host().KeyDown('W');  // the keyboard steers up meanwhile
  Button(first, SDL_CONTROLLER_BUTTON_DPAD_LEFT, true);
  Button(second, SDL_CONTROLLER_BUTTON_DPAD_RIGHT, true);
  EXPECT_TRUE(g.Host().KeyIsDown(37));
  EXPECT_TRUE(g.Host().KeyIsDown(39));
  Detach(first);  // pulled out with left held
  EXPECT_EQ(pads.Count(), 1);
  EXPECT_FALSE(g.Host().KeyIsDown(37)) << "the unplugged pad's left is let go";
  EXPECT_TRUE(g.Host().KeyIsDown(39)) << "the other pad still holds right";
  EXPECT_TRUE(g.Host().KeyIsDown('W')) << "the keyboard is untouched";
  TPlayer* p = g.Form().Player;
  g.Ticks(20);
  EXPECT_GT(p->VX, 1) << "the remaining pad steers right";
  EXPECT_EQ(g.Form().ScreenName, "Game");
  EXPECT_FALSE(g.Form().Paused);
  Button(second, SDL_CONTROLLER_BUTTON_DPAD_RIGHT, false);
  g.Host().KeyUp('W');
  // Plugged in again, a pad works at once.
  const int again = Attach();
  Axis(again, SDL_CONTROLLER_AXIS_LEFTX, -32768);
  g.Ticks(40);
  EXPECT_LT(p->VX, -1) << "the pad plugged in again steers left";
  game = nullptr;
}

namespace {
int rumbles = 0;
int CountRumble(void*, Uint16, Uint16) { return ++rumbles, 0; }
}  // namespace

TEST_F(VirtualPads, RumbleReachesThePadsThatHaveIt) {
  SDL_VirtualJoystickDesc desc{};
  desc.Rumble = &CountRumble;
  desc.name = "rumbling pad";
  Attach(desc);
  Attach();  // one without: asked for nothing
  rumbles = 0;
  pads.Rumble(150);
  EXPECT_EQ(rumbles, 1);
}

TEST_F(VirtualPads, ADeviceSdlCannotMapIsNoPad) {
  const int device = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_UNKNOWN, 3, 5, 0);
  ASSERT_GE(device, 0) << SDL_GetError();
  Pump();
  if (SDL_IsGameController(device)) GTEST_SKIP() << "this SDL maps even a plain virtual joystick";
  EXPECT_EQ(pads.Count(), 0);
  SDL_JoystickDetachVirtual(device);
}

TEST(PadRumble, ALostLifeRumblesUnlessRumbleIsOff) {
  ASSERT_TRUE(HaveAssets());
  for (bool on : {true, false}) {
    TestGame g;
    g.Form().RumbleOn = on;
    g.Run("call StartGame\n");
    IntoPlay(g);
    TPlayer* p = g.Form().Player;
    ASSERT_NE(p, nullptr);
    p->Falling = true;  // both balloons gone
    g.Ticks(120);
    EXPECT_EQ(p->Lives, 2);
    EXPECT_EQ(g.Host().Rumbles().size(), on ? 1u : 0u) << (on ? "on" : "off");
  }
}

TEST(PadScript, ScriptsPlugInAPadAndPressItsButtons) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  g.Run("pad attach\npad button dpdown down\npad button dpdown up\n");
  EXPECT_EQ(g.Form().Selection, 2);
  g.Run("pad axis lefty -32768\npad axis lefty 0\npad button a down\npad button a up\n");
  EXPECT_EQ(g.Form().ScreenName, "Game");
  g.Ticks(120);
  TPlayer* p = g.Form().Player;
  ASSERT_NE(p, nullptr);
  g.Run("pad axis leftx 32767\ntick 20\n");
  EXPECT_GT(p->VX, 1);
  g.Run("pad detach\n");
  EXPECT_FALSE(g.Host().KeyIsDown(39)) << "unplugging lets go of the stick";
  g.Run("pad attach\npad button start down\npad button start up\n");
  EXPECT_TRUE(g.Form().Paused);
}

namespace {
// Presses and lets go of a pad button n times.
std::string PadPress(const std::string& button, int n = 1) {
  std::string s;
  for (int i = 0; i < n; i++) s += "pad button " + button + " down\npad button " + button + " up\n";
  return s;
}
}  // namespace

TEST(PadScript, StartActsOnMenusAsEnterDoes) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  g.Run("pad attach\n" + PadPress("dpdown") + PadPress("start"));
  EXPECT_EQ(g.Form().ScreenName, "Options");
  g.Run(PadPress("b") + PadPress("dpup") + PadPress("start"));
  EXPECT_EQ(g.Form().ScreenName, "Game");
}

TEST(PadScript, ANameIsSpelledWithThePadAndTheRecordKept) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  g.Run("pad attach\n");
  ui_test::PlayToGameOver(g, 5000);
  TForm1& f = g.Form();
  ASSERT_EQ(f.ScreenName, "EnterName");
  EXPECT_EQ(f.HostPadMode(), PadMode::Naming);
  // Up walks A, B, C ...: thirteen steps up is N, added with A.
  g.Run(PadPress("dpup", 13) + PadPress("a"));
  EXPECT_EQ(f.EnteredName, "N");
  // Eleven more is Y, added lower case after the first letter; right adds too.
  g.Run(PadPress("dpup", 11) + PadPress("a") + PadPress("dpright"));
  EXPECT_EQ(f.EnteredName, "Nyy");
  // B and left delete one letter each.
  g.Run(PadPress("b") + PadPress("dpleft"));
  EXPECT_EQ(f.EnteredName, "N");
  // Down from A wraps to the keypad's digits, 9 first.
  g.Run(PadPress("dpdown", 25) + PadPress("a"));
  EXPECT_EQ(f.EnteredName, "N9");
  g.Run(PadPress("dpup", 2) + PadPress("a") + PadPress("b"));
  EXPECT_EQ(f.EnteredName, "N9");
  EXPECT_EQ(f.ScreenName, "EnterName") << "nothing the letters did answered the question";
  // Start finishes: the question to send comes, and the pad answers it NO.
  g.Run(PadPress("start"));
  ASSERT_EQ(f.ScreenName, "Send");
  EXPECT_EQ(f.HostPadMode(), PadMode::Menus);
  g.Run(PadPress("dpright") + PadPress("a") + "tick 1\n");
  EXPECT_EQ(f.ScreenName, "HiScores");
  EXPECT_EQ(HighScoreName(f.Config.HighScores[0]), "N9");
  EXPECT_EQ(UnmaskScore(f.Config.HighScores[0].Score), 5000u);
}

TEST(PadScript, UpOrDownHeldOnNameEntryWalksOnAndStopsWhereItIsLetGo) {
  ASSERT_TRUE(HaveAssets());
  const struct {
    const char* what;
    const char* before;  // before the game ends
    const char* keys;    // on name entry
    char picked;
  } cases[] = {
      // 400 ms before the first step, then one every 80 ms; the release adds none.
      {"held 380 ms", "", "pad button dpup down\ntick 19\npad button dpup up\ntick 1\n", 'B'},
      {"held 400 ms", "", "pad button dpup down\ntick 20\npad button dpup up\ntick 1\n", 'B'},
      {"held 640 ms", "", "pad button dpup down\ntick 32\npad button dpup up\ntick 1\n", 'E'},
      {"down held 480 ms", "", "pad button dpdown down\ntick 24\npad button dpdown up\ntick 1\n", '8'},
      // Steering up as the game ended picks nothing, held or let go.
      {"held from play", "pad button dpup down\n", "tick 40\npad button dpup up\ntick 1\n", 'A'},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TestGame g;
    g.Run("pad attach\n");
    g.Run("key press Enter\nwait 2100\n");
    g.Run(c.before);
    g.Form().Score = MaskScore(5000);
    g.Form().Dispatch([&] { g.Form().EnterGameOver(); });
    g.Run("wait 2600\ntick 1\n");
    ASSERT_EQ(g.Form().ScreenName, "EnterName");
    g.Run(c.keys);
    EXPECT_EQ(g.Form().PickedLetter(), c.picked);
  }
}

TEST(PadScript, BackLeavesNameEntryWithoutTheRecord) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  g.Run("pad attach\n");
  ui_test::PlayToGameOver(g, 5000);
  ASSERT_EQ(g.Form().ScreenName, "EnterName");
  g.Run(PadPress("a") + PadPress("back") + "tick 1\n");
  EXPECT_EQ(g.Form().ScreenName, "HiScores");
  EXPECT_EQ(UnmaskScore(g.Form().Config.HighScores[0].Score), 1000u);
}

TEST(PadScript, BadPadLinesAreClearErrors) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  const struct {
    const char* line;
    const char* error;
  } cases[] = {
      {"pad button a down", "no pad is attached"},
      {"pad", "usage: pad"},
      {"pad attach\npad button x down", "unknown pad button"},
      {"pad attach\npad button a sideways", "usage: pad"},
      {"pad attach\npad axis rightx 5", "unknown pad axis"},
      {"pad attach\npad axis leftx 40000", "from -32768 to 32767"},
      {"pad attach\npad axis leftx left", "expected a number"},
  };
  for (const auto& c : cases) {
    try {
      g.Run(c.line);
      ADD_FAILURE() << c.line;
    } catch (const ScenarioError& e) {
      EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << c.line << ": " << e.what();
    }
    g.Run("pad detach\n");
  }
}

namespace {
// Lets the host's loop handle what is waiting, then ends it.
struct QuitAfterEvents : HostEvents {
  explicit QuitAfterEvents(Host& h) : host(h) {}
  void HostIdle() override { host.Quit(); }
  uint32_t HostMsUntilDue() override { return 0; }
  Host& host;
};
}  // namespace

TEST(SdlHostPads, PadsLeaveThePlainJoystickPathToDevicesSdlCannotMap) {
  // No screen and no sound device needed, whatever the environment says.
  SDL_SetHint(SDL_HINT_VIDEODRIVER, "dummy");
  SDL_SetHint(SDL_HINT_AUDIODRIVER, "dummy");
  SdlHost host;
  ASSERT_TRUE(host.Init()) << "the dummy video driver opens a window";
  SDL_VirtualJoystickDesc desc{};
  desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
  desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
  desc.naxes = SDL_CONTROLLER_AXIS_MAX;
  desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
  desc.name = "test pad";
  ASSERT_GE(SDL_JoystickAttachVirtualEx(&desc), 0) << SDL_GetError();
  const int plain = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_UNKNOWN, 3, 5, 0);
  ASSERT_GE(plain, 0) << SDL_GetError();
  if (SDL_IsGameController(plain)) GTEST_SKIP() << "this SDL maps even a plain virtual joystick";
  QuitAfterEvents events(host);
  host.Run(events);  // both plugged in while the game runs
  const TJoystickReading r = host.ReadJoystick();
  EXPECT_TRUE(r.Present);
  EXPECT_EQ(r.ButtonCount, 5) << "the plain joystick, not the pad plugged in before it";
}

TEST(PadRumble, LightningOnThePilotRumblesOnce) {
  ASSERT_TRUE(HaveAssets());
  TestGame g;
  g.Run("call StartGame\n");
  IntoPlay(g);
  TPlayer* p = g.Form().Player;
  ASSERT_NE(p, nullptr);
  // A cloud whose bolt has come down, right above the pilot.
  auto* cloud = new TOblako(&g.Form().DXSpriteEngine1, 1);
  cloud->Flashing = true;
  cloud->ChargeTicks = 36;
  cloud->X = p->X + p->Width / 2.0 - cloud->Width / 2.0;
  cloud->Y = p->Y - 30;
  bool done = false;
  p->OnHit(cloud, done);
  EXPECT_TRUE(p->Zapped);
  ASSERT_EQ(g.Host().Rumbles().size(), 1u);
  EXPECT_EQ(g.Host().Rumbles()[0], 150u);
  p->OnHit(cloud, done);  // the same strike goes on: no second rumble
  EXPECT_EQ(g.Host().Rumbles().size(), 1u);
}
