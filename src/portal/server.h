#pragma once
// Carries the portal's answers over HTTP, with one log line per request.
//
// One event thread (libmicrohttpd in epoll mode) owns every socket; the
// service runs on a small pool of workers that grows while requests wait, so
// a request stuck on the database holds a worker, never the sockets or the
// pages that need no database. A connection has a deadline for its whole
// request, counted from its opening or from its previous reply; idle and slow
// ones are closed first when the connection caps are reached.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "portal/service.h"

struct MHD_Daemon;
struct MHD_Connection;

struct TPortalServerOptions {
  int MaxConnections = 1000;  // open at once, all addresses together
  int MaxPerAddress = 32;     // from one IPv4 address or one IPv6 /64
  // Seconds from a connection's opening, or from its previous reply, until
  // its next request (headers and body) must be in; 408 and closed after.
  double RequestDeadlineSec = 10;
  // Seconds without a byte moving either way before a connection is closed
  // (a client that does not read its reply).
  unsigned IdleTimeoutSec = 10;
  // At a connection cap with no idle connection left, one whose reply has
  // waited this long to be read makes room.
  double UnreadReplySec = 3;
  // Request line and headers of one request, at most (431 or 414 beyond).
  size_t MaxHeaderBytes = 16 * 1024;
  // Request body, at most (413 beyond), unless the path has its own limit.
  size_t MaxBodyBytes = 4096;
  std::vector<std::pair<std::string, size_t>> BodyLimits;  // exact path, limit
  // Requests with a body above MaxBodyBytes being read or handled at once;
  // 503 with Retry-After beyond.
  int MaxLargeBodies = 8;
  // Workers that run the service: kept alive, and at most.
  int MinWorkers = 4;
  int MaxWorkers = 64;
  // After Stop(): seconds for the requests in flight to finish.
  double StopGraceSec = 5;
  // Peers exempt from the per-address cap (a trusted reverse proxy).
  std::function<bool(const std::string& address)> Unlimited;
};

class TPortalHttpServer {
public:
  // log: where the request lines go; nullptr for none.
  TPortalHttpServer(TPortalService& service, std::FILE* log, TPortalServerOptions options = {});
  ~TPortalHttpServer();
  // Binds host:port (port 0: any free one) and returns the port; -1 on failure.
  int Bind(const std::string& host, int port);
  // Serves until Stop(); returns false when serving failed.
  bool Run();
  // Safe from any thread (not from a signal handler).
  void Stop();
  // Requests still inside the service after Run() returned (a stalled
  // database): the caller cannot destroy the service while this is not 0.
  int Unfinished() const;

  struct TConn;
  struct TJob;
  class TWorkers;

private:
  using TClock = std::chrono::steady_clock;

  friend struct TMhdCallbacks;

  bool Turn(int maxMs);
  void Wake();
  int OnAccept(const struct sockaddr* addr, unsigned addrlen);
  int OnAccess(TConn& conn, MHD_Connection* c, const char* method, const char* version, const char* upload,
               size_t* uploadSize);
  void OnCompleted(TConn& conn, int toe);
  bool Queue(TConn& conn, MHD_Connection* c, TPortalReply reply);
  size_t BodyLimit(const std::string& target) const;
  void ReleaseLarge(TConn& conn);
  void MarkReady(TConn& conn, TClock::time_point now);
  void Unlist(TConn& conn);
  void Close(TConn& conn, bool timedOut);
  bool EvictOldest(const std::string* key);
  void Sweep(TClock::time_point now);
  void LibraryMessage(const char* text);
  void Log(const TConn& conn, int status, size_t bytes, const std::string& reason, const char* note,
           const std::string& forwardedClient = {});
  void Observe(const TConn& conn, const TPortalReply& reply);

  TPortalService& service_;
  std::FILE* log_;
  TPortalServerOptions options_;
  MHD_Daemon* daemon_ = nullptr;
  int listenFd_ = -1, wakeFd_ = -1, pollFd_ = -1;
  std::atomic<bool> stopRequested_{false};
  bool stopping_ = false;
  TClock::time_point stopDeadline_;
  std::unique_ptr<TWorkers> workers_;
  std::atomic<int> pendingResumes_{0};
  std::atomic<int> largeBodies_{0};
  // Everything below belongs to the event thread.
  std::list<TConn*> unfinished_;  // waiting for or reading a request, oldest first
  std::list<TConn*> all_;
  int live_ = 0;  // open and not being closed by us
  std::unordered_map<std::string, int> perAddress_;
  long long refused_ = 0;
  std::mutex libraryLogMutex_;
  TClock::time_point libraryLogSecond_;
  int libraryLines_ = 0, librarySkipped_ = 0;
  TClock::time_point lastRefusalLog_;
};

// "HOST:PORT" or "[V6]:PORT"; false when it is neither.
bool SplitListenAddress(const std::string& text, std::string& host, int& port);
