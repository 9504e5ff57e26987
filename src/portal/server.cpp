#include "portal/server.h"
#include "portal/log_text.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>

namespace {

bool SameName(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

bool HasHeader(const TPortalReply& r, const char* name) {
  for (const auto& h : r.Headers)
    if (SameName(h.first, name)) return true;
  return false;
}

TPortalReply Plain(int status, const std::string& text, const std::string& reason) {
  TPortalReply r;
  r.Status = status;
  r.Body = text;
  r.Reason = reason;
  return r;
}

// The peer as text (an IPv4 client of a dual-stack socket in dotted form),
// and the key its connections are counted under: the address, or its /64.
void PeerOf(const sockaddr* sa, std::string& address, std::string& key) {
  char buf[INET6_ADDRSTRLEN] = "";
  if (sa && sa->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, buf, sizeof buf);
    address = key = buf;
  } else if (sa && sa->sa_family == AF_INET6) {
    const in6_addr& a = reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&a)) {
      inet_ntop(AF_INET, &a.s6_addr[12], buf, sizeof buf);
      address = key = buf;
      return;
    }
    inet_ntop(AF_INET6, &a, buf, sizeof buf);
    address = buf;
    in6_addr prefix = a;
    std::memset(&prefix.s6_addr[8], 0, 8);
    inet_ntop(AF_INET6, &prefix, buf, sizeof buf);
    key = std::string(buf) + "/64";
  } else {
    address = key = "?";
  }
}

constexpr const char kTimeoutReply[] =
    "HTTP/1.1 408 Request Timeout\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: 16\r\n"
    "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\nRequest timeout\n";

}  // namespace

// One connection, as the event thread sees it.
struct TPortalHttpServer::TConn {
  enum class EState { Waiting, Reading, Working, Writing };
  MHD_Connection* Mhd = nullptr;
  int Fd = -1;
  std::string Address, Key;
  EState State = EState::Waiting;
  TClock::time_point ReadyAt;  // opened, or its last reply written
  std::list<TConn*>::iterator InUnfinished, InAll;
  bool Listed = false;
  bool Closing = false;  // we shut it; MHD has yet to notice
  // The request under way.
  std::string Method, Target, ForwardedFor, Body;
  const char* Uri = nullptr;  // the target in MHD's buffer, while the request is read
  TClock::time_point Start, WritingSince;
  bool HeadersSeen = false, TooLarge = false, Replied = false;
  bool LargeSlot = false;  // holds one of the places for large uploads
  size_t Limit = 0, ReplyBytes = 0;
  std::shared_ptr<TJob> Job;
  TPortalReply Reply;
};

// A request handed to a worker; the event thread takes the reply back when
// the worker resumes the connection.
struct TPortalHttpServer::TJob {
  std::mutex Mutex;
  enum class EState { Queued, Done, Abandoned } State = EState::Queued;
  MHD_Connection* Mhd = nullptr;
  TPortalRequest Request;
  TPortalReply Reply;
  std::string Error;  // what the service threw
  bool LargeSlot = false;
};

// Threads that run the service. One more is started whenever a request
// would otherwise wait, up to the maximum; the extra ones leave when idle.
class TPortalHttpServer::TWorkers {
public:
  TWorkers(int min, int max) : min_(std::max(1, min)), max_(std::max(min_, max)) {}
  ~TWorkers() {
    std::unique_lock<std::mutex> lock(mutex_);
    stop_ = true;
    wake_.notify_all();
    gone_.wait(lock, [&] { return threads_ == 0; });
  }
  void Submit(std::function<void()> task) {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(task));
    if (idle_ < static_cast<int>(queue_.size()) && threads_ < max_) {
      threads_++;
      std::thread([this] { Loop(); }).detach();
    }
    wake_.notify_one();
  }
  int Busy() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return threads_ - idle_ + static_cast<int>(queue_.size());
  }

