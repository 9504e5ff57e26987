// Score submission and the portal links, against a scripted server on
// 127.0.0.1 standing in for the portal.
#include "app/portal.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "app/form.h"
#include "local_server.h"
#include "online/http.h"
#include "platform/headless_host.h"

namespace {

using After = LocalServer::After;

constexpr const char* kAlphabet = "ABCDEFGHJKLMNPQRSTUVWXY123456789";

// Back from letters to bytes, dropping the leading pad bits.
std::string InfDecode(const std::string& inf) {
  std::string bits;
  for (char c : inf) {
    const char* at = strchr(kAlphabet, c);
    if (!at || !c) return "<bad letter>";
    int v = static_cast<int>(at - kAlphabet);
    for (int b = 4; b >= 0; b--) bits += ((v >> b) & 1) ? '1' : '0';
  }
  bits.erase(0, bits.size() % 8);
  std::string out;
  for (size_t i = 0; i < bits.size(); i += 8) out += static_cast<char>(std::stoi(bits.substr(i, 8), nullptr, 2));
  return out;
}

TEST(InfEncodingTest, KnownTexts) {
  const std::pair<std::string, std::string> cases[] = {
      {"type=", "QT61A3K7"},
      {"abc", "GC2VD"},
      {"", ""},
      {std::string(5, '\0'), "AAAAAAAA"},
      {std::string(5, '\xff'), "99999999"},
      {"\x01", "AB"},  // 2 pad bits, then 00000001
  };
  for (const auto& [text, inf] : cases) EXPECT_EQ(InfEncoding(text), inf) << text;
}

TEST(InfEncodingTest, EveryByteRoundTripsWithoutLookalikeLetters) {
  std::string all;
  for (int i = 0; i < 256; i++) all += static_cast<char>(i);
  all += "1234";  // 260 bytes: a multiple of 5, as a submission always is
  const std::string inf = InfEncoding(all);
  EXPECT_EQ(inf.size(), all.size() * 8 / 5);
  EXPECT_EQ(inf.find_first_of("IOZ0"), std::string::npos);
  EXPECT_EQ(InfDecode(inf), all);
}

TEST(SubmissionTextTest, FieldsAndPadding) {
  struct Case {
    std::string Name;
    uint32_t Score;
    std::string Token, Add, Text;
  };
  const Case cases[] = {
      // 44 characters before padding: one '0'.
      {"Bob", 1234, "T", "", "type=0|name=Bob|score=1234|key=Q|p=T|add=|z=0"},
      // Already 45: nothing appended after "|z=".
      {"Bobb", 1234, "T", "", "type=0|name=Bobb|score=1234|key=Q|p=T|add=|z="},
      {"", 0, "", "", "type=0|name=|score=0|key=Q|p=|add=|z=000"},
      // Unsigned, no leading zeros; "|" inside values is sent as it is.
      {"a|b", 4294967295u, "tok", "x|y", "type=0|name=a|b|score=4294967295|key=Q|p=tok|add=x|y|z="},
      // At most twelve characters of the name.
      {"ABCDEFGHIJKLMNOP", 7, "", "", "type=0|name=ABCDEFGHIJKL|score=7|key=Q|p=|add=|z=0"},
  };
  for (const Case& c : cases) {
    const std::string text = BuildSubmissionText(c.Name, c.Score, c.Token, c.Add);
    EXPECT_EQ(text, c.Text);
    EXPECT_EQ(text.size() % 5, 0u) << text;
  }
}

TEST(ServerTokenTest, FifthField) {
  const std::pair<const char*, const char*> cases[] = {
      {"OK|a|b|c|T|x", "T"},
      {"OK|a|b|c|T|", "T"},
      {"OK||||T|", "T"},
      {"OK|a|b|c|T", ""},  // four "|": fewer than five fields taken
      {"OK", ""},
      {"OK|a|b|c||x", ""},
      {"OK|1|2|3|4|5|6|7", "4"},
  };
  for (const auto& [reply, token] : cases) EXPECT_EQ(ServerTokenOf(reply), token) << reply;
}

// A bare form on a headless host, its surface ready, the portal pointed at
// the test's own server.
class SubmitScoreTest : public testing::Test {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quorvane-online-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = std::string(tmpl) + "/";
    form_ = std::make_unique<TForm1>(host_, dir_);
    form_->DXDraw1.Initialize();
    form_->EnteredName = "Ann";
    form_->Score = MaskScore(4321);
    form_->Config.AddText.Assign("Hi");
  }
  void TearDown() override {
    ReleaseFormHttpClient(*form_);
    form_.reset();
    std::filesystem::remove_all(dir_);
  }
  // The decoded inf of a submission request, or "" when it is not one.
  static std::string SubmittedText(const std::string& raw) {
    const std::string prefix = "GET /cgi/version.pl?hs&prg=Quorvane&inf=";
    if (raw.compare(0, prefix.size(), prefix) != 0) return "";
    return InfDecode(raw.substr(prefix.size(), raw.find(' ', prefix.size()) - prefix.size()));
  }
  void ExpectFailure() {
    // The headless box takes its key's press and release: no release to ignore.
    EXPECT_FALSE(form_->SwallowKey);
    ASSERT_EQ(host_.MessageBoxes().size(), 1u);
    EXPECT_EQ(host_.MessageBoxes()[0], "Can't connect to server!");
  }

