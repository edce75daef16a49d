// Tests of the control panel's HTTP surface over real connections to the running
// proxy: routing, status codes, the JSON it answers, and that its checks are applied.
#include "app/panel/panel_server.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "app/options_controller.h"
#include "app/panel/dialog_queue.h"
#include "config/config_store.h"
#include "config/page_recorder.h"
#include "core/user_messages.h"
#include "proxy/socket.h"
#include "support/loopback_sockets.h"
#include "support/scoped_xdg_folders.h"

namespace {

constexpr char kToken[] = "00112233445566778899aabbccddeeff";

// Sends `request` to the panel and reads until it closes.
std::string Exchange(int port, const std::string& request) {
  CSocket socket = ConnectLoopback(port);
  if (!socket.IsOpen()) return "connect failed";
  SendAll(socket.Get(), request.data(), request.size());
  std::string answer;
  char buffer[4096];
  for (ssize_t n; (n = ReceiveSome(socket.Get(), buffer, sizeof buffer)) > 0;)
    answer.append(buffer, static_cast<std::size_t>(n));
  return answer;
}

int StatusOf(const std::string& answer) {
  return answer.starts_with("HTTP/1.1 ") ? std::atoi(answer.c_str() + 9) : 0;
}

std::string BodyOf(const std::string& answer) {
  const std::size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

nlohmann::json JsonOf(const std::string& answer) {
  return nlohmann::json::parse(BodyOf(answer), nullptr, false);
}

class PanelServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(GetConfigFolder() + "/lumbra.xml", std::ios::binary)
        << "<lumbra><enabled>yes</enabled><proxyport>" << m_port
        << "</proxyport><filterrules><filterrule name=\"ads\"><enabled>yes</enabled>"
           "<request contains=\"ads.example\"/></filterrule></filterrules></lumbra>\r\n";
    CXmlNode document;
    ASSERT_TRUE(LoadConfig(document));
    m_controller.TakeConfig(document);
    InstallPanelServer(&m_panel);
    m_previousListener = SetMessageListener({});
    m_previousQuestions = SetQuestionListener({});
    ConnectDialogsToPanel(m_dialogs);
    ASSERT_TRUE(m_controller.Initialize());
    m_fileBefore = ReadWholeFile(GetConfigPath());
  }
  void TearDown() override {
    m_controller.Exit();
    InstallPanelServer(nullptr);
    SetMessageListener(std::move(m_previousListener));
    SetQuestionListener(std::move(m_previousQuestions));
  }