private:
  void Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      idle_++;
      const bool got = wake_.wait_for(lock, std::chrono::seconds(30), [&] { return stop_ || !queue_.empty(); });
      idle_--;
      if (queue_.empty() && (stop_ || (!got && threads_ > min_))) break;
      if (queue_.empty()) continue;
      auto task = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      task();
      lock.lock();
    }
    threads_--;
    gone_.notify_all();
  }

  const int min_, max_;
  mutable std::mutex mutex_;
  std::condition_variable wake_, gone_;
  std::deque<std::function<void()>> queue_;
  int threads_ = 0, idle_ = 0;
  bool stop_ = false;
};

struct TMhdCallbacks {
  static TPortalHttpServer::TConn* ConnOf(MHD_Connection* c) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<TPortalHttpServer::TConn*>(info->socket_context) : nullptr;
  }
  static MHD_Result Accept(void* cls, const sockaddr* addr, socklen_t len) {
    return static_cast<TPortalHttpServer*>(cls)->OnAccept(addr, len) ? MHD_YES : MHD_NO;
  }
  static void Notify(void* cls, MHD_Connection* c, void** socketContext, MHD_ConnectionNotificationCode code) {
    auto* self = static_cast<TPortalHttpServer*>(cls);
    using TConn = TPortalHttpServer::TConn;
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
      auto* conn = new TConn;
      conn->Mhd = c;
      if (const MHD_ConnectionInfo* i = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD))
        conn->Fd = i->connect_fd;
      const MHD_ConnectionInfo* a = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
      PeerOf(a ? a->client_addr : nullptr, conn->Address, conn->Key);
      *socketContext = conn;
      self->live_++;
      self->perAddress_[conn->Key]++;
      conn->InAll = self->all_.insert(self->all_.end(), conn);
      self->MarkReady(*conn, TPortalHttpServer::TClock::now());
    } else {
      auto* conn = static_cast<TConn*>(*socketContext);
      if (!conn) return;
      self->Unlist(*conn);
      self->ReleaseLarge(*conn);
      self->all_.erase(conn->InAll);
      if (!conn->Closing) {
        self->live_--;
        if (--self->perAddress_[conn->Key] <= 0) self->perAddress_.erase(conn->Key);
      }
      delete conn;
      *socketContext = nullptr;
    }
  }
  static void* UriLog(void*, const char* uri, MHD_Connection* c) {
    TPortalHttpServer::TConn* conn = ConnOf(c);
    if (!conn) return nullptr;
    conn->State = TPortalHttpServer::TConn::EState::Reading;
    conn->Target = uri ? uri : "";
    conn->Uri = uri;
    conn->Method.clear();
    conn->ForwardedFor.clear();
    conn->Body.clear();
    conn->HeadersSeen = conn->TooLarge = conn->Replied = false;
    conn->Job.reset();
    conn->Reply = TPortalReply{};
    conn->Start = TPortalHttpServer::TClock::now();
    return conn;
  }
  static MHD_Result Access(void* cls, MHD_Connection* c, const char*, const char* method, const char* version,
                           const char* upload, size_t* uploadSize, void** reqCls) {
    auto* conn = static_cast<TPortalHttpServer::TConn*>(*reqCls);
    if (!conn) conn = ConnOf(c);
    if (!conn) return MHD_NO;
    *reqCls = conn;
    return static_cast<TPortalHttpServer*>(cls)->OnAccess(*conn, c, method, version, upload, uploadSize) ? MHD_YES
                                                                                                         : MHD_NO;
  }
  static void Completed(void* cls, MHD_Connection* c, void** reqCls, MHD_RequestTerminationCode toe) {
    auto* conn = static_cast<TPortalHttpServer::TConn*>(*reqCls);
    if (!conn) conn = ConnOf(c);
    if (conn) static_cast<TPortalHttpServer*>(cls)->OnCompleted(*conn, toe);
    *reqCls = nullptr;
  }
  static MHD_Result ForwardedFor(void* cls, MHD_ValueKind, const char* key, const char* value) {
    if (key && value && strcasecmp(key, "X-Forwarded-For") == 0) {
      auto* out = static_cast<std::string*>(cls);
      if (!out->empty()) *out += ", ";
      *out += value;
    }
    return MHD_YES;
  }
  static void FreeBody(void* cls) { delete static_cast<std::string*>(cls); }
  static void MhdLog(void* cls, const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    static_cast<TPortalHttpServer*>(cls)->LibraryMessage(text);
  }
};