  HeadlessHost host_;
  std::string dir_;
  std::unique_ptr<TForm1> form_;
};

TEST_F(SubmitScoreTest, TokenThenEncodedSubmissionOverOneConnection) {
  LocalServer server({{Ok200("OK|1|2|3|TOKEN|rest"), After::Keep}, {Ok200("OK thanks"), After::Keep}});
  form_->PortalBase = server.Base();
  EXPECT_TRUE(SubmitScore(*form_));
  EXPECT_FALSE(form_->SwallowKey);
  EXPECT_TRUE(host_.MessageBoxes().empty());

  auto r = server.Requests();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].Raw.substr(0, r[0].Raw.find("\r\n")), "GET /cgi/version.pl?version&prg=Quorvane HTTP/1.1");
  const std::string plain = "type=0|name=Ann|score=4321|key=Q|p=TOKEN|add=Hi|z=";
  EXPECT_EQ(r[1].Raw.substr(0, r[1].Raw.find("\r\n")),
            "GET /cgi/version.pl?hs&prg=Quorvane&inf=" + InfEncoding(plain) + " HTTP/1.1");
  EXPECT_EQ(SubmittedText(r[1].Raw), plain);
  EXPECT_EQ(server.Connections(), 1);
}

TEST_F(SubmitScoreTest, PleaseWaitIsShownBeforeTheRequests) {
  // No server at all: the text must be on screen all the same.
  LocalServer gone({});
  form_->PortalBase = gone.Base();
  const uint64_t before = host_.PresentCount();
  SubmitScore(*form_);
  ASSERT_EQ(host_.PresentCount(), before + 1);
  int redInside = 0, litOutside = 0;
  for (int y = 0; y < host_.FrameHeight(); y++)
    for (int x = 0; x < host_.FrameWidth(); x++) {
      uint32_t p = host_.LastFrame()[static_cast<size_t>(y) * host_.FrameWidth() + x];
      bool inside = x >= 290 && x < 500 && y >= 130 && y < 180;
      if (inside && p == 0xFF0000) redInside++;
      if (!inside && p != 0) litOutside++;
    }
  EXPECT_GT(redInside, 20);
  EXPECT_EQ(litOutside, 0);
}

TEST_F(SubmitScoreTest, TokenReplyWithoutBarsSendsAnEmptyToken) {
  LocalServer server({{Ok200("OK"), After::Keep}, {Ok200("OK"), After::Keep}});
  form_->PortalBase = server.Base();
  EXPECT_TRUE(SubmitScore(*form_));
  auto r = server.Requests();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_NE(SubmittedText(r[1].Raw).find("|p=|add=Hi|"), std::string::npos) << SubmittedText(r[1].Raw);
}

struct FailCase {
  const char* Name;
  std::vector<LocalServer::Step> Steps;
  size_t Requests;  // how many reach the server
};

class SubmitScoreFailTest : public SubmitScoreTest, public testing::WithParamInterface<FailCase> {};

