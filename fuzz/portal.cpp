// The portal's request handling: each input line is one request, "METHOD
// TARGET", from one of a few clients a second apart. The token check is the
// store's business and is not fuzzed here: every token passes, so that
// submissions reach the table and the pages that show it.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "portal/service.h"
#include "portal/store.h"
#include "support/memory_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16384) return 0;
  TMemoryStore store;
  store.AnyToken = true;
  TPortalService service(store);
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  int64_t now = 1765000000000;
  int n = 0;
  for (std::string line; std::getline(in, line) && n < 200; ++n) {
    const size_t space = line.find(' ');
    TPortalRequest request;
    request.Method = line.substr(0, space);
    request.Target = space == std::string::npos ? "" : line.substr(space + 1);
    request.Client = "127.0.0." + std::to_string(n % 3 + 1);
    const TPortalReply reply = service.Handle(request, now += 1000);
    service.Observe(request, reply, 0.001);
    if (reply.Status < 200 || reply.Status > 599) __builtin_trap();
    // Whatever the submissions held, a page is never cut open by a name.
    if (reply.ContentType.rfind("text/html", 0) == 0 && reply.Body.find("<script") != std::string::npos)
      __builtin_trap();
  }
  return 0;
}