TPortalHttpServer::TPortalHttpServer(TPortalService& service, std::FILE* log, TPortalServerOptions options)
    : service_(service),
      log_(log),
      options_(std::move(options)),
      workers_(std::make_unique<TWorkers>(options_.MinWorkers, options_.MaxWorkers)) {}

TPortalHttpServer::~TPortalHttpServer() {
  // A worker about to resume a connection needs the daemon still there.
  if (daemon_ && pendingResumes_ == 0) MHD_stop_daemon(daemon_);
  if (listenFd_ >= 0) close(listenFd_);
  workers_.reset();
  if (wakeFd_ >= 0) close(wakeFd_);
  if (pollFd_ >= 0) close(pollFd_);
}

int TPortalHttpServer::Unfinished() const { return workers_->Busy(); }

int TPortalHttpServer::Bind(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &found) != 0 || !found) return -1;
  int fd = -1;
  for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
    fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) continue;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, SOMAXCONN) != 0) {
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  if (fd < 0) return -1;
  sockaddr_storage bound{};
  socklen_t len = sizeof bound;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
  const int boundPort = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                                          : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);

  // Every connection is a descriptor; ask for enough of them.
  rlimit files{};
  const rlim_t want = static_cast<rlim_t>(options_.MaxConnections) + 256;
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < want) {
    files.rlim_cur = std::min(want, files.rlim_max);
    setrlimit(RLIMIT_NOFILE, &files);
  }

  // MHD's own cap is above ours: connections we have shut stay counted by
  // it until it notices.
  daemon_ = MHD_start_daemon(MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG, 0, &TMhdCallbacks::Accept,
                             this, &TMhdCallbacks::Access, this, MHD_OPTION_EXTERNAL_LOGGER, &TMhdCallbacks::MhdLog,
                             this, MHD_OPTION_LISTEN_SOCKET, fd, MHD_OPTION_CONNECTION_LIMIT,
                             static_cast<unsigned>(options_.MaxConnections + 64), MHD_OPTION_CONNECTION_TIMEOUT,
                             options_.IdleTimeoutSec, MHD_OPTION_CONNECTION_MEMORY_LIMIT, options_.MaxHeaderBytes,
                             MHD_OPTION_NOTIFY_CONNECTION, &TMhdCallbacks::Notify, this, MHD_OPTION_NOTIFY_COMPLETED,
                             &TMhdCallbacks::Completed, this, MHD_OPTION_URI_LOG_CALLBACK, &TMhdCallbacks::UriLog, this,
                             MHD_OPTION_STRICT_FOR_CLIENT, 1, MHD_OPTION_END);
  if (!daemon_) {
    close(fd);
    return -1;
  }
  listenFd_ = fd;
  // The event thread sleeps on MHD's descriptors and on our wake-up call.
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_EPOLL_FD);
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  pollFd_ = epoll_create1(EPOLL_CLOEXEC);
  if (!info || wakeFd_ < 0 || pollFd_ < 0) return -1;
  for (int watched : {info->epoll_fd, wakeFd_}) {
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.fd = watched;
    if (epoll_ctl(pollFd_, EPOLL_CTL_ADD, watched, &e) != 0) return -1;
  }
  return boundPort;
}

void TPortalHttpServer::Stop() {
  stopRequested_ = true;
  Wake();
}

void TPortalHttpServer::Wake() {
  if (wakeFd_ < 0) return;
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
}

