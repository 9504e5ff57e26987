// The HTTP client reading replies the way the game's online calls do: two
// GETs in a row, so cookies set by the first reply go out with the second.
// The input is the first reply, a line "#NEXT", and the second reply; each
// comes over one end of a socket pair, never the network.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "online/http.h"

namespace {

// Server ends of the pairs handed out for one input.
std::vector<int> g_peers;
std::vector<std::string> g_replies;
size_t g_next = 0;

int Connect(const THttpUrl&) {
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) std::abort();
  const std::string reply = g_next < g_replies.size() ? g_replies[g_next++] : std::string();
  // The whole reply waits in the socket, then the server stops sending.
  fcntl(sv[1], F_SETFL, O_NONBLOCK);
  size_t sent = 0;
  while (sent < reply.size()) {
    const ssize_t n = send(sv[1], reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  shutdown(sv[1], SHUT_WR);
  g_peers.push_back(sv[1]);
  return sv[0];
}

// What the client sent: request lines end in CR LF and hold no other CR, LF
// or NUL, whatever the replies held (cookies go back out in a header line).
void CheckRequests(int peer) {
  std::string sent;
  char buf[4096];
  for (;;) {
    const ssize_t n = recv(peer, buf, sizeof buf, MSG_DONTWAIT);
    if (n <= 0) break;
    sent.append(buf, static_cast<size_t>(n));
  }
  size_t pos = 0;
  while (pos < sent.size()) {
    const size_t end = sent.find("\r\n", pos);
    if (end == std::string::npos) __builtin_trap();
    for (size_t i = pos; i < end; ++i)
      if (sent[i] == '\r' || sent[i] == '\n' || sent[i] == '\0') __builtin_trap();
    pos = end + 2;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Every reply must fit the socket's buffer whole.
  if (size > 100000) return 0;
  const std::string input(reinterpret_cast<const char*>(data), size);
  g_replies.clear();
  g_next = 0;
  const size_t split = input.find("\n#NEXT\n");
  g_replies.push_back(input.substr(0, split));
  if (split != std::string::npos) g_replies.push_back(input.substr(split + 7));

  THttpClient client;
  client.Connector = Connect;
  client.ConnectTimeoutMs = 1000;
  client.ReadTimeoutMs = 1000;
  client.ExchangeTimeoutMs = 2000;
  const char* urls[] = {"http://localhost/scores/top.php?game=1", "http://localhost:8080/scores/send.php?n=A"};
  for (const char* url : urls) {
    std::string body = "unchanged";
    try {
      client.Get(url, body);
      if (body.size() > client.MaxBodyBytes) __builtin_trap();
    } catch (const EHttpError&) {
      // A clear error is the right answer to a bad reply.
    }
  }
  client.Disconnect();
  for (const int peer : g_peers) {
    CheckRequests(peer);
    close(peer);
  }
  g_peers.clear();
  return 0;
}
