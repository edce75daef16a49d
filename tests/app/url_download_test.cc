#include "app/url_download.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "support/scoped_xdg_folders.h"
#include "support/stub_http_server.h"

namespace {

class UrlDownloadTest : public testing::Test {
 protected:
  UrlDownloadTest() { std::ofstream(m_target, std::ios::binary) << "before"; }

  CScopedXdgFolders m_xdg;
  CScopedEnvironmentVariable m_noProxy{"no_proxy", "*"};
  CScopedEnvironmentVariable m_noProxyUpper{"NO_PROXY", "*"};
  CStubHttpServer m_server;
  std::string m_target = m_xdg.GetBase() + "/target";
  DownloadLimits m_limits;
};

TEST_F(UrlDownloadTest, OnlyASuccessfulAnswerReplacesTheFile) {
  m_server.SetAnswer("/ok", {200, "body\r\nbytes"});
  EXPECT_TRUE(DownloadUrlToFile(m_server.GetUrl("/ok"), m_target, m_limits));
  EXPECT_EQ(ReadWholeFile(m_target), "body\r\nbytes");

  m_server.SetAnswer("/missing", {404, "error page"});
  EXPECT_FALSE(DownloadUrlToFile(m_server.GetUrl("/missing"), m_target, m_limits));
  m_server.SetAnswer("/broken", {503, "error page"});
  EXPECT_FALSE(DownloadUrlToFile(m_server.GetUrl("/broken"), m_target, m_limits));
  EXPECT_EQ(ReadWholeFile(m_target), "body\r\nbytes");

  // A new file is created.
  std::string fresh = m_xdg.GetBase() + "/fresh";
  EXPECT_TRUE(DownloadUrlToFile(m_server.GetUrl("/ok"), fresh, m_limits));
  EXPECT_EQ(ReadWholeFile(fresh), "body\r\nbytes");
}

TEST_F(UrlDownloadTest, LimitsAndSchemesAreEnforced) {
  m_server.SetAnswer("/big", {200, std::string(2000, 'x')});
  m_limits.maxBytes = 1000;
  EXPECT_FALSE(DownloadUrlToFile(m_server.GetUrl("/big"), m_target, m_limits));
  EXPECT_EQ(ReadWholeFile(m_target), "before");

  // Only http and https: a file address is no download.
  EXPECT_FALSE(DownloadUrlToFile("file://" + m_target, m_xdg.GetBase() + "/copy", m_limits));
  // No file of that name is left behind either.
  EXPECT_EQ(ReadWholeFile(m_xdg.GetBase() + "/copy"), "");

  // A folder that does not exist.
  EXPECT_FALSE(
      DownloadUrlToFile(m_server.GetUrl("/big"), m_xdg.GetBase() + "/none/file", m_limits));
}

TEST_F(UrlDownloadTest, SilentServerTimesOut) {
  // Accepts connections (in the kernel's queue) but never answers.
  int silent = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(silent, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(getsockname(silent, reinterpret_cast<sockaddr*>(&address), &size), 0);
  ASSERT_EQ(listen(silent, 4), 0);
  m_limits.totalSeconds = 1;
  std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
  EXPECT_FALSE(DownloadUrlToFile(url, m_target, m_limits));
  EXPECT_EQ(ReadWholeFile(m_target), "before");
  close(silent);
}

}  // namespace