// Waits for the sockets, a resumed connection or the tick, then lets MHD do
// its work.
bool TPortalHttpServer::Turn(int maxMs) {
  MHD_UNSIGNED_LONG_LONG mhdMs = 0;
  int wait = maxMs;
  if (MHD_get_timeout(daemon_, &mhdMs) == MHD_YES && mhdMs < static_cast<MHD_UNSIGNED_LONG_LONG>(wait))
    wait = static_cast<int>(mhdMs);
  epoll_event events[4];
  const int n = epoll_wait(pollFd_, events, 4, wait);
  if (n < 0 && errno != EINTR) return false;
  for (int i = 0; i < n; i++) {
    if (events[i].data.fd == wakeFd_) {
      uint64_t count;
      [[maybe_unused]] ssize_t r = read(wakeFd_, &count, sizeof count);
    }
  }
  return MHD_run(daemon_) == MHD_YES;
}

bool TPortalHttpServer::Run() {
  if (!daemon_) return false;
  bool ok = true;
  for (;;) {
    if (!Turn(100)) {
      ok = false;
      break;
    }
    const auto now = TClock::now();
    if (stopRequested_ && !stopping_) {
      stopping_ = true;
      stopDeadline_ =
          now + std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(options_.StopGraceSec));
      const MHD_socket l = MHD_quiesce_daemon(daemon_);
      if (l != MHD_INVALID_SOCKET) close(l);
      listenFd_ = -1;
    }
    Sweep(now);
    if (!stopping_) continue;
    bool busy = false;
    for (TConn* c : all_)
      if (!c->Closing && (c->State == TConn::EState::Working || c->State == TConn::EState::Writing)) busy = true;
    if (!busy && pendingResumes_ == 0) break;
    if (now < stopDeadline_) continue;
    // Out of time: what the service still holds is dropped, unread replies
    // are cut.
    for (TConn* c : all_) {
      if (c->State == TConn::EState::Working && c->Job) {
        bool resume = false;
        {
          std::lock_guard<std::mutex> lock(c->Job->Mutex);
          if (c->Job->State == TJob::EState::Queued) {
            c->Job->State = TJob::EState::Abandoned;
            resume = true;
          }
        }
        if (resume) {
          MHD_resume_connection(c->Mhd);
          pendingResumes_--;
        }
      } else if (!c->Closing) {
        Close(*c, false);
      }
    }
    const auto last = now + std::chrono::milliseconds(500);
    while (pendingResumes_ > 0 && TClock::now() < last) Turn(10);
    for (int i = 0; i < 5 && !all_.empty(); i++) Turn(10);
    break;
  }
  if (pendingResumes_ == 0) {
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
  }
  return ok;
}

int TPortalHttpServer::OnAccept(const sockaddr* addr, unsigned) {
  if (stopping_) return 0;
  std::string address, key;
  PeerOf(addr, address, key);
  bool ok = true;
  if (!options_.Unlimited || !options_.Unlimited(address)) {
    auto it = perAddress_.find(key);
    if (it != perAddress_.end() && it->second >= options_.MaxPerAddress) ok = EvictOldest(&key);
  }
  if (ok && live_ >= options_.MaxConnections) ok = EvictOldest(nullptr);
  if (!ok) {
    // One line a second at most: a flood must not fill the log.
    refused_++;
    const auto now = TClock::now();
    if (log_ && now - lastRefusalLog_ >= std::chrono::seconds(1)) {
      std::fprintf(log_, "refused %lld connection(s): no room (last from %s)\n", refused_,
                   PrintableText(address, 64).c_str());
      std::fflush(log_);
      refused_ = 0;
      lastRefusalLog_ = now;
    }
  }
  return ok;
}

size_t TPortalHttpServer::BodyLimit(const std::string& target) const {
  const std::string path = target.substr(0, target.find('?'));
  for (const auto& [p, limit] : options_.BodyLimits)
    if (p == path) return limit;
  return options_.MaxBodyBytes;
}

