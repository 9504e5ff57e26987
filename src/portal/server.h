#pragma once
// Carries the portal's answers over HTTP (cpp-httplib), with one log line per
// request.
#include <cstdio>
#include <memory>
#include <string>

#include "portal/service.h"

namespace httplib {
class Server;
}

class TPortalHttpServer {
public:
  // log: where the request lines go; nullptr for none.
  TPortalHttpServer(TPortalService& service, std::FILE* log);
  ~TPortalHttpServer();
  // Binds host:port (port 0: any free one) and returns the port; -1 on failure.
  int Bind(const std::string& host, int port);
  // Serves until Stop(); returns false when serving failed.
  bool Run();
  // Safe from any thread (not from a signal handler).
  void Stop();

private:
  TPortalService& service_;
  std::FILE* log_;
  std::unique_ptr<httplib::Server> server_;
};

// "HOST:PORT" or "[V6]:PORT"; false when it is neither.
bool SplitListenAddress(const std::string& text, std::string& host, int& port);
