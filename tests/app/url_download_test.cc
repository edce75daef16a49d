#include "app/url_download.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "proxy/socket.h"
#include "support/loopback_sockets.h"
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
  int port = 0;
  CSocket silent = BindLoopback(port, true);
  m_limits.totalSeconds = 1;
  EXPECT_FALSE(DownloadUrlToFile("http://127.0.0.1:" + std::to_string(port) + "/", m_target,
                                 m_limits));
  EXPECT_EQ(ReadWholeFile(m_target), "before");
}

}  // namespace