int TPortalHttpServer::OnAccess(TConn& conn, MHD_Connection* c, const char* method, const char* version,
                                const char* upload, size_t* uploadSize) {
  if (conn.Job) {
    // Back from a worker.
    std::shared_ptr<TJob> job = std::move(conn.Job);
    std::unique_lock<std::mutex> lock(job->Mutex);
    if (job->State == TJob::EState::Abandoned) {
      Log(conn, 503, 0, "stopped before the service answered", nullptr);
      return 0;
    }
    if (!job->Error.empty() && log_) {
      std::fprintf(log_, "error: %s\n", PrintableText(job->Error, 500).c_str());
    }
    return Queue(conn, c, std::move(job->Reply));
  }
  if (!conn.HeadersSeen) {
    conn.HeadersSeen = true;
    conn.Method = method ? method : "";
    if (conn.State == TConn::EState::Waiting) {
      // No request line seen (should not happen): count from now.
      Unlist(conn);
      conn.State = TConn::EState::Reading;
      conn.Start = TClock::now();
    }
    // MHD hands the target over as a C string: a NUL byte inside it would cut
    // it short unseen. The version follows the target in the request line.
    if (conn.Uri && version && version > conn.Uri && version - conn.Uri < 65536 &&
        version != conn.Uri + conn.Target.size() + 1)
      return Queue(conn, c, Plain(400, "Bad request\n", "NUL in the target"));
    conn.Uri = nullptr;
    MHD_get_connection_values(c, MHD_HEADER_KIND, &TMhdCallbacks::ForwardedFor, &conn.ForwardedFor);
    conn.Limit = BodyLimit(conn.Target);
    const char* length = MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    if (length && std::strtoull(length, nullptr, 10) > conn.Limit)
      return Queue(conn, c, Plain(413, "Request body too large\n", "body too large"));
    if (conn.Limit > options_.MaxBodyBytes) {
      // Large uploads are few at a time, so that memory stays bounded.
      const bool chunked = MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING);
      if (length ? std::strtoull(length, nullptr, 10) > options_.MaxBodyBytes : chunked) {
        if (largeBodies_.fetch_add(1) >= options_.MaxLargeBodies) {
          largeBodies_--;
          TPortalReply busy = Plain(503, "Busy, try again shortly\n", "too many large uploads");
          busy.Headers.emplace_back("Retry-After", "5");
          return Queue(conn, c, std::move(busy));
        }
        conn.LargeSlot = true;
      } else {
        conn.Limit = options_.MaxBodyBytes;
      }
    }
    return 1;
  }
  if (*uploadSize > 0) {
    if (!conn.TooLarge && conn.Body.size() + *uploadSize > conn.Limit) {
      conn.TooLarge = true;
      conn.Body.clear();
      conn.Body.shrink_to_fit();
    }
    if (!conn.TooLarge) conn.Body.append(upload, *uploadSize);
    *uploadSize = 0;
    return 1;
  }
  if (conn.TooLarge) return Queue(conn, c, Plain(413, "Request body too large\n", "body too large"));
  if (conn.Replied) return 1;

  // The request is whole: hand it to a worker and park the connection.
  Unlist(conn);
  conn.State = TConn::EState::Working;
  auto job = std::make_shared<TJob>();
  job->Mhd = c;
  job->Request = TPortalRequest{conn.Method, conn.Target, conn.Address, conn.ForwardedFor, std::move(conn.Body)};
  conn.Body.clear();
  job->LargeSlot = conn.LargeSlot;
  conn.LargeSlot = false;
  conn.Job = job;
  MHD_suspend_connection(c);
  pendingResumes_++;
  workers_->Submit([this, job] {
    TPortalReply reply;
    std::string error;
    try {
      reply = service_.Handle(job->Request);
    } catch (const std::exception& e) {
      error = e.what()[0] ? e.what() : "exception";
    } catch (...) {
      error = "unknown exception";
    }
    if (!error.empty()) reply = Plain(503, "ERR|service unavailable|\n", "service failed");
    if (job->LargeSlot) {
      job->Request.Body = std::string();
      largeBodies_--;
    }
    {
      std::lock_guard<std::mutex> lock(job->Mutex);
      if (job->State == TJob::EState::Abandoned) return;
      job->Reply = std::move(reply);
      job->Error = std::move(error);
      job->State = TJob::EState::Done;
    }
    MHD_resume_connection(job->Mhd);
    Wake();
    pendingResumes_--;
  });
  return 1;
}

