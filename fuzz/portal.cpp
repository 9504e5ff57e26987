// The portal's request handling: each input line is one request, "METHOD
// TARGET", from one of a few clients a second apart. The token check is the
// store's business and is not fuzzed here: every token passes, so that
// submissions reach the table and the pages that show it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "portal/service.h"
#include "portal/store.h"

namespace {

class TMemoryStore : public TScoreStore {
public:
  void AddToken(const std::string&, int64_t) override {}
  void PurgeTokens(int64_t) override {}
  bool SpendTokenAndStore(const std::string& token, int64_t, const TScoreRow& row) override {
    if (token.empty()) return false;
    rows_.push_back(row);
    rows_.back().Id = static_cast<int64_t>(rows_.size());
    return true;
  }
  std::vector<TScoreRow> Best(int limit) override {
    std::vector<TScoreRow> best = rows_;
    std::stable_sort(best.begin(), best.end(),
                     [](const TScoreRow& a, const TScoreRow& b) { return a.Score > b.Score; });
    if (static_cast<int>(best.size()) > limit) best.resize(static_cast<size_t>(std::max(limit, 0)));
    return best;
  }
  void Ping() override {}
  std::vector<TScoreRow> Since(int64_t since, int limit) override {
    std::vector<TScoreRow> out;
    for (const auto& r : rows_)
      if (r.Created >= since && static_cast<int>(out.size()) < limit) out.push_back(r);
    return out;
  }
  std::optional<TScoreRow> Remove(int64_t id) override {
    for (auto it = rows_.begin(); it != rows_.end(); ++it)
      if (it->Id == id) {
        TScoreRow r = *it;
        rows_.erase(it);
        return r;
      }
    return std::nullopt;
  }
  void Backup(const std::string&) override { throw EStoreError("no backup of memory"); }
  int SchemaVersion() override { return kScoreSchemaVersion; }

private:
  std::vector<TScoreRow> rows_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16384) return 0;
  TMemoryStore store;
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
