// The program body: create the form, run the message loop, then open
// "play.url" from the current directory when it is there.
#include <unistd.h>

#include <algorithm>
#include <climits>
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
#include "platform/sdl_host.h"

namespace {
std::string ProgramFolder(const char* argv0) {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string path = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string(argv0);
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
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
  host.SetPadMappingFile(programDir + "gamecontrollerdb.txt");
  if (!host.Init()) return 1;
  auto form = std::make_unique<TForm1>(host, programDir);
  form->StateDir = stateDir;
  if (cl.WindowMode) form->RunWindowMode = *cl.WindowMode ? 1 : 0;
  form->SettingOverrides = cl.Settings;
  form->Tap.BeginPlayback(replay);
  form->FormCreate();
  host.ShowWindow();
  form->FormShow();
  ReplayPlayer player(*form, replay);
  ReplayViewer viewer(host, player, replay.Header.StartClock);
  host.Attach(&viewer);
  host.Run(viewer);
  host.Attach(nullptr);
  form.reset();
  return player.Mismatch().empty() ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
  const CommandLine cl = ParseCommandLine(argc, argv);
  if (auto exitCode = HandleInformationalOptions(cl)) return *exitCode;
  const DataLookup data = FindDataDir(ProgramFolder(argv[0]), cl.DataDir);
  if (data.Dir.empty()) {
    // Said once, on the terminal and in a box, rather than a black window.
    std::fprintf(stderr, "%s\n", data.Error.c_str());
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "Quorvane", data.Error.c_str(), nullptr);
    return 1;
  }
  const std::string stateDir = ChooseStateDir(data.Dir, UserStateDir());
  if (!cl.Replay.empty()) return WatchReplay(data.Dir, stateDir, cl);
  std::string url;
  {
    SdlHost host;
    // The writable folder, where a player puts extra controller mappings.
    host.SetPadMappingFile(stateDir + "gamecontrollerdb.txt");
    if (!host.Init()) return 1;
    auto form = std::make_unique<TForm1>(host, data.Dir);
    form->StateDir = stateDir;
    if (cl.WindowMode) form->RunWindowMode = *cl.WindowMode ? 1 : 0;
    form->SettingOverrides = cl.Settings;
    host.Attach(form.get());
    form->FormCreate();
    // Replays that could not reach the portal go again, without holding up the window.
    TOutboxSender outbox(form->Tap.Folder() + "outbox/");
    std::string problems;
    host.SetDisplayOptions(DisplayOptionsFrom([&](const char* key) { return form->Setting(key); }, problems));
    if (!problems.empty()) std::fprintf(stderr, "quorvane: %s", problems.c_str());
    host.ShowWindow();
    form->FormShow();
    host.Run(*form);
    form->FormDestroy();
    form.reset();
    // The shortcut is opened only after the window has gone.
    url = ReadUrlFile("play.url");
  }
  if (!url.empty()) {
    SDL_Init(0);
    if (SDL_OpenURL(url.c_str()) != 0) std::fprintf(stderr, "quorvane: cannot open %s\n", url.c_str());
    SDL_Quit();
  }
  return 0;
}
