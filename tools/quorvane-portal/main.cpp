// quorvane-portal: the world high-score table for the game, served over HTTP.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>

#include "portal/admin.h"
#include "portal/rate_limit.h"
#include "portal/server.h"
#include "portal/service.h"
#include "portal/store.h"
#include "portal/verifier.h"

namespace {

constexpr const char* kUsage =
    "usage: quorvane-portal [serve] [--listen HOST:PORT] [--db sqlite:PATH|postgresql://...] [options]\n"
    "       quorvane-portal backup|list|remove ... [--db ...]\n"
    "\n"
    "Serves the world high-score table of Quorvane: the token and score requests\n"
    "the game sends, the world table page, a home page and /api/scores (JSON).\n"
    "\n"
    "  --listen HOST:PORT   address to listen on (default 127.0.0.1:8080; port 0: any free port)\n"
    "  --db DB              sqlite:PATH (default sqlite:quorvane-portal.db) or a\n"
    "                       postgresql:// connection string, for several portals sharing one table\n"
    "  --token-lifetime S   seconds a token stays good (default 300)\n"
    "  --rate N             requests a second one client address may make (default 2)\n"
    "  --burst N            requests one address may make at once (default 60)\n"
    "  --trust-proxy CIDR[,CIDR]\n"
    "                       reverse proxies (addresses or ranges, IPv4 or IPv6) whose\n"
    "                       X-Forwarded-For names the client; the rate applies to that\n"
    "                       client (IPv6: to its /64), not to the proxy\n"
    "  --max-connections N  connections open at once (default 1000); the longest idle go first\n"
    "  --max-per-address N  connections from one address or IPv6 /64 (default 32)\n"
    "  --request-deadline S seconds a connection has for its whole next request (default 10)\n"
    "  --idle-timeout S     seconds without traffic before a connection is closed (default 10)\n"
    "  --max-body BYTES     largest request body (default 4096)\n"
    "  --body-limit PATH=BYTES  a larger body limit for one path (repeatable)\n"
    "  --large-bodies N     bodies above --max-body read at once (default 8; 503 beyond)\n"
    "  --game-data DIR      the game's data folder (with Data/), for playing the replays the\n"
    "                       game uploads (default: the installed game's, ../share/quorvane\n"
    "                       beside this program's folder); without it nothing is verified\n"
    "  --verify-worker PATH quorvane-headless, which plays each replay (default: beside this\n"
    "                       program, or ../libexec/quorvane-portal/ when installed)\n"
    "  --verify-workers N   replays played at once (default 1)\n"
    "  --verify-queue N     replays that may wait; beyond, an upload gets 503 (default 100)\n"
    "  --verify-cpu S       CPU seconds one replay may take (default 20)\n"
    "  --verify-wall S      seconds one replay may take in all (default 40)\n"
    "  --verify-memory MB   address space of a worker, 0 for no limit (default 1024)\n"
    "  --quiet              no line per request\n"
    "  --help               this text\n"
    "%s"
    "\n"
    "Logs one line per request to standard error. SIGTERM or SIGINT stops it.\n"
    "Point the game at it with:  quorvane --portal http://HOST:PORT\n";

std::string ExeDir() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : exe.parent_path().string();
}

bool HasData(const std::string& dir) {
  std::error_code ec;
  return !dir.empty() && std::filesystem::is_directory(std::filesystem::path(dir) / "Data", ec);
}

// As the game finds its data: a build folder keeps it in game/, an
// installed one in ../share/quorvane.
std::string DefaultGameData() {
  const std::string exe = ExeDir();
  for (const std::string& dir : {exe + "/game", exe + "/../share/quorvane"})
    if (HasData(dir)) return std::filesystem::weakly_canonical(dir).string();
  return "";
}

// The worker that plays the replays: beside this program in a build folder,
// in ../libexec/quorvane-portal when installed.
std::string DefaultWorker() {
  const std::string exe = ExeDir();
  const std::string beside = exe + "/quorvane-headless";
  const std::string installed = exe + "/../libexec/quorvane-portal/quorvane-headless";
  if (access(beside.c_str(), X_OK) != 0 && access(installed.c_str(), X_OK) == 0)
    return std::filesystem::weakly_canonical(installed).string();
  return beside;
}

bool Number(const char* text, double lo, double hi, double& out) {
  char* end = nullptr;
  errno = 0;
  out = std::strtod(text, &end);
  return end != text && *end == 0 && errno == 0 && out >= lo && out <= hi;
}

}  // namespace

