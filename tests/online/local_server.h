#pragma once
// A scripted HTTP server on 127.0.0.1 for the client's tests. It answers each
// request it receives with the next scripted step, records what arrived, and
// stops by itself after a few seconds at most.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LocalServer {
public:
  // After the reply: keep the connection for more requests, close it, or
  // keep it open and never answer again.
  enum class After { Keep, Close, Silent };
  struct Step {
    std::string Reply;
    After Then = After::Keep;
  };
  struct Request {
    int Connection;  // 0-based index of the accepted connection
    std::string Raw;
  };

  // port 0 takes a free one; another listens where an earlier server did.
  explicit LocalServer(std::vector<Step> steps, int port = 0) : steps_(steps.begin(), steps.end()) {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    if (listen_ >= 0) setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (listen_ < 0 || bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listen_, 8) != 0)
      throw std::runtime_error("test server: cannot listen");
    socklen_t len = sizeof a;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~LocalServer() {
    stop_ = true;
    thread_.join();
    for (auto& c : conns_) close(c.fd);
    close(listen_);
  }

  int Port() const { return port_; }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::vector<Request> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  int Connections() {
    std::lock_guard<std::mutex> lock(mutex_);
    return accepted_;
  }

private:
  struct Conn {
    int fd;
    int index;
    std::string buf;
    bool silent = false;
  };

  void Run() {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (!stop_ && Clock::now() < end) {
      std::vector<pollfd> fds{{listen_, POLLIN, 0}};
      for (auto& c : conns_) fds.push_back({c.fd, POLLIN, 0});
      if (poll(fds.data(), fds.size(), 20) <= 0) continue;
      if (fds[0].revents & POLLIN) {
        int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
          std::lock_guard<std::mutex> lock(mutex_);
          conns_.push_back({fd, accepted_++, {}, false});
        }
      }
      for (size_t i = 1; i < fds.size(); i++) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        Conn& c = conns_[i - 1];
        char chunk[4096];
        ssize_t n = recv(c.fd, chunk, sizeof chunk, 0);
        if (n <= 0) {
          close(c.fd);
          c.fd = -1;
          continue;
        }
        c.buf.append(chunk, static_cast<size_t>(n));
        size_t end_of_request;
        // A request ends after its headers and the Content-Length bytes of its body.
        while (!c.silent && (end_of_request = RequestEnd(c.buf)) != std::string::npos) {
          Step step{"", After::Close};
          {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back({c.index, c.buf.substr(0, end_of_request)});
            if (!steps_.empty()) {
              step = steps_.front();
              steps_.pop_front();
            }
          }
          c.buf.erase(0, end_of_request);
          size_t sent = 0;
          while (sent < step.Reply.size()) {
            ssize_t w = send(c.fd, step.Reply.data() + sent, step.Reply.size() - sent, MSG_NOSIGNAL);
            if (w <= 0) break;
            sent += static_cast<size_t>(w);
          }
          if (step.Then == After::Silent) {
            c.silent = true;  // says no more, keeps the connection open
            break;
          }
          if (step.Then == After::Close) {
            close(c.fd);
            c.fd = -1;
            break;
          }
        }
      }
      std::erase_if(conns_, [](const Conn& c) { return c.fd < 0; });
    }
  }

  // Where the first whole request in buf ends, or npos.
  static size_t RequestEnd(const std::string& buf) {
    const size_t head = buf.find("\r\n\r\n");
    if (head == std::string::npos) return head;
    size_t length = 0;
    std::string lower = buf.substr(0, head);
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    const size_t at = lower.find("\r\ncontent-length:");
    if (at != std::string::npos) length = std::stoul(lower.substr(at + 17));
    return buf.size() >= head + 4 + length ? head + 4 + length : std::string::npos;
  }

  int listen_ = -1;
  int port_ = 0;
  std::deque<Step> steps_;
  std::vector<Conn> conns_;
  std::vector<Request> requests_;
  int accepted_ = 0;
  std::mutex mutex_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A 200 reply with a Content-Length body.
inline std::string Ok200(const std::string& body, const std::string& extraHeaders = "") {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" + body;
}
