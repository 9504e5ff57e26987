#include "portal/verifier.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "base/replay_identity.h"

namespace {

using TClock = std::chrono::steady_clock;
constexpr size_t kMaxOutput = 4096;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// A sanitized worker reserves terabytes of shadow memory up front.
constexpr bool kLimitAddressSpace = false;
#else
constexpr bool kLimitAddressSpace = true;
#endif

void Limit(int resource, rlim_t soft, rlim_t hard) {
  const rlimit r{soft, hard};
  setrlimit(resource, &r);
}

std::string SignalName(int sig) {
  const char* name = sigabbrev_np(sig);
  return name ? std::string("SIG") + name : "signal " + std::to_string(sig);
}

uint64_t Le(const std::string& b, size_t at, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; i--) v = v << 8 | static_cast<unsigned char>(b[at + static_cast<size_t>(i)]);
  return v;
}

}  // namespace

bool ReplayClaimedGame(const std::string& b, std::string& game) {
  if (b.size() < 18 || b.compare(0, 8, "QVREPLAY") != 0) return false;
  const uint64_t headerLength = Le(b, 14, 4);
  const uint64_t streamAt = 18 + headerLength;
  if (streamAt + 4 > b.size()) return false;
  const uint64_t finalAt = streamAt + 4 + Le(b, streamAt, 4);
  // ticks u32, score u32, level u16, lives u8, digest u64
  if (finalAt + 19 > b.size()) return false;
  game = ReplayGameHashHex(static_cast<uint32_t>(Le(b, finalAt, 4)), Le(b, finalAt + 11, 8));
  return true;
}

TWorkerRun RunLimitedProcess(const std::vector<std::string>& argv, const TVerifierOptions& limits,
                             const std::atomic<bool>* cancel) {
  TWorkerRun run;
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return run;
  const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
  const rlim_t cpu = static_cast<rlim_t>(limits.CpuSec);
  const rlim_t memory = static_cast<rlim_t>(limits.MemoryMb) << 20;
  const pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec: the portal has threads.
    dup2(devNull, 0);
    dup2(out[1], 1);
    dup2(devNull, 2);
    // Nothing of the portal's: not its sockets, its blocked signals or its
    // ignored SIGPIPE.
    if (close_range(3, ~0u, 0) != 0)
      for (int fd = 3; fd < 65536; fd++) close(fd);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &dfl, nullptr);
    // The pages come first.
    setpriority(PRIO_PROCESS, 0, 10);
    // SIGXCPU at the soft limit, SIGKILL a second later.
    Limit(RLIMIT_CPU, cpu, cpu + 1);
    if (memory && kLimitAddressSpace) Limit(RLIMIT_AS, memory, memory);
    Limit(RLIMIT_CORE, 0, 0);
    Limit(RLIMIT_FSIZE, 1 << 20, 1 << 20);
    execv(args[0], args.data());
    _exit(127);
  }
  close(out[1]);
  if (devNull >= 0) close(devNull);
  if (pid < 0) {
    close(out[0]);
    return run;
  }
  run.Started = true;
  const auto deadline = TClock::now() + std::chrono::seconds(limits.WallSec);
  bool eof = false;
  int status = 0;
  rusage usage{};
  for (;;) {
    if (!eof) {
      pollfd p{out[0], POLLIN, 0};
      if (poll(&p, 1, 50) > 0) {
        char buf[1024];
        const ssize_t n = read(out[0], buf, sizeof buf);
        if (n > 0 && run.Output.size() < kMaxOutput) run.Output.append(buf, static_cast<size_t>(n));
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) eof = true;
      }
    } else {
      usleep(20 * 1000);
    }
    const pid_t done = wait4(pid, &status, WNOHANG, &usage);
    if (done == pid) break;
    const bool cancelled = cancel && cancel->load();
    if (cancelled || TClock::now() >= deadline) {
      kill(pid, SIGKILL);
      wait4(pid, &status, 0, &usage);
      (cancelled ? run.Cancelled : run.TimedOut) = true;
      break;
    }
  }
  // What it wrote just before it ended.
  for (;;) {
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, 0) <= 0) break;
    char buf[1024];
    const ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    if (run.Output.size() < kMaxOutput) run.Output.append(buf, static_cast<size_t>(n));
  }
  close(out[0]);
  run.Exited = WIFEXITED(status);
  run.ExitCode = run.Exited ? WEXITSTATUS(status) : 0;
  run.Signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  run.CpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return run;
}

