// The program body: create the form, run the message loop, then open
// "play.url" from the current directory when it is there.
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "app/command_line.h"
#include "app/form.h"
#include "app/install_paths.h"
#include "app/replay.h"
#include "app/replay_viewer.h"
#include "app/url_file.h"
#include "online/replay_outbox.h"
#include "persist/config.h"
#include "platform/sdl_host.h"

namespace {
std::string ProgramFolder(const char* argv0) {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string path = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string(argv0);
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

// Where a player puts extra controller mappings: the writable folder, for
// play and replays alike.
std::string PadMappingFile(const std::string& stateDir) { return stateDir + "gamecontrollerdb.txt"; }

// Scale, filter, window size and vsync from quorvane.ini and the command line.
void ApplyDisplaySettings(SdlHost& host, const TForm1& form) {
  std::string problems;
  host.SetDisplayOptions(DisplayOptionsFrom([&](const char* key) { return form.Setting(key); }, problems));
  if (!problems.empty()) std::fprintf(stderr, "quorvane: %s", problems.c_str());
}

// The display the player chose for the game: --window or --fullscreen, else
// the choice kept in Config.cfg. Read only: watching a replay writes nothing.
bool PlayerWantsFullScreen(const std::string& stateDir, const CommandLine& cl) {
  if (cl.WindowMode) return !*cl.WindowMode;
  ConfigRecord c{};
  std::ifstream in(ConfigFilePath(stateDir), std::ios::binary);
  if (!in.read(reinterpret_cast<char*>(&c), sizeof c)) return false;
  return c.WindowMode == 0;
}

// The message has been shown and read; a game without its data cannot go
// on, and a black window would only wait to be closed.
int StartupFailed(const TForm1& form) {
  std::fprintf(stderr, "quorvane: %s\n", form.StartupError.c_str());
  return 1;
}

int WatchReplay(const std::string& programDir, const std::string& stateDir, const CommandLine& cl) {
  TReplay replay;
  try {
    replay = ReadReplayFile(cl.Replay);
  } catch (const ReplayError& e) {
    std::fprintf(stderr, "quorvane: %s\n", e.what());
    return 1;
  }
  SdlHost host;
  host.SetPadMappingFile(PadMappingFile(stateDir));
  if (!host.Init()) return 1;
  auto form = std::make_unique<TForm1>(host, programDir);
  form->StateDir = stateDir;
  if (cl.WindowMode) form->RunWindowMode = *cl.WindowMode ? 1 : 0;
  form->SettingOverrides = cl.Settings;
  form->Tap.BeginPlayback(replay);
  form->FormCreate();
  if (form->StartupFailed) return StartupFailed(*form);
  ApplyDisplaySettings(host, *form);
  // The window follows the watching player's display choice, not the recording's.
  if (PlayerWantsFullScreen(stateDir, cl)) host.SetFullScreen(true);
  host.ShowWindow();
  form->FormShow();
  ReplayPlayer player(*form, replay);
  ReplayViewer viewer(host, *form, player, replay.Header.StartClock);
  host.Attach(&viewer);
  host.Run(viewer);
  host.Attach(nullptr);
  const bool matched = player.Mismatch().empty();
  form.reset();
  return matched ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
  // Past a file size limit a write fails with EFBIG, which every save checks
  // and reports; the default signal would end the game with the table or a
  // replay half written.
  std::signal(SIGXFSZ, SIG_IGN);
  const CommandLine cl = ParseCommandLine(argc, argv);
  if (auto exitCode = HandleInformationalOptions(cl)) return *exitCode;
  const DataLookup data = FindDataDir(ProgramFolder(argv[0]), cl.DataDir);
  if (data.Dir.empty()) {
    // Said once, on the terminal and in a box, rather than a black window.
    std::fprintf(stderr, "%s\n", data.Error.c_str());
    SdlHost().ErrorBox(data.Error, "Quorvane");
    return 1;
  }
  const std::string stateDir = ChooseStateDir(data, UserStateDir());
  if (!cl.Replay.empty()) return WatchReplay(data.Dir, stateDir, cl);
  std::string url;
  {
    SdlHost host;
    host.SetPadMappingFile(PadMappingFile(stateDir));
    if (!host.Init()) return 1;
    auto form = std::make_unique<TForm1>(host, data.Dir);
    form->StateDir = stateDir;
    if (cl.WindowMode) form->RunWindowMode = *cl.WindowMode ? 1 : 0;
    form->SettingOverrides = cl.Settings;
    host.Attach(form.get());
    form->FormCreate();
    if (form->StartupFailed) {
      host.Attach(nullptr);
      return StartupFailed(*form);
    }
    ApplyDisplaySettings(host, *form);
    // Replays that could not reach the portal go again, without holding up the window.
    TOutboxSender outbox(form->Tap.Folder() + "outbox/");
    host.ShowWindow();
    form->FormShow();
    host.Run(*form);
    form->FormDestroy();
    form.reset();
    // The shortcut is opened only after the window has gone.
    url = ReadUrlFile("play.url");
  }
  if (!url.empty()) {
    // The window has gone (a host that never opened one still hands the
    // address over): the terminal is the only place left to say why not.
    SdlHost().OpenUrl(url);
  }
  return 0;
}
