// Opening a page through xdg-open, with stand-ins for it on PATH: missing,
// failing as xdg-open does, taking the address, and staying in the
// foreground as a browser started by it may.
#include "platform/open_url.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

class OpenUrlTest : public ::testing::Test {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quorvane-openurl-XXXXXX";
    dir_ = mkdtemp(tmpl);
    if (const char* p = std::getenv("PATH")) savedPath_ = p;
    ::setenv("PATH", dir_.c_str(), 1);
  }
  void TearDown() override {
    ::setenv("PATH", savedPath_.c_str(), 1);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  // An xdg-open that runs BODY (sh).
  void FakeXdgOpen(const std::string& body) {
    const std::string path = dir_ + "/xdg-open";
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ::chmod(path.c_str(), 0755);
  }
  std::string Read(const std::string& name) {
    std::ifstream in(dir_ + "/" + name);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::string dir_, savedPath_;
};

}  // namespace

TEST_F(OpenUrlTest, NoXdgOpenOnThePathIsSaid) {
  const std::string why = OpenInBrowser("http://127.0.0.1:9/", 2000);
  EXPECT_NE(why.find("xdg-open is not installed"), std::string::npos) << why;
}

TEST_F(OpenUrlTest, XdgOpenFailuresAreSaid) {
  const struct {
    int status;
    const char* said;
  } cases[] = {
      {3, "No web browser was found"},
      {4, "could not be started"},
      {1, "exit status 1"},
  };
  for (const auto& c : cases) {
    FakeXdgOpen("exit " + std::to_string(c.status));
    const std::string why = OpenInBrowser("http://127.0.0.1:9/", 5000);
    EXPECT_NE(why.find(c.said), std::string::npos) << c.status << ": " << why;
  }
}

TEST_F(OpenUrlTest, TheAddressReachesXdgOpenAsOneArgument) {
  // PATH holds only the stand-in: the shell's builtins do the work.
  FakeXdgOpen("printf '%s|%s' \"$#\" \"$1\" > '" + dir_ + "/got'");
  const std::string url = "http://127.0.0.1:8080/cgi/version.pl?prg=Quorvane&show&type=0";
  EXPECT_EQ(OpenInBrowser(url, 5000), "");
  EXPECT_EQ(Read("got"), "1|" + url);
}

TEST_F(OpenUrlTest, ABrowserInTheForegroundCountsAsOpenedWithoutWaitingForIt) {
  FakeXdgOpen("exec /bin/sleep 3");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(OpenInBrowser("http://127.0.0.1:9/", 200), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
}
