#pragma once
// Plays the replays attached to scores, each in a worker process of its own
// (quorvane-headless --verdict) under limits on CPU time, memory and wall
// time: a hostile file can crash or hang its worker, never the portal. A
// bounded queue feeds a few threads that each wait on one worker.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "portal/metrics.h"
#include "portal/store.h"

struct TVerifierOptions {
  std::string Worker;    // quorvane-headless
  std::string GameData;  // the game's data folder (with Data/); empty: verification off
  int Workers = 1;
  size_t QueueLimit = 100;
  int CpuSec = 20;      // a day-long game takes a few seconds
  int WallSec = 40;     // a worker that sleeps or spins past this is killed
  int MemoryMb = 1024;  // address space; 0: none (sanitizer builds need terabytes)
  std::string TempDir;  // where a file waits for its worker; empty: the system's
};

// The game a replay file names (ReplayGameHashHex of the ticks and world
// digest its end records), read from the file's frame only: nothing is
// played here. False when the bytes do not have a replay's frame.
bool ReplayClaimedGame(const std::string& bytes, std::string& game);

struct TWorkerRun {
  bool Started = false;
  bool Exited = false;  // else killed by a signal
  int ExitCode = 0;
  int Signal = 0;
  bool TimedOut = false;   // we killed it at the wall-clock limit
  bool Cancelled = false;  // we killed it because the portal stops
  std::string Output;      // standard output, at most a few KB
  double CpuSeconds = 0;   // user and system time the process used
};

// Runs argv[0] with these limits; its standard output is collected.
// cancel: when it turns true the process is killed.
TWorkerRun RunLimitedProcess(const std::vector<std::string>& argv, const TVerifierOptions& limits,
                             const std::atomic<bool>* cancel = nullptr);

struct TReplayOutcome {
  EReplayState State = EReplayState::Refused;
  std::string Reason;
  uint32_t Ticks = 0;
  bool Retry = false;  // not the replay's fault (the worker could not start the game): leave it waiting
};

// The verdict on one replay from its worker's run: verified only when the
// game played to its end and scored what was submitted.
TReplayOutcome JudgeWorkerRun(const TWorkerRun& run, uint32_t submittedScore, const std::string& game);

class TReplayVerifier {
public:
  TReplayVerifier(TScoreStore& store, TVerifierOptions options, TPortalMetrics& metrics);
  ~TReplayVerifier();
  TReplayVerifier(const TReplayVerifier&) = delete;
  TReplayVerifier& operator=(const TReplayVerifier&) = delete;

  bool Enabled() const { return !options_.GameData.empty(); }
  const TVerifierOptions& Options() const { return options_; }
  // Room for one more upload.
  bool HasRoom() const;
  // Queues a row's replay (beyond the limit too: it is stored already).
  void Enqueue(int64_t id);
  // The replays still waiting in the store (after a restart); how many.
  size_t RequeueWaiting();
  size_t QueueLength() const;
  // Until the queue is empty and no worker runs, or timeoutMs passed; for tests.
  bool WaitIdle(int timeoutMs);

private:
  void Work();
  void VerifyOne(int64_t id);

  TScoreStore& store_;
  TVerifierOptions options_;
  TPortalMetrics& metrics_;
  mutable std::mutex mutex_;
  std::condition_variable wake_, idle_;
  std::deque<int64_t> queue_;
  int busy_ = 0;
  bool stopping_ = false;
  std::atomic<bool> cancel_{false};
  std::vector<std::thread> threads_;
};