  std::string Host() const { return "Host: 127.0.0.1:" + std::to_string(m_port) + "\r\n"; }
  std::string Post(const std::string& path, const std::string& body,
                   const std::string& token = kToken) {
    return Exchange(m_port, "POST " + path + " HTTP/1.1\r\n" + Host() + "X-Lumbra-Token: " + token +
                                "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                                body);
  }
  std::string Get(const std::string& path) {
    return Exchange(m_port, "GET " + path + " HTTP/1.1\r\n" + Host() + "\r\n");
  }
  nlohmann::json State() { return JsonOf(Get("/api/state")); }

  CScopedXdgFolders m_folders;
  int m_port = FreePort();
  CPageRecorder m_recorder;
  COptionsController m_controller{{}, m_recorder};
  CDialogQueue m_dialogs;
  CPanelServer m_panel{m_controller, m_dialogs, kToken};
  MessageListener m_previousListener;
  QuestionListener m_previousQuestions;
  std::string m_fileBefore;
};

TEST_F(PanelServerTest, ServesThePageWithItsTokenFilesAndTheSecurityHeaders) {
  const std::string page = Get("/");
  EXPECT_EQ(StatusOf(page), 200) << page;
  EXPECT_NE(page.find("<meta name=\"lumbra-token\" content=\"" + std::string(kToken) + "\">"),
            std::string::npos);
  for (const char* header :
       {"Content-Type: text/html; charset=utf-8\r\n", "Cache-Control: no-store\r\n",
        "X-Content-Type-Options: nosniff\r\n", "X-Frame-Options: DENY\r\n", "Connection: close\r\n",
        "frame-ancestors 'none'"})
    EXPECT_NE(page.find(header), std::string::npos) << header;
  const std::string script = Get("/panel/panel.js");
  EXPECT_EQ(StatusOf(script), 200);
  EXPECT_NE(script.find("Content-Type: text/javascript"), std::string::npos);
  for (const char* path :
       {"/panel/index.html", "/panel/../CMakeLists.txt", "/panel/missing.js", "/nothing"})
    EXPECT_EQ(StatusOf(Get(path)), 404) << path;
}

TEST_F(PanelServerTest, CommandsByNameAndMistakesRefused) {
  EXPECT_EQ(State()["menu"][0], (nlohmann::json{{"command", "show-options"}, {"text", "&Options"}}));
  EXPECT_EQ(BodyOf(Post("/api/command", R"({"command": "toggle-filtering"})")), R"({"ok":true})");
  EXPECT_EQ(BodyOf(Post("/api/rule/toggle", R"({"index": 0})")), R"({"ok":true})");
  const nlohmann::json state = State();
  EXPECT_EQ(state["tray"]["icon"], "off");
  EXPECT_EQ(state["rules"][0]["checked"], false);
  // Unknown or mistyped names and indices, a command that needs the page, deep nesting.
  for (const auto& [path, body] : std::initializer_list<std::pair<const char*, std::string>>{
           {"/api/command", R"({"command": "toggle"})"},
           {"/api/command", R"({"command": 2})"},
           {"/api/command", R"({"id": 131})"},
           {"/api/command", R"({"command": "save-record"})"},
           {"/api/command", std::string(100, '[') + std::string(100, ']')},
           {"/api/rule/toggle", R"({"index": 1})"},
           {"/api/rule/toggle", R"({"index": "0"})"},
           {"/api/dialog", R"({"id": 1})"}})
    EXPECT_EQ(StatusOf(Post(path, body)), 400) << path << " " << body;
  EXPECT_EQ(State()["rules"][0]["checked"], false);
}

TEST_F(PanelServerTest, RefusedRequestsGetTheirStatusAndChangeNothing) {
  const std::string command = R"({"command": "toggle-filtering"})";
  EXPECT_EQ(StatusOf(Post("/api/command", command, "00112233445566778899aabbccddeefe")), 403);
  EXPECT_EQ(StatusOf(Exchange(m_port, "GET /api/state HTTP/1.1\r\nHost: 127.1:" +
                                          std::to_string(m_port) + "\r\n\r\n")),
            403);
  EXPECT_EQ(StatusOf(Exchange(m_port, "GET /api/command HTTP/1.1\r\n" + Host() + "\r\n")), 405);
  EXPECT_EQ(StatusOf(Post("/api/command", std::string(70000, ' '))), 413);
  EXPECT_EQ(StatusOf(Exchange(m_port, "GET / HTTP/1.1\r\n" + Host() + " folded\r\n\r\n")), 400);
  EXPECT_EQ(State()["enabled"], true);
  EXPECT_EQ(ReadWholeFile(GetConfigPath()), m_fileBefore);
}

TEST_F(PanelServerTest, RequestTextIsNeverReflected) {
  const std::vector<std::string> answers = {
      Get("/<script>alert(1)</script>"),
      Post("/api/<script>alert(1)</script>", "{}"),
      Post("/api/command", R"({"command": "<script>alert(1)</script>"})"),
      Post("/api/dialog", R"({"id": 1, "answer": "<script>alert(1)</script>"})"),
  };
  for (const std::string& answer : answers) {
    EXPECT_NE(StatusOf(answer), 0);
    EXPECT_EQ(answer.find("alert"), std::string::npos) << answer;
  }
  // Traffic text (the URL history) comes out as JSON escapes.
  m_recorder.GetUrlHistory().Add("http://a.example/<script>alert(1)</script>");
  const std::string opened = Post("/api/instant-filter/open", "{}");
  EXPECT_EQ(opened.find("<script>"), std::string::npos) << opened;
  EXPECT_EQ(JsonOf(opened)["urls"][0], "http://a.example/<script>alert(1)</script>");
}

}  // namespace
