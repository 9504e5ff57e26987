#include "portal/admin.h"
#include "portal/log_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

const char* const kAdminUsage =
    "  --db-pool N          database connections held open (default 4)\n"
    "  --db-timeout MS      longest wait for one database statement (default 1500); past it\n"
    "                       the request gets 503\n"
    "\n"
    "Commands for the operator (with --db as above):\n"
    "  quorvane-portal backup FILE        copy a SQLite database, while it serves, into the new\n"
    "                                     FILE (PostgreSQL: use pg_dump)\n"
    "  quorvane-portal list --since WHEN [--limit N]\n"
    "                                     rows entered since WHEN (2025-12-06, 2025-12-06T18:30Z,\n"
    "                                     @UNIXSECONDS, or an age: 30m, 12h, 7d), oldest first\n"
    "                                     with where each row's replay stands\n"
    "  quorvane-portal remove ID          delete the row with that id (from list) and its replay\n";

namespace {

bool WholeNumber(const std::string& text, int64_t lo, int64_t hi, int64_t& out) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  out = std::strtoll(text.c_str(), nullptr, 10);
  return out >= lo && out <= hi;
}

// Names and mottos are UTF-8: only their control bytes are escaped.
std::string Shown(const std::string& s) { return PrintableText(s, std::string::npos, true); }

void PrintRow(const TScoreRow& r) {
  std::string replay = r.Replay == EReplayState::None ? "none" : ReplayStateName(r.Replay);
  if (r.Replay == EReplayState::Refused) replay += ": " + r.ReplayReason;
  std::printf("%lld\t%s\t%u\t%s\t%s\t%s\n", static_cast<long long>(r.Id), UtcTimestamp(r.Created).c_str(), r.Score,
              Shown(r.Name).c_str(), Shown(r.Motto).c_str(), Shown(replay).c_str());
}

[[noreturn]] void Usage(const std::string& message) {
  std::fprintf(stderr, "quorvane-portal: %s (see --help)\n", message.c_str());
  std::exit(2);
}

}  // namespace

bool IsAdminCommand(const std::string& word) {
  return word == "backup" || word == "list" || word == "remove" || word == "serve";
}

bool ParseWhen(const std::string& text, int64_t now, int64_t& out) {
  int64_t n = 0;
  if (text.size() >= 2 && text[0] == '@') return WholeNumber(text.substr(1), 0, int64_t{1} << 40, out);
  if (text.size() >= 2 && WholeNumber(text.substr(0, text.size() - 1), 0, int64_t{1} << 32, n)) {
    const char unit = text.back();
    const int64_t scale = unit == 's' ? 1 : unit == 'm' ? 60 : unit == 'h' ? 3600 : unit == 'd' ? 86400 : 0;
    if (!scale) return false;
    out = now - n * scale;
    return true;
  }
  tm parts{};
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, used = 0;
  const char* c = text.c_str();
  if (std::sscanf(c, "%4d-%2d-%2d%n", &y, &mo, &d, &used) != 3 || used != 10) return false;
  std::string rest = text.substr(10);
  if (!rest.empty()) {
    if (rest.back() == 'Z') rest.pop_back();
    int got = 0;
    if (rest.size() == 6 && std::sscanf(rest.c_str(), "T%2d:%2d%n", &h, &mi, &got) == 2 && got == 6) {
    } else if (rest.size() == 9 && std::sscanf(rest.c_str(), "T%2d:%2d:%2d%n", &h, &mi, &s, &got) == 3 && got == 9) {
    } else {
      return false;
    }
  }
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60 || y < 1970) return false;
  parts.tm_year = y - 1900;
  parts.tm_mon = mo - 1;
  parts.tm_mday = d;
  parts.tm_hour = h;
  parts.tm_min = mi;
  parts.tm_sec = s;
  out = timegm(&parts);
  return true;
}

bool TakeAdminOption(int argc, char** argv, int& i, TStoreOptions& store, TAdminCommand& command) {
  const std::string a = argv[i];
  auto value = [&]() -> std::string {
    if (i + 1 >= argc) Usage(a + " needs a value");
    return argv[++i];
  };
  int64_t n = 0;
  if (a == "--db-pool") {
    if (!WholeNumber(value(), 1, 64, n)) Usage("--db-pool wants 1 to 64 connections");
    store.Pool = static_cast<int>(n);
  } else if (a == "--db-timeout") {
    if (!WholeNumber(value(), 50, 600000, n)) Usage("--db-timeout wants 50 to 600000 ms");
    store.StatementTimeoutMs = static_cast<int>(n);
  } else if (command.Name.empty() || command.Name == "serve") {
    return false;
  } else if (a == "--since" && command.Name == "list") {
    command.Since = value();
  } else if (a == "--limit" && command.Name == "list") {
    if (!WholeNumber(value(), 1, 1000000, n)) Usage("--limit wants 1 to 1000000 rows");
    command.Limit = static_cast<int>(n);
  } else if (!a.empty() && a[0] != '-') {
    command.Args.push_back(a);
  } else {
    return false;
  }
  return true;
}

int RunAdminCommand(const TAdminCommand& command, const std::string& db, const TStoreOptions& storeOptions) {
  const size_t wantArgs = command.Name == "list" ? 0 : 1;
  if (command.Args.size() != wantArgs)
    Usage(command.Name + (wantArgs ? " wants one argument" : " wants no argument besides its options"));
  int64_t since = 0, id = 0;
  if (command.Name == "list") {
    if (command.Since.empty()) Usage("list wants --since WHEN");
    if (!ParseWhen(command.Since, time(nullptr), since)) Usage("--since: cannot read \"" + command.Since + "\"");
  }
  if (command.Name == "remove" && !WholeNumber(command.Args[0], 1, INT64_MAX / 2, id))
    Usage("remove wants a row id (a number, from list)");
  if (command.Name == "backup" && db.rfind("sqlite:", 0) != 0) {
    std::fprintf(stderr,
                 "quorvane-portal: backup copies a SQLite database; for PostgreSQL use pg_dump, e.g.\n"
                 "  pg_dump -Fc -f %s 'postgresql://...'   (restore with pg_restore)\n",
                 command.Args[0].c_str());
    return 1;
  }
  try {
    TStoreOptions options = storeOptions;
    // A command waits its turn patiently: the portal may be busy.
    options.Pool = 1;
    options.AcquireTimeoutMs = 60000;
    options.StatementTimeoutMs = std::max(options.StatementTimeoutMs, 60000);
    auto store = OpenScoreStore(db, options);
    if (command.Name == "backup") {
      store->Backup(command.Args[0]);
      std::fprintf(stderr, "quorvane-portal: backup written to %s (schema version %d)\n", command.Args[0].c_str(),
                   store->SchemaVersion());
    } else if (command.Name == "list") {
      std::printf("id\tentered (UTC)\tscore\tname\tmotto\treplay\n");
      const auto rows = store->Since(since, command.Limit);
      for (const TScoreRow& r : rows) PrintRow(r);
      if (static_cast<int>(rows.size()) == command.Limit)
        std::fprintf(stderr, "quorvane-portal: the first %d rows; --limit shows more\n", command.Limit);
    } else if (command.Name == "remove") {
      const auto row = store->Remove(id);
      if (!row) {
        std::fprintf(stderr, "quorvane-portal: no row %lld\n", static_cast<long long>(id));
        return 1;
      }
      std::printf("removed:\n");
      PrintRow(*row);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvane-portal: %s\n", e.what());
    return 1;
  }
  return 0;
}