TEST_P(SubmitScoreFailTest, ShowsTheMessageAndSwallowsTheKey) {
  LocalServer server(GetParam().Steps);
  form_->PortalBase = server.Base();
  FormHttpClient(*form_).ReadTimeoutMs = 300;
  EXPECT_FALSE(SubmitScore(*form_));
  ExpectFailure();
  EXPECT_EQ(server.Requests().size(), GetParam().Requests);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, SubmitScoreFailTest,
    testing::Values(
        FailCase{"LowerCaseOk", {{Ok200("ok|1|2|3|T|"), After::Keep}}, 1},
        FailCase{"TokenNotFound", {{"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n", After::Keep}}, 1},
        FailCase{"TokenRedirect",
                 {{"HTTP/1.1 302 Found\r\nLocation: /cgi/version.pl\r\nContent-Length: 0\r\n\r\n", After::Keep},
                  {Ok200("OK|1|2|3|T|"), After::Keep}},
                 1},
        FailCase{"EmptyTokenReply", {{Ok200(""), After::Keep}}, 1},
        FailCase{"SingleLetter", {{Ok200("O"), After::Keep}}, 1}, FailCase{"NoAnswer", {{"", After::Silent}}, 1},
        FailCase{"SubmissionRefused", {{Ok200("OK|1|2|3|T|"), After::Keep}, {Ok200("NO"), After::Keep}}, 2},
        FailCase{"SubmissionServerError",
                 {{Ok200("OK|1|2|3|T|"), After::Keep},
                  {"HTTP/1.1 500 Internal Server Error\r\nContent-Length: 2\r\n\r\nOK", After::Keep}},
                 2},
        // The kept connection dropped: the submission goes once more on a new
        // one, which is dropped too.
        FailCase{"SubmissionConnectionDropped", {{Ok200("OK|1|2|3|T|"), After::Keep}, {"", After::Close}}, 3}),
    [](const testing::TestParamInfo<FailCase>& i) { return std::string(i.param.Name); });

TEST_F(SubmitScoreTest, RetryAfterFailureAsksForANewToken) {
  LocalServer server({{Ok200("OK|1|2|3|FIRST|"), After::Keep},
                      {Ok200("busy"), After::Keep},
                      {Ok200("OK|1|2|3|SECOND|"), After::Keep},
                      {Ok200("OK"), After::Keep}});
  form_->PortalBase = server.Base();
  // Closed with Enter, whose release is still to come: that release is swallowed.
  host_.CloseMessageBoxesOnPressOf(VK_RETURN);
  EXPECT_FALSE(SubmitScore(*form_));
  EXPECT_TRUE(form_->SwallowKey);
  EXPECT_TRUE(SubmitScore(*form_));
  auto r = server.Requests();
  ASSERT_EQ(r.size(), 4u);
  EXPECT_NE(SubmittedText(r[1].Raw).find("|p=FIRST|"), std::string::npos);
  EXPECT_NE(SubmittedText(r[3].Raw).find("|p=SECOND|"), std::string::npos);
}

TEST_F(SubmitScoreTest, CookiesCarryOverBetweenSubmissions) {
  LocalServer server({{Ok200("OK|1|2|3|T|", "Set-Cookie: visitor=42; Path=/\r\n"), After::Keep},
                      {Ok200("OK", "Connection: close\r\n"), After::Close},
                      {Ok200("OK|1|2|3|T|"), After::Keep},
                      {Ok200("OK"), After::Keep}});
  form_->PortalBase = server.Base();
  EXPECT_TRUE(SubmitScore(*form_));
  EXPECT_TRUE(SubmitScore(*form_));
  auto r = server.Requests();
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0].Raw.find("Cookie:"), std::string::npos);
  for (size_t i = 1; i < 4; i++) EXPECT_NE(r[i].Raw.find("\r\nCookie: visitor=42\r\n"), std::string::npos) << i;
  // The cookie outlives the connection it came on.
  EXPECT_EQ(server.Connections(), 2);
}