TReplayOutcome JudgeWorkerRun(const TWorkerRun& run, uint32_t submittedScore, const std::string& game) {
  TReplayOutcome o;
  if (!run.Started || run.Cancelled) {
    o.Retry = true;
    o.Reason = "the worker could not be started";
    return o;
  }
  if (run.TimedOut) {
    o.Reason = "limit exceeded: wall time";
    return o;
  }
  if (!run.Exited) {
    // The kernel's CPU limit: SIGXCPU, then SIGKILL.
    if (run.Signal == SIGXCPU || run.Signal == SIGKILL) o.Reason = "limit exceeded: CPU time";
    else o.Reason = "worker crashed: " + SignalName(run.Signal);
    return o;
  }
  const size_t at = run.Output.find("QVVERDICT ");
  if (run.ExitCode != 0 || at == std::string::npos) {
    o.Reason = run.ExitCode == 127 ? "worker crashed: cannot run the worker"
                                   : "worker crashed: exit status " + std::to_string(run.ExitCode);
    if (run.ExitCode == 127) o.Retry = true;
    return o;
  }
  std::istringstream line(run.Output.substr(at + 10, run.Output.find('\n', at) - at - 10));
  std::string status, hash, text;
  uint32_t ticks = 0, score = 0, rules = 0;
  if (!(line >> status >> ticks >> score >> rules >> hash)) {
    o.Reason = "worker crashed: unreadable verdict";
    return o;
  }
  std::getline(line, text);
  if (!text.empty() && text[0] == ' ') text.erase(0, 1);
  if (status == "nostart") {
    // The portal's game data, not the replay: it waits for a portal that can play it.
    o.Retry = true;
    o.Reason = "the game could not start: " + text;
    return o;
  }
  if (status == "damaged") o.Reason = "damaged file: " + text;
  else if (status == "rules") o.Reason = "other rules version: " + text;
  // Recorded with other pictures than the portal plays with: the game cannot
  // be reproduced here, whatever it scored.
  else if (status == "data") o.Reason = "other data: " + text;
  else if (status == "mismatch") o.Reason = "does not match its recording: " + text;
  else if (status == "unfinished") o.Reason = "never ends: the game is still on at the end of the replay";
  else if (status != "match") o.Reason = "worker crashed: unknown verdict " + status;
  else if (score != submittedScore)
    o.Reason = "score differs: the game scored " + std::to_string(score) + ", " + std::to_string(submittedScore) +
               " was submitted";
  else if (hash != game) o.Reason = "damaged file: the game played is not the one the file names";
  else {
    o.State = EReplayState::Verified;
    o.Ticks = ticks;
  }
  return o;
}

TReplayVerifier::TReplayVerifier(TScoreStore& store, TVerifierOptions options, TPortalMetrics& metrics)
    : store_(store), options_(std::move(options)), metrics_(metrics) {
  if (!Enabled()) return;
  for (int i = 0; i < std::max(1, options_.Workers); i++) threads_.emplace_back([this] { Work(); });
}

TReplayVerifier::~TReplayVerifier() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  cancel_ = true;
  wake_.notify_all();
  for (auto& t : threads_) t.join();
}

bool TReplayVerifier::HasRoom() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size() < options_.QueueLimit;
}

void TReplayVerifier::Enqueue(int64_t id) {
  if (!Enabled()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(id);
    metrics_.ReplayQueue(static_cast<int64_t>(queue_.size()));
  }
  wake_.notify_one();
}

size_t TReplayVerifier::RequeueWaiting() {
  if (!Enabled()) return 0;
  const std::vector<int64_t> ids = store_.WaitingReplays();
  for (int64_t id : ids) Enqueue(id);
  return ids.size();
}

size_t TReplayVerifier::QueueLength() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

bool TReplayVerifier::WaitIdle(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return idle_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return queue_.empty() && busy_ == 0; });
}

void TReplayVerifier::Work() {
  for (;;) {
    int64_t id = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      id = queue_.front();
      queue_.pop_front();
      busy_++;
      metrics_.ReplayQueue(static_cast<int64_t>(queue_.size()));
    }
    try {
      VerifyOne(id);
    } catch (const std::exception& e) {
      // The database failed: the replay stays waiting for the next start.
      std::fprintf(stderr, "quorvane-portal: replay of row %lld not judged: %s\n", static_cast<long long>(id),
                   e.what());
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      busy_--;
    }
    idle_.notify_all();
  }
}

void TReplayVerifier::VerifyOne(int64_t id) {
  const std::optional<TStoredReplay> replay = store_.Replay(id);
  if (!replay || replay->State != EReplayState::Waiting) return;
  std::error_code ec;
  const std::string dir =
      options_.TempDir.empty() ? std::filesystem::temp_directory_path(ec).string() : options_.TempDir;
  std::string path = dir + "/quorvane-verify-XXXXXX";
  const int fd = mkstemp(path.data());
  if (fd < 0) throw std::runtime_error("cannot write a file in " + dir + ": " + std::strerror(errno));
  size_t written = 0;
  while (written < replay->Data.size()) {
    const ssize_t n = write(fd, replay->Data.data() + written, replay->Data.size() - written);
    if (n <= 0 && errno != EINTR) break;
    if (n > 0) written += static_cast<size_t>(n);
  }
  close(fd);
  TReplayOutcome outcome;
  if (written != replay->Data.size()) {
    unlink(path.c_str());
    throw std::runtime_error("cannot write " + path);
  }
  const TWorkerRun run = RunLimitedProcess(
      {options_.Worker, "--program-dir", options_.GameData, "--replay", path, "--verdict"}, options_, &cancel_);
  unlink(path.c_str());
  outcome = JudgeWorkerRun(run, replay->Score, replay->Game);
  if (outcome.Retry) {
    std::fprintf(stderr, "quorvane-portal: replay of row %lld left waiting: %s\n", static_cast<long long>(id),
                 outcome.Reason.c_str());
    return;
  }
  store_.FinishReplay(id, outcome.State, outcome.Reason, outcome.Ticks);
  if (outcome.State == EReplayState::Verified) metrics_.ReplayVerified();
  else metrics_.ReplayRefused(outcome.Reason);
}