bool TPortalHttpServer::Queue(TConn& conn, MHD_Connection* c, TPortalReply reply) {
  auto* body = new std::string(std::move(reply.Body));
  MHD_Response* r = MHD_create_response_from_buffer_with_free_callback_cls(body->size(), body->data(),
                                                                           &TMhdCallbacks::FreeBody, body);
  if (!r) {
    delete body;
    return false;
  }
  const size_t bytes = body->size();
  MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, reply.ContentType.c_str());
  for (const auto& [name, value] : reply.Headers) MHD_add_response_header(r, name.c_str(), value.c_str());
  if (!HasHeader(reply, "X-Content-Type-Options")) MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
  const bool page = reply.Status == 200 && reply.ContentType.rfind("text/html", 0) == 0;
  if (!HasHeader(reply, "Cache-Control"))
    MHD_add_response_header(r, MHD_HTTP_HEADER_CACHE_CONTROL, page ? "max-age=10" : "no-store");
  if (reply.ContentType.rfind("text/html", 0) == 0 && !HasHeader(reply, "Content-Security-Policy")) {
    // The pages carry their style and pictures inline and load nothing.
    MHD_add_response_header(r, "Content-Security-Policy",
                            "default-src 'none'; style-src 'unsafe-inline'; base-uri 'none'; form-action 'none'; "
                            "frame-ancestors 'none'");
    MHD_add_response_header(r, "Referrer-Policy", "no-referrer");
  }
  if (stopping_) MHD_add_response_header(r, MHD_HTTP_HEADER_CONNECTION, "close");
  const bool ok = MHD_queue_response(c, static_cast<unsigned>(reply.Status), r) == MHD_YES;
  MHD_destroy_response(r);
  if (!ok) return false;
  Unlist(conn);
  conn.State = TConn::EState::Writing;
  conn.WritingSince = TClock::now();
  conn.Replied = true;
  conn.Reply = std::move(reply);  // its body has gone to MHD; the size is kept for the log
  conn.ReplyBytes = bytes;
  return true;
}

void TPortalHttpServer::OnCompleted(TConn& conn, int toe) {
  if (conn.Replied) {
    const bool sent = toe == MHD_REQUEST_TERMINATED_COMPLETED_OK;
    Log(conn, conn.Reply.Status, conn.ReplyBytes, conn.Reply.Reason, sent ? nullptr : "not delivered",
        conn.Reply.ForwardedClient);
    Observe(conn, conn.Reply);
  }
  conn.Replied = false;
  conn.HeadersSeen = false;
  ReleaseLarge(conn);
  conn.Job.reset();
  if (conn.Closing) return;
  MarkReady(conn, TClock::now());
  if (stopping_) Close(conn, false);
}

void TPortalHttpServer::ReleaseLarge(TConn& conn) {
  if (!conn.LargeSlot) return;
  conn.LargeSlot = false;
  largeBodies_--;
}

void TPortalHttpServer::MarkReady(TConn& conn, TClock::time_point now) {
  Unlist(conn);
  conn.State = TConn::EState::Waiting;
  conn.ReadyAt = now;
  conn.InUnfinished = unfinished_.insert(unfinished_.end(), &conn);
  conn.Listed = true;
}

void TPortalHttpServer::Unlist(TConn& conn) {
  if (!conn.Listed) return;
  unfinished_.erase(conn.InUnfinished);
  conn.Listed = false;
}

