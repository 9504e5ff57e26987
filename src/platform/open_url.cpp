#include "platform/open_url.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

extern char** environ;

namespace {

// xdg-open's documented exit codes.
std::string XdgOpenFailure(int status) {
  if (WIFSIGNALED(status)) return "xdg-open was stopped by signal " + std::to_string(WTERMSIG(status)) + ".";
  switch (WEXITSTATUS(status)) {
    case 3: return "No web browser was found (xdg-open found none).";
    case 4: return "The web browser could not be started (xdg-open failed).";
    default: return "xdg-open failed (exit status " + std::to_string(WEXITSTATUS(status)) + ").";
  }
}

}  // namespace

std::string OpenInBrowser(const std::string& url, int waitMs) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // The browser must not read the game's terminal input.
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // Its own process group: a Ctrl+C meant for the game leaves the browser be.
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setpgroup(&attr, 0);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  char* argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(url.c_str()), nullptr};
  pid_t pid = 0;
  const int err = posix_spawnp(&pid, "xdg-open", &actions, &attr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (err == ENOENT) return "Nothing here can open web pages: xdg-open is not installed.";
  if (err != 0) return std::string("xdg-open could not be started: ") + std::strerror(err) + ".";

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? std::string() : XdgOpenFailure(status);
    if (done < 0 && errno != EINTR) return {};  // reaped elsewhere: nothing more to learn
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // Still running: a browser in the foreground. Reap it whenever it ends.
  std::thread([pid, url] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!(WIFEXITED(status) && WEXITSTATUS(status) == 0))
      std::fprintf(stderr, "quorvane: %s: %s\n", url.c_str(), XdgOpenFailure(status).c_str());
  }).detach();
  return {};
}
