// Who pays for a request (the peer or, behind a trusted proxy, the client it
// names), the buckets' bounded memory, the 429 reply, the token sweep under
// concurrent requests, and the names and mottos in the game's code page.
#include <gtest/gtest.h>

#include <barrier>
#include <map>
#include <mutex>
#include <thread>

#include "portal/rate_limit.h"
#include "portal/service.h"
#include "submission/submission.h"
#include "support/memory_store.h"

namespace {

constexpr int64_t kT0 = 1765000000000;

std::vector<TCidr> Ranges(const std::string& text) {
  std::vector<TCidr> r;
  std::string why;
  EXPECT_TRUE(ParseCidrList(text, r, why)) << text << ": " << why;
  return r;
}

TEST(PortalTrustedProxies, RangesParseOrSayWhyNot) {
  const char* good[] = {"127.0.0.1", "127.0.0.1/32", "10.0.0.0/8,192.168.0.0/16", " ::1/128 , fd00::/8",
                        "0.0.0.0/0", "::/0",         "::ffff:10.0.0.0/104"};
  for (const char* g : good) Ranges(g);
  const char* bad[] = {"",          "10.0.0.0/33", "::1/129",     "10.0.0/8",     "localhost",
                       "10.0.0.1/", "10.0.0.1,",   "10.0.0.1/-1", "fe80::1%eth0", "1.2.3.4/8x"};
  for (const char* b : bad) {
    std::vector<TCidr> r;
    std::string why;
    EXPECT_FALSE(ParseCidrList(b, r, why)) << b;
    EXPECT_FALSE(why.empty()) << b;
    EXPECT_TRUE(r.empty()) << b;
  }
  // Host bits are dropped: 10.1.2.3/8 is all of 10/8.
  TIpAddress a;
  ASSERT_TRUE(ParseIpAddress("10.200.0.1", a));
  EXPECT_TRUE(InRanges(a, Ranges("10.1.2.3/8")));
  EXPECT_FALSE(InRanges(a, Ranges("11.0.0.0/8,10.0.0.0/9")));
  // An IPv4 range holds the IPv4-mapped IPv6 form of its addresses too.
  ASSERT_TRUE(ParseIpAddress("::ffff:10.0.0.7", a));
  EXPECT_TRUE(InRanges(a, Ranges("10.0.0.0/29")));
}

TEST(PortalTrustedProxies, WhoIsCharged) {
  const std::string proxies = "127.0.0.1/32,10.0.0.0/8,fd00::/8";
  struct Case {
    const char* Why;
    std::string Peer, ForwardedFor, Key;
  };
  const Case cases[] = {
      {"no proxy: the peer", "203.0.113.5", "", "203.0.113.5"},
      {"an untrusted peer cannot name someone else", "203.0.113.5", "198.51.100.1", "203.0.113.5"},
      {"a trusted proxy names the client", "127.0.0.1", "198.51.100.1", "198.51.100.1"},
      {"a trusted proxy without the header: the proxy", "127.0.0.1", "", "127.0.0.1"},
      {"the right-most untrusted hop; what is left of it is the client's own say", "127.0.0.1",
       "1.1.1.1, 198.51.100.1, 10.2.3.4", "198.51.100.1"},
      {"a chain of our own proxies: the left-most", "127.0.0.1", "10.0.0.9, 10.0.0.8", "10.0.0.9"},
      {"a malformed header is not believed at all", "127.0.0.1", "198.51.100.1, junk", "127.0.0.1"},
      {"an empty element is malformed", "127.0.0.1", "198.51.100.1,,", "127.0.0.1"},
      {"unknown is malformed", "127.0.0.1", "unknown", "127.0.0.1"},
      {"ports after an address are allowed", "127.0.0.1", "198.51.100.1:4711", "198.51.100.1"},
      {"bracketed IPv6 with a port", "127.0.0.1", "[2001:db8:1:2::7]:443", "2001:db8:1:2::/64"},
      {"IPv6: one bucket per /64", "127.0.0.1", "2001:db8:1:2:aaaa:bbbb:cccc:dddd", "2001:db8:1:2::/64"},
      {"IPv6 peer, trusted, names an IPv4 client", "fd00::1", "198.51.100.7", "198.51.100.7"},
      {"IPv6 peer, untrusted", "2001:db8:9:9:1::1", "198.51.100.7", "2001:db8:9:9::/64"},
      {"an IPv4-mapped peer is that IPv4 address", "::ffff:203.0.113.5", "", "203.0.113.5"},
      {"an IPv4-mapped trusted peer", "::ffff:127.0.0.1", "198.51.100.1", "198.51.100.1"},
      {"an IPv4-mapped client is that IPv4 address", "127.0.0.1", "::ffff:198.51.100.1", "198.51.100.1"},
      {"a peer that is no address is its own bucket", "unix-socket", "198.51.100.1", "unix-socket"},
  };
  const auto trusted = Ranges(proxies);
  for (const Case& c : cases) EXPECT_EQ(RateKeyOf(c.Peer, c.ForwardedFor, trusted), c.Key) << c.Why;
  // Nobody trusted: the header never counts.
  EXPECT_EQ(RateKeyOf("127.0.0.1", "198.51.100.1", {}), "127.0.0.1");
}

TEST(PortalRateLimiter, ForgetsTheLeastRecentlyUsedBucketOneAtATime) {
  TRateLimiter limiter(2, 0.001, 3);
  auto drain = [&](const std::string& key) {
    while (limiter.Take(key, kT0) == 0) {
    }
  };
  drain("a");
  drain("b");
  drain("c");
  EXPECT_GT(limiter.Take("a", kT0), 0) << "a is used again, so b is now the least recent";
  EXPECT_EQ(limiter.Take("d", kT0), 0) << "a new address gets its burst";
  EXPECT_EQ(limiter.Size(), 3u) << "one bucket made room, not all of them";
  EXPECT_GT(limiter.Take("a", kT0), 0) << "the recently used, drained bucket was kept";
  EXPECT_GT(limiter.Take("c", kT0), 0) << "c was not forgotten either";
  EXPECT_EQ(limiter.Take("b", kT0), 0) << "b was forgotten and starts afresh";
  EXPECT_EQ(limiter.Size(), 3u);
}

TEST(PortalRateLimiter, RefusalSaysWhenToComeBack) {
  TMemoryStore store;
  TPortalOptions options;
  options.RateBurst = 2;
  options.RatePerSec = 0.25;  // a token every 4 s
  TPortalService service(store, options);
  auto get = [&](int64_t ms) { return service.Handle({"GET", "/", "198.51.100.1"}, ms); };
  EXPECT_EQ(get(kT0).Status, 200);
  EXPECT_EQ(get(kT0).Status, 200);
  TPortalReply r = get(kT0);
  EXPECT_EQ(r.Status, 429);
  EXPECT_EQ(r.Body, "Too many requests\n");
  EXPECT_EQ(r.Reason, "rate limited");
  const std::vector<std::pair<std::string, std::string>> fourSeconds = {{"Retry-After", "4"}};
  EXPECT_EQ(r.Headers, fourSeconds);
  // 1.5 s on, 2.5 s remain: rounded up, never to 0.
  r = get(kT0 + 1500);
  ASSERT_EQ(r.Status, 429);
  const std::vector<std::pair<std::string, std::string>> threeSeconds = {{"Retry-After", "3"}};
  EXPECT_EQ(r.Headers, threeSeconds);
  EXPECT_EQ(get(kT0 + 4000).Status, 200) << "it was told the truth";
  EXPECT_EQ(get(kT0 + 4000).Reason, "rate limited");
}

TEST(PortalRateLimiter, ClientsBehindATrustedProxyKeepTheirOwnBuckets) {
  TMemoryStore store;
  TPortalOptions options;
  options.RateBurst = 1;
  options.RatePerSec = 0.001;
  options.TrustedProxies = Ranges("127.0.0.1");
  TPortalService service(store, options);
  auto get = [&](const std::string& peer, const std::string& xff) {
    return service.Handle({"GET", "/", peer, xff}, kT0).Status;
  };
  EXPECT_EQ(get("127.0.0.1", "198.51.100.1"), 200);
  EXPECT_EQ(get("127.0.0.1", "198.51.100.2"), 200) << "another client through the same proxy";
  EXPECT_EQ(get("127.0.0.1", "198.51.100.1"), 429);
  // The same /64 is one client; the next /64 another.
  EXPECT_EQ(get("127.0.0.1", "2001:db8:0:1::1"), 200);
  EXPECT_EQ(get("127.0.0.1", "2001:db8:0:1::2"), 429);
  EXPECT_EQ(get("127.0.0.1", "2001:db8:0:2::1"), 200);
  // Someone else cannot spread themselves over made-up addresses.
  EXPECT_EQ(get("203.0.113.9", "198.51.100.3"), 200);
  EXPECT_EQ(get("203.0.113.9", "198.51.100.4"), 429);
}

// Behind a proxy the log must name the client it spoke for, not the proxy.
TEST(PortalRateLimiter, TheReplyNamesTheClientATrustedProxySpokeFor) {
  TMemoryStore store;
  TPortalOptions options;
  options.TrustedProxies = Ranges("127.0.0.1");
  TPortalService service(store, options);
  const struct {
    const char *Peer, *ForwardedFor, *Client;
  } cases[] = {
      {"127.0.0.1", "198.51.100.7", "198.51.100.7"},
      {"127.0.0.1", "203.0.113.1, 198.51.100.7", "198.51.100.7"},
      {"127.0.0.1", "2001:db8:0:1::5", "2001:db8:0:1::/64"},
      {"127.0.0.1", "", ""},
      {"127.0.0.1", "not an address", ""},
      {"203.0.113.9", "198.51.100.7", ""},  // not a proxy of ours
  };
  for (const auto& c : cases)
    EXPECT_EQ(service.Handle({"GET", "/", c.Peer, c.ForwardedFor}, kT0).ForwardedClient, c.Client)
        << c.Peer << " for " << c.ForwardedFor;
}

// Many threads ask for tokens as the minutes pass; expired tokens are swept
// exactly once a minute, by one of them.
TEST(PortalTokens, OneSweepAMinuteWhateverTheThreads) {
  TMemoryStore store;
  TPortalOptions options;
  options.RateBurst = 1e6;
  TPortalService service(store, options);
  constexpr int kThreads = 4, kMinutes = 600, kEach = 2;
  std::barrier sync(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++)
    threads.emplace_back([&, t] {
      for (int m = 0; m < kMinutes; m++) {
        sync.arrive_and_wait();
        for (int i = 0; i < kEach; i++) {
          const int64_t ms = kT0 + m * 60000 + i * 10 + t;
          EXPECT_EQ(service.Handle({"GET", "/cgi/version.pl?version&prg=Quorvane", "10.0.0.1"}, ms).Status, 200);
        }
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(store.Purges, kMinutes);
}

// Names and mottos arrive in the game's code page, Windows-1252.
TEST(PortalGameText, Table) {
  struct Case {
    const char* Why;
    std::string Name, Motto;
    bool Accepted;
    std::string StoredName = {}, StoredMotto = {};
  };
  const Case cases[] = {
      {"plain", "Ann", "hi", true, "Ann", "hi"},
      {"euro, quotes, ellipsis", "\x80uro", "\x93hi\x94\x85", true, "\u20acuro", "\u201chi\u201d\u2026"},
      {"the letters of 0x80..0x9F", "\x8a\x9a\x8e\x9e\x8c\x9c\x9f\x83", "", true,
       "\u0160\u0161\u017d\u017e\u0152\u0153\u0178\u0192"},
      {"the signs of 0x80..0x9F", "\x86\x87\x89\x95\x96\x97", "\x99\x82\x84\x88\x8b\x9b\x98\x91\x92", true,
       "\u2020\u2021\u2030\u2022\u2013\u2014", "\u2122\u201a\u201e\u02c6\u2039\u203a\u02dc\u2018\u2019"},
      {"Latin-1 letters", "J\xf6rg", "\xe9t\xe9 \xa0!", true, "J\u00f6rg", "\u00e9t\u00e9 \u00a0!"},
      {"spaces around a name are a name", " a ", "   ", true, " a ", "   "},
      {"undefined byte 0x81", "a\x81", "", false},
      {"undefined byte 0x8D", "\x8d", "", false},
      {"undefined byte 0x8F", "b", "\x8f", false},
      {"undefined byte 0x90", "\x90x", "", false},
      {"undefined byte 0x9D", "c", "x\x9d", false},
      {"spaces only", "   ", "", false},
      {"no-break spaces only", "\xa0\xa0", "", false},
      {"a C0 control", "a\tb", "", false},
      {"DEL", "a\x7f", "", false},
      {"a control in the motto", "d", "\x1b[2J", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Why);
    TMemoryStore store;
    TPortalService service(store);
    const std::string token =
        ServerTokenOf(service.Handle({"GET", "/cgi/version.pl?version&prg=Quorvane", "a"}, kT0).Body);
    const TPortalReply r = service.Handle(
        {"GET", "/cgi/version.pl?hs&prg=Quorvane&inf=" + InfEncoding(BuildSubmissionText(c.Name, 7, token, c.Motto)),
         "a"},
        kT0);
    EXPECT_EQ(r.Body.rfind("OK|", 0) == 0, c.Accepted) << r.Body;
    if (c.Accepted) {
      ASSERT_EQ(store.Rows.size(), 1u);
      EXPECT_EQ(store.Rows[0].Name, c.StoredName);
      EXPECT_EQ(store.Rows[0].Motto, c.StoredMotto);
    } else {
      EXPECT_EQ(r.Status, 400);
      EXPECT_TRUE(store.Rows.empty());
    }
  }
}

}  // namespace
