// The portal's replay upload: the input is the body of a POST to
// /api/replays for a stored score, and also the line a worker printed about
// it. The upload must be answered, kept byte for byte and served back; the
// worker's line must give a verdict, never a crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "portal/service.h"
#include "portal/store.h"
#include "portal/verifier.h"
#include "support/memory_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20) + 16) return 0;
  const std::string body(reinterpret_cast<const char*>(data), size);
  TMemoryStore store;
  store.AnyToken = true;
  TPortalOptions options;
  options.MaxReplayBytes = 64 * 1024;
  TPortalService service(store, options);
  auto call = [&](const std::string& method, const std::string& target, const std::string& content) {
    TPortalRequest r{method, target, "127.0.0.1"};
    r.Body = content;
    const TPortalReply reply = service.Handle(r, 1765000000000);
    if (reply.Status < 200 || reply.Status > 599) __builtin_trap();
    return reply;
  };
  // A stored score for the token "t".
  store.SpendTokenAndStore("t", 0, TScoreRow{0, "Name", 5, "", 0});
  const TPortalReply up = call("POST", "/api/replays?token=t", body);
  const bool stored = up.Status == 202;
  if (stored != (!body.empty() && body.size() <= options.MaxReplayBytes)) __builtin_trap();
  if (stored) {
    const TPortalReply back = call("GET", "/replays/1.qvr", "");
    if (back.Status != 200 || back.Body != body) __builtin_trap();
    if (call("POST", "/api/replays?token=t", body).Status != 409) __builtin_trap();
  }
  call("GET", "/cgi/version.pl?prg=Quorvane&show&type=0&all=1", "");
  call("GET", "/api/scores?all=1", "");
  std::string game;
  ReplayClaimedGame(body, game);

  // The same bytes as a worker's output.
  TWorkerRun run;
  run.Started = run.Exited = true;
  run.Output = body.substr(0, 4096);
  const TReplayOutcome o = JudgeWorkerRun(run, 5, game);
  if (o.State == EReplayState::Verified && !o.Reason.empty()) __builtin_trap();
  if (o.State != EReplayState::Verified && o.Reason.empty()) __builtin_trap();
  return 0;
}