// Shut from our side; MHD sees the socket end and lets go of it. A client
// caught in the middle of its request is told why.
void TPortalHttpServer::Close(TConn& conn, bool timedOut) {
  if (conn.Closing) return;
  Unlist(conn);
  conn.Closing = true;
  live_--;
  if (--perAddress_[conn.Key] <= 0) perAddress_.erase(conn.Key);
  if (timedOut && conn.State == TConn::EState::Reading) {
    [[maybe_unused]] ssize_t n = send(conn.Fd, kTimeoutReply, sizeof kTimeoutReply - 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    Log(conn, 408, 16, "request deadline", nullptr);
    Observe(conn, Plain(408, "Request timeout\n", "request deadline"));
  }
  shutdown(conn.Fd, SHUT_RDWR);
}

// Makes room by closing the connection that has waited longest without a
// whole request (of this address when key is given); failing that, the one
// whose reply has sat unread the longest, past UnreadReplySec. False when
// none.
bool TPortalHttpServer::EvictOldest(const std::string* key) {
  for (TConn* c : unfinished_) {
    if (key && c->Key != *key) continue;
    Close(*c, true);
    return true;
  }
  const auto now = TClock::now();
  TConn* stalled = nullptr;
  for (TConn* c : all_) {
    if (c->Closing || c->State != TConn::EState::Writing || (key && c->Key != *key)) continue;
    if (now - c->WritingSince < std::chrono::duration<double>(options_.UnreadReplySec)) continue;
    if (!stalled || c->WritingSince < stalled->WritingSince) stalled = c;
  }
  if (!stalled) return false;
  Close(*stalled, false);
  return true;
}

void TPortalHttpServer::Sweep(TClock::time_point now) {
  if (stopping_) {
    while (!unfinished_.empty()) Close(*unfinished_.front(), true);
    return;
  }
  const auto deadline =
      std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(options_.RequestDeadlineSec));
  while (!unfinished_.empty() && now - unfinished_.front()->ReadyAt >= deadline) Close(*unfinished_.front(), true);
}

// What the library says (a malformed request it answered itself, a failed
// accept), a few lines a second at most: a flood must not fill the log.
void TPortalHttpServer::LibraryMessage(const char* text) {
  if (!log_) return;
  std::lock_guard<std::mutex> lock(libraryLogMutex_);
  const auto now = TClock::now();
  if (now - libraryLogSecond_ >= std::chrono::seconds(1)) {
    if (librarySkipped_) std::fprintf(log_, "http: %d more message(s) left out\n", librarySkipped_);
    libraryLogSecond_ = now;
    libraryLines_ = librarySkipped_ = 0;
  }
  if (++libraryLines_ > 5) {
    librarySkipped_++;
    return;
  }
  std::string line = PrintableText(text, 300);
  while (line.size() >= 4 && line.compare(line.size() - 4, 4, "\\x0a") == 0) line.resize(line.size() - 4);
  std::fprintf(log_, "http: %s\n", line.c_str());
  std::fflush(log_);
}

void TPortalHttpServer::Log(const TConn& conn, int status, size_t bytes, const std::string& reason, const char* note,
                            const std::string& forwardedClient) {
  if (!log_) return;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - conn.Start).count();
  const std::string when = UtcTimestamp(time(nullptr));
  std::string why = reason;
  if (note) why += why.empty() ? note : std::string("; ") + note;
  // A client named by a trusted proxy comes first, as in X-Forwarded-For:
  // "198.51.100.7,127.0.0.1".
  const std::string who = forwardedClient.empty() ? conn.Address : forwardedClient + "," + conn.Address;
  std::fprintf(log_, "%s %s %s %s %d %zu %lldms%s%s\n", when.c_str(), PrintableText(who, 128).c_str(),
               conn.Method.empty() ? "-" : PrintableText(conn.Method, 16).c_str(),
               conn.Target.empty() ? "-" : PrintableText(conn.Target, 200).c_str(), status, bytes,
               static_cast<long long>(ms), why.empty() ? "" : " ", PrintableText(why, 200).c_str());
  std::fflush(log_);
}

void TPortalHttpServer::Observe(const TConn& conn, const TPortalReply& reply) {
  const double seconds = std::chrono::duration<double>(TClock::now() - conn.Start).count();
  try {
    service_.Observe(TPortalRequest{conn.Method, conn.Target, conn.Address, conn.ForwardedFor}, reply, seconds);
  } catch (const std::exception& e) {
    if (log_) std::fprintf(log_, "error: %s\n", PrintableText(e.what(), 500).c_str());
  }
}

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