// --portal, then QUORVANE_PORTAL, then quorvane.ini; a bad choice keeps the
// reserved default.
TEST_F(SubmitScoreTest, PortalSettingSources) {
  struct Case {
    const char* CommandLine;
    const char* Environment;
    const char* Ini;
    const char* Base;
  } cases[] = {
      {nullptr, nullptr, nullptr, kDefaultPortalBase},
      {nullptr, nullptr, "http://ini.example:81/", "http://ini.example:81"},
      {nullptr, "http://env.example:82", "http://ini.example:81", "http://env.example:82"},
      {"http://127.0.0.1:83", "http://env.example:82", "http://ini.example:81", "http://127.0.0.1:83"},
      {"https://127.0.0.1:83", "http://env.example:82", nullptr, kDefaultPortalBase},
      {nullptr, nullptr, "portal.example", kDefaultPortalBase},
  };
  const char* saved = std::getenv("QUORVANE_PORTAL");
  const std::string savedValue = saved ? saved : "";
  for (const Case& c : cases) {
    form_->SettingOverrides.clear();
    if (c.CommandLine) form_->SettingOverrides["portal"] = c.CommandLine;
    if (c.Environment) {
      setenv("QUORVANE_PORTAL", c.Environment, 1);
    } else {
      unsetenv("QUORVANE_PORTAL");
    }
    form_->Settings = SettingsIni::Parse(c.Ini ? std::string("# mine\nportal=") + c.Ini + "\n" : "");
    ApplyPortalSetting(*form_);
    EXPECT_EQ(form_->PortalBase, c.Base);
  }
  if (saved) {
    setenv("QUORVANE_PORTAL", savedValue.c_str(), 1);
  } else {
    unsetenv("QUORVANE_PORTAL");
  }
}

TEST_F(SubmitScoreTest, APageNothingCanOpenIsSaidWithItsAddress) {
  host_.FailOpenUrl("Nothing here can open web pages: xdg-open is not installed.");
  const std::string world = std::string(kDefaultPortalBase) + "/cgi/version.pl?prg=Quorvane&show&type=0";
  OpenWorldHighScores(*form_);
  ASSERT_EQ(host_.MessageBoxes().size(), 1u);
  EXPECT_NE(host_.MessageBoxes()[0].find(world), std::string::npos) << host_.MessageBoxes()[0];
  EXPECT_NE(host_.MessageBoxes()[0].find("xdg-open is not installed"), std::string::npos) << host_.MessageBoxes()[0];
  EXPECT_FALSE(form_->SwallowKey) << "a box that took its key leaves no release to ignore";
  // Closed with Enter, whose release is still to come: it is not a new click.
  host_.CloseMessageBoxesOnPressOf(VK_RETURN);
  OpenPortalHomePage(*form_);
  ASSERT_EQ(host_.MessageBoxes().size(), 2u);
  EXPECT_NE(host_.MessageBoxes()[1].find(kDefaultPortalBase), std::string::npos) << host_.MessageBoxes()[1];
  EXPECT_TRUE(form_->SwallowKey);
  // A page that opens says nothing.
  host_.FailOpenUrl("");
  form_->SwallowKey = false;
  OpenPortalHomePage(*form_);
  EXPECT_EQ(host_.MessageBoxes().size(), 2u);
  EXPECT_FALSE(form_->SwallowKey);
}

TEST_F(SubmitScoreTest, BrowserLinks) {
  OpenWorldHighScores(*form_);
  OpenPortalHomePage(*form_);
  ASSERT_EQ(host_.Urls().size(), 2u);
  EXPECT_EQ(host_.Urls()[0], std::string(kDefaultPortalBase) + "/cgi/version.pl?prg=Quorvane&show&type=0");
  EXPECT_EQ(host_.Urls()[1], kDefaultPortalBase);
  EXPECT_EQ(form_->PortalBase, kDefaultPortalBase);
  // Nothing is fetched by the game itself.
  EXPECT_TRUE(host_.MessageBoxes().empty());
  // The portal the player chose.
  form_->PortalBase = "http://127.0.0.1:8080";
  OpenWorldHighScores(*form_);
  OpenPortalHomePage(*form_);
  ASSERT_EQ(host_.Urls().size(), 4u);
  EXPECT_EQ(host_.Urls()[2], "http://127.0.0.1:8080/cgi/version.pl?prg=Quorvane&show&type=0");
  EXPECT_EQ(host_.Urls()[3], "http://127.0.0.1:8080");
}

}  // namespace