int main(int argc, char** argv) {
  std::string listen = "127.0.0.1:8080", db = "sqlite:quorvane-portal.db";
  TPortalOptions options;
  bool quiet = false;
  TPortalServerOptions http;
  TVerifierOptions verify;
  std::string gameData;
  bool gameDataGiven = false;
  // The database's options and the operator's commands.
  TStoreOptions storeOptions;
  TAdminCommand command;
  if (argc > 1 && IsAdminCommand(argv[1])) command.Name = argv[1];
  for (int i = command.Name.empty() ? 1 : 2; i < argc; i++) {
    if (TakeAdminOption(argc, argv, i, storeOptions, command)) continue;
    const std::string a = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "quorvane-portal: %s needs a value\n", name);
        std::exit(2);
      }
      return argv[++i];
    };
    double n = 0;
    if (a == "--help" || a == "-h") {
      std::string usage = kUsage;
      usage.replace(usage.find("%s"), 2, kAdminUsage);
      std::fputs(usage.c_str(), stdout);
      return 0;
    } else if (a == "--listen") {
      listen = value("--listen");
    } else if (a == "--db") {
      db = value("--db");
    } else if (a == "--token-lifetime") {
      if (!Number(value("--token-lifetime"), 1, 86400, n)) {
        std::fprintf(stderr, "quorvane-portal: --token-lifetime wants 1 to 86400 seconds\n");
        return 2;
      }
      options.TokenLifetimeSec = static_cast<int>(n);
    } else if (a == "--rate") {
      if (!Number(value("--rate"), 0.001, 1e6, n)) {
        std::fprintf(stderr, "quorvane-portal: --rate wants a positive number\n");
        return 2;
      }
      options.RatePerSec = n;
    } else if (a == "--burst") {
      if (!Number(value("--burst"), 1, 1e6, n)) {
        std::fprintf(stderr, "quorvane-portal: --burst wants a number from 1\n");
        return 2;
      }
      options.RateBurst = n;
    } else if (a == "--trust-proxy") {
      // Behind a reverse proxy: whom to believe about the client's address.
      std::string why;
      if (!ParseCidrList(value("--trust-proxy"), options.TrustedProxies, why)) {
        std::fprintf(stderr, "quorvane-portal: --trust-proxy: %s\n", why.c_str());
        return 2;
      }
    } else if (a == "--max-connections" || a == "--max-per-address" || a == "--large-bodies") {
      // The HTTP layer's limits.
      if (!Number(value(a.c_str()), 1, 1000000, n)) {
        std::fprintf(stderr, "quorvane-portal: %s wants a number from 1\n", a.c_str());
        return 2;
      }
      (a == "--max-connections"   ? http.MaxConnections
       : a == "--max-per-address" ? http.MaxPerAddress
                                  : http.MaxLargeBodies) = static_cast<int>(n);
    } else if (a == "--request-deadline" || a == "--idle-timeout") {
      if (!Number(value(a.c_str()), 1, 3600, n)) {
        std::fprintf(stderr, "quorvane-portal: %s wants 1 to 3600 seconds\n", a.c_str());
        return 2;
      }
      if (a == "--request-deadline") http.RequestDeadlineSec = n;
      else http.IdleTimeoutSec = static_cast<unsigned>(n);
    } else if (a == "--max-body") {
      if (!Number(value("--max-body"), 0, 1 << 30, n)) {
        std::fprintf(stderr, "quorvane-portal: --max-body wants a number of bytes\n");
        return 2;
      }
      http.MaxBodyBytes = static_cast<size_t>(n);
    } else if (a == "--body-limit") {
      const std::string v = value("--body-limit");
      const size_t eq = v.find('=');
      if (eq == std::string::npos || v[0] != '/' || !Number(v.c_str() + eq + 1, 0, 1 << 30, n)) {
        std::fprintf(stderr, "quorvane-portal: --body-limit wants /PATH=BYTES, not \"%s\"\n", v.c_str());
        return 2;
      }
      http.BodyLimits.emplace_back(v.substr(0, eq), static_cast<size_t>(n));
    } else if (a == "--game-data") {
      gameData = value("--game-data");
      gameDataGiven = true;
    } else if (a == "--verify-worker") {
      verify.Worker = value("--verify-worker");
    } else if (a == "--verify-workers" || a == "--verify-queue" || a == "--verify-cpu" || a == "--verify-wall" ||
               a == "--verify-memory") {
      const bool memory = a == "--verify-memory";
      if (!Number(value(a.c_str()), memory ? 0 : 1, 1e6, n)) {
        std::fprintf(stderr, "quorvane-portal: %s wants a number from %d\n", a.c_str(), memory ? 0 : 1);
        return 2;
      }
      if (a == "--verify-workers") verify.Workers = static_cast<int>(n);
      else if (a == "--verify-queue") verify.QueueLimit = static_cast<size_t>(n);
      else if (a == "--verify-cpu") verify.CpuSec = static_cast<int>(n);
      else if (a == "--verify-wall") verify.WallSec = static_cast<int>(n);
      else verify.MemoryMb = static_cast<int>(n);
    } else if (a == "--quiet") {
      quiet = true;
    } else {
      std::fprintf(stderr, "quorvane-portal: unknown option %s (see --help)\n", a.c_str());
      return 2;
    }
  }
  if (!command.Name.empty() && command.Name != "serve") return RunAdminCommand(command, db, storeOptions);

  std::string host;
  int port = 0;
  if (!SplitListenAddress(listen, host, port)) {
    std::fprintf(stderr, "quorvane-portal: --listen wants HOST:PORT, not \"%s\"\n", listen.c_str());
    return 2;
  }

  // The signals are taken by one thread of ours, before the server starts
  // any of its own, so that a stop is an orderly one.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<TScoreStore> store;
  try {
    store = OpenScoreStore(db, storeOptions);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvane-portal: %s\n", e.what());
    return 1;
  }
  TPortalService service(*store, options);
  if (!gameDataGiven) gameData = DefaultGameData();
  if (verify.Worker.empty()) verify.Worker = DefaultWorker();
  std::string why;
  if (gameData.empty()) why = "no game data found (give --game-data DIR)";
  else if (!HasData(gameData)) why = gameData + " holds no game data (no Data/ folder)";
  else if (access(verify.Worker.c_str(), X_OK) != 0) why = "no worker at " + verify.Worker + " (give --verify-worker)";
  if (why.empty()) verify.GameData = gameData;
  TReplayVerifier verifier(*store, verify, service.Metrics());
  service.SetVerifier(&verifier);
  if (!why.empty()) {
    std::fprintf(stderr, "quorvane-portal: verification off: %s; uploaded replays wait unplayed\n", why.c_str());
  } else {
    size_t waiting = 0;
    try {
      waiting = verifier.RequeueWaiting();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "quorvane-portal: the waiting replays stay waiting: %s\n", e.what());
    }
    std::fprintf(stderr, "quorvane-portal: verifying replays with %s on %s (%zu waiting)\n", verify.Worker.c_str(),
                 gameData.c_str(), waiting);
  }
  // A trusted proxy carries every player's connections: no per-address cap.
  if (!options.TrustedProxies.empty())
    http.Unlimited = [trusted = options.TrustedProxies](const std::string& address) {
      TIpAddress ip;
      return ParseIpAddress(address, ip) && InRanges(ip, trusted);
    };
  // Replays come as bodies of up to the service's own limit (413 beyond).
  http.BodyLimits.emplace_back("/api/replays", options.MaxReplayBytes);
  TPortalHttpServer server(service, quiet ? nullptr : stderr, http);
  const int bound = server.Bind(host, port);
  if (bound < 0) {
    std::fprintf(stderr, "quorvane-portal: cannot listen on %s\n", listen.c_str());
    return 1;
  }
  std::fprintf(stderr, "quorvane-portal: listening on http://%s%s%s:%d/ (database %s)\n",
               host.find(':') != std::string::npos ? "[" : "", host.c_str(),
               host.find(':') != std::string::npos ? "]" : "", bound,
               db.rfind("sqlite:", 0) == 0 ? db.c_str() : "PostgreSQL");
  std::fflush(stderr);

  std::atomic<bool> done{false};
  std::thread waiter([&] {
    const timespec tick{0, 200 * 1000 * 1000};
    while (!done) {
      const int sig = sigtimedwait(&stopSignals, nullptr, &tick);
      if (sig == SIGTERM || sig == SIGINT) {
        std::fprintf(stderr, "quorvane-portal: %s, stopping\n", sig == SIGTERM ? "SIGTERM" : "SIGINT");
        server.Stop();
        return;
      }
    }
  });
  const bool ok = server.Run();
  done = true;
  waiter.join();
  if (const int left = server.Unfinished()) {
    // Requests stuck in the database cannot be taken back; leave without
    // tearing the service down under them.
    std::fprintf(stderr, "quorvane-portal: stopped, %d request(s) left unanswered\n", left);
    std::fflush(stderr);
    _exit(ok ? 0 : 1);
  }
  std::fprintf(stderr, "quorvane-portal: stopped\n");
  return ok ? 0 : 1;
}
