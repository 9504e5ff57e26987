#include "portal/server.h"

#include <httplib.h>

#include <chrono>
#include <ctime>
#include <mutex>

namespace {

// Request targets in the log cannot carry control bytes into the terminal.
std::string Printable(const std::string& s, size_t max) {
  std::string out;
  for (unsigned char c : s.substr(0, max)) {
    if (c < 0x20 || c >= 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (s.size() > max) out += "...";
  return out;
}

std::mutex g_logMutex;

}  // namespace

TPortalHttpServer::TPortalHttpServer(TPortalService& service, std::FILE* log)
    : service_(service), log_(log), server_(std::make_unique<httplib::Server>()) {
  httplib::Server& s = *server_;
  s.set_read_timeout(5, 0);
  s.set_write_timeout(5, 0);
  s.set_keep_alive_timeout(5);
  s.set_keep_alive_max_count(100);
  s.set_payload_max_length(4096);
  auto handler = [this](const httplib::Request& req, httplib::Response& res) {
    const auto start = std::chrono::steady_clock::now();
    TPortalRequest r{req.method, req.target, req.remote_addr, req.get_header_value("X-Forwarded-For"), req.body};
    TPortalReply reply;
    try {
      reply = service_.Handle(r);
    } catch (const std::exception& e) {
      // The database is away: say so, and keep serving.
      reply = TPortalReply{503, "text/plain; charset=utf-8", "Service unavailable\n"};
      if (log_) {
        std::lock_guard<std::mutex> lock(g_logMutex);
        std::fprintf(log_, "error: %s\n", e.what());
      }
    }
    res.status = reply.Status;
    for (const auto& h : reply.Headers) res.set_header(h.first, h.second);
    res.set_content(reply.Body, reply.ContentType.c_str());
    if (log_) {
      const auto ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
      char when[32];
      const time_t now = time(nullptr);
      tm parts{};
      gmtime_r(&now, &parts);
      strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &parts);
      std::lock_guard<std::mutex> lock(g_logMutex);
      std::fprintf(log_, "%s %s %s %s %d %zu %lldms\n", when, Printable(req.remote_addr, 64).c_str(),
                   Printable(req.method, 16).c_str(), Printable(req.target, 200).c_str(), reply.Status,
                   reply.Body.size(), static_cast<long long>(ms));
      std::fflush(log_);
    }
  };
  // Every method and path goes to the service, which answers 404 to what it
  // does not know.
  s.Get(".*", handler);
  s.Post(".*", handler);
  s.Put(".*", handler);
  s.Delete(".*", handler);
  s.Patch(".*", handler);
  s.Options(".*", handler);
  s.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    // Whatever went wrong before our handler, a client's garbage is its own fault.
    if (res.status >= 500) res.status = 400;
    res.set_content(std::to_string(res.status) + "\n", "text/plain");
  });
  s.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    res.status = 503;
    res.set_content("Service unavailable\n", "text/plain");
  });
}

TPortalHttpServer::~TPortalHttpServer() = default;

int TPortalHttpServer::Bind(const std::string& host, int port) {
  if (port == 0) return server_->bind_to_any_port(host.c_str());
  return server_->bind_to_port(host.c_str(), port) ? port : -1;
}

bool TPortalHttpServer::Run() { return server_->listen_after_bind(); }

void TPortalHttpServer::Stop() { server_->stop(); }

bool SplitListenAddress(const std::string& text, std::string& host, int& port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  host = text.substr(0, colon);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return false;
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string::npos) {
    return false;
  }
  const std::string p = text.substr(colon + 1);
  if (p.empty() || p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos) return false;
  port = std::stoi(p);
  return port <= 65535;
}
