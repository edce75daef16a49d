// Tests of the control panel over real connections to the running proxy.
#include "app/panel/panel_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "app/options_controller.h"
#include "app/panel/dialog_queue.h"
#include "config/config_store.h"
#include "config/page_recorder.h"
#include "core/user_messages.h"
#include "platform/network_interfaces.h"
#include "proxy/socket.h"
#include "support/loopback_sockets.h"
#include "support/scoped_xdg_folders.h"

namespace {

constexpr char kToken[] = "00112233445566778899aabbccddeeff";

// Sends `request` from `from` to `to`:`port` and reads until the panel closes.
std::string Exchange(int port, const std::string& request, in_addr from = {htonl(INADDR_LOOPBACK)},
                     in_addr to = {htonl(INADDR_LOOPBACK)}) {
  CSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in source{};
  source.sin_family = AF_INET;
  source.sin_addr = from;
  ::bind(socket.Get(), reinterpret_cast<sockaddr*>(&source), sizeof source);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr = to;
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    return "connect failed";
  timeval timeout{5, 0};
  ::setsockopt(socket.Get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  SendAll(socket.Get(), request.data(), request.size());
  std::string answer;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ReceiveSome(socket.Get(), buffer, sizeof buffer);
    if (n <= 0) break;
    answer.append(buffer, static_cast<std::size_t>(n));
  }
  return answer;
}

int StatusOf(const std::string& answer) {
  if (!answer.starts_with("HTTP/1.1 ")) return 0;
  return std::atoi(answer.c_str() + 9);
}

std::string BodyOf(const std::string& answer) {
  const std::size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

class PanelServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(GetConfigFolder() + "/lumbra.xml", std::ios::binary)
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<lumbra><enabled>yes</enabled>"
           "<proxyport>"
        << m_port
        << "</proxyport><corporateproxy url=\"p.invalid\" port=\"8080\"><enabled>no</enabled>"
           "</corporateproxy><filterrules><filterrule name=\"ads\"><enabled>yes</enabled>"
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

  std::string Post(const std::string& path, const std::string& body,
                   const std::string& extraHeaders = "") {
    return Exchange(
        m_port, "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(m_port) +
                    "\r\nX-Lumbra-Token: " + kToken + "\r\nContent-Type: application/json\r\n" +
                    extraHeaders + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                    body);
  }
  std::string Get(const std::string& path, const std::string& host = "") {
    return Exchange(m_port, "GET " + path + " HTTP/1.1\r\nHost: " +
                                (host.empty() ? "127.0.0.1:" + std::to_string(m_port) : host) +
                                "\r\n\r\n");
  }
  nlohmann::json State() { return nlohmann::json::parse(BodyOf(Get("/api/state"))); }

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

TEST_F(PanelServerTest, ServesThePageWithItsTokenAndTheSecurityHeaders) {
  for (const std::string& answer :
       {Get("/"), Exchange(m_port, "GET http://127.0.0.1:" + std::to_string(m_port) +
                                       "/ HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(m_port) +
                                       "\r\n\r\n")}) {
    EXPECT_EQ(StatusOf(answer), 200) << answer;
    EXPECT_NE(answer.find("<meta name=\"lumbra-token\" content=\"" + std::string(kToken) + "\">"),
              std::string::npos);
    EXPECT_EQ(answer.find("{{TOKEN}}"), std::string::npos);
    EXPECT_EQ(answer.find("{{VERSION}}"), std::string::npos);
    for (const char* header :
         {"Content-Type: text/html; charset=utf-8\r\n", "Cache-Control: no-store\r\n",
          "X-Content-Type-Options: nosniff\r\n", "X-Frame-Options: DENY\r\n",
          "Connection: close\r\n", "frame-ancestors 'none'"})
      EXPECT_NE(answer.find(header), std::string::npos) << header;
  }
  EXPECT_EQ(StatusOf(Get("/panel/index.html")), 404);
  EXPECT_EQ(StatusOf(Get("/panel/../CMakeLists.txt")), 404);
  EXPECT_EQ(StatusOf(Get("/panel/missing.js")), 404);
}

TEST_F(PanelServerTest, StateReportsTheControllerAndCommandsChangeIt) {
  nlohmann::json state = State();
  EXPECT_EQ(state["version"], LUMBRA_VERSION_TEXT);
  EXPECT_EQ(state["options"]["port"], std::to_string(m_port));
  EXPECT_EQ(state["enabled"], true);
  EXPECT_EQ(state["tray"]["icon"], "on");
  EXPECT_EQ(state["rules"][0]["index"], 0);
  EXPECT_EQ(state["rules"][0]["name"], "ads");
  EXPECT_EQ(state["menu"][0]["text"], "&Options");
  EXPECT_EQ(state["menu"][1]["separator"], true);
  EXPECT_EQ(state["menu"][2]["image"], "icon-recorder-start.png");
  EXPECT_TRUE(state["instantFiltering"].is_null());

  EXPECT_EQ(BodyOf(Post("/api/command", R"({"command": "toggle-filtering"})")), R"({"ok":true})");
  state = State();
  EXPECT_EQ(state["enabled"], false);
  EXPECT_EQ(state["tray"]["icon"], "off");
  EXPECT_EQ(StatusOf(Post("/api/command", R"({"command": "toggle"})")), 400);
  EXPECT_EQ(StatusOf(Post("/api/command", R"({"command": 131})")), 400);
  EXPECT_EQ(StatusOf(Post("/api/command", std::string(100, '[') + std::string(100, ']'))), 400);
  EXPECT_EQ(State()["enabled"], false);
}

TEST_F(PanelServerTest, RefusedRequestsChangeNothing) {
  const std::string command = R"({"command": "toggle-filtering"})";
  const std::string port = std::to_string(m_port);
  auto raw = [&](const std::string& head) {
    return Exchange(
        m_port, head + "Content-Length: " + std::to_string(command.size()) + "\r\n\r\n" + command);
  };
  const std::vector<std::string> refused = {
      Post("/api/command", command, "Origin: http://evil.example\r\n"),
      Post("/api/command", command, "Sec-Fetch-Site: cross-site\r\n"),
      raw("POST /api/command HTTP/1.1\r\nHost: 127.0.0.1:" + port + "\r\n"),
      raw("POST /api/command HTTP/1.1\r\nHost: 127.0.0.1:" + port +
          "\r\nX-Lumbra-Token: 00112233445566778899aabbccddeefe\r\n"),
      // A name that resolves to this machine but is not the panel's (DNS rebinding).
      raw("POST /api/command HTTP/1.1\r\nHost: 127.1:" + port + "\r\nX-Lumbra-Token: " + kToken +
          "\r\n"),
      raw("GET /api/command HTTP/1.1\r\nHost: 127.0.0.1:" + port + "\r\nX-Lumbra-Token: " + kToken +
          "\r\n"),
  };
  const std::vector<int> statuses = {403, 403, 403, 403, 403, 405};
  for (std::size_t i = 0; i < refused.size(); ++i) {
    EXPECT_EQ(StatusOf(refused[i]), statuses[i]) << refused[i];
    EXPECT_EQ(refused[i].find("Access-Control-"), std::string::npos);
  }
  EXPECT_EQ(StatusOf(Get("/", "127.1:" + port)), 403);
  EXPECT_EQ(StatusOf(Get("/api/state", "127.1:" + port)), 403);
  // A name that resolves nowhere is a request for another server, never the panel's:
  // the proxy answers that it could not reach it.
  EXPECT_EQ(StatusOf(Get("/", "evil.invalid:" + port)), 502);
  EXPECT_EQ(StatusOf(Post("/api/command", std::string(70000, ' '))), 413);
  EXPECT_EQ(State()["enabled"], true);
  EXPECT_EQ(ReadWholeFile(GetConfigPath()), m_fileBefore);
}

TEST_F(PanelServerTest, APeerOffLoopbackGetsNoAnswer) {
  in_addr own{};
  for (in_addr address : GetOwnIpv4Addresses())
    if ((ntohl(address.s_addr) >> 24) != 127) own = address;
  if (own.s_addr == 0) GTEST_SKIP() << "no address besides loopback";
  const std::string body = R"({"command": "toggle-filtering"})";
  const std::string answer =
      Exchange(m_port,
               "POST /api/command HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(m_port) +
                   "\r\nX-Lumbra-Token: " + kToken +
                   "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body,
               own, own);
  EXPECT_EQ(answer, "");
  EXPECT_EQ(State()["enabled"], true);
}

TEST_F(PanelServerTest, RequestTextIsNeverReflected) {
  const std::vector<std::string> answers = {
      Get("/<script>alert(1)</script>"),
      Get("/api/state", "127.1:" + std::to_string(m_port) + "<script>alert(1)</script>"),
      Post("/api/<script>alert(1)</script>", "{}"),
      Post("/api/command", R"({"command": "<script>alert(1)</script>"})"),
      Post("/api/dialog", R"({"id": 1, "answer": "<script>alert(1)</script>"})"),
      Exchange(m_port, "GET /<script>alert(1)</script> HTTP/1.1\r\nHost: 127.0.0.1:" +
                           std::to_string(m_port) + "\r\nX: <script>\r\n\r\n"),
  };
  EXPECT_EQ(StatusOf(answers[0]), 404);
  EXPECT_EQ(StatusOf(answers[2]), 404);
  EXPECT_EQ(StatusOf(answers[3]), 400);
  EXPECT_EQ(StatusOf(answers[5]), 404);
  for (const std::string& answer : answers) {
    EXPECT_EQ(answer.find("<script>"), std::string::npos) << answer;
    EXPECT_EQ(answer.find("alert"), std::string::npos) << answer;
  }
  // Traffic text in the state (the URL history) comes out as JSON escapes.
  m_recorder.GetUrlHistory().Add("http://a.example/<script>alert(1)</script>");
  const std::string opened = Post("/api/instant-filter/open", "{}");
  EXPECT_EQ(opened.find("<script>"), std::string::npos) << opened;
  EXPECT_EQ(nlohmann::json::parse(BodyOf(opened))["urls"][0],
            "http://a.example/<script>alert(1)</script>");
}

TEST_F(PanelServerTest, HideMovesThePortOrExplainsWhyNot) {
  nlohmann::json answer = nlohmann::json::parse(
      BodyOf(Post("/api/hide", R"({"port": "70000", "corporateEnabled": false, "corporateUrl": "",
                       "corporatePort": ""})")));
  EXPECT_EQ(answer["ok"], false);
  EXPECT_EQ(answer["message"], "The proxy port must be a number from 1 to 65535.");

  const int next = FreePort();
  const std::string moved = Post("/api/hide", R"({"port": ")" + std::to_string(next) +
                                                  R"(", "corporateEnabled": true, "corporateUrl":
                                                  "up.example", "corporatePort": "3128"})");
  EXPECT_EQ(StatusOf(moved), 200);
  EXPECT_EQ(nlohmann::json::parse(BodyOf(moved))["port"], next);
  m_port = next;
  const nlohmann::json state = State();
  EXPECT_EQ(state["options"]["port"], std::to_string(next));
  EXPECT_EQ(state["options"]["corporateEnabled"], true);
  EXPECT_EQ(state["options"]["corporateUrl"], "up.example");
}

TEST_F(PanelServerTest, RecordIsHandedOverAsADownload) {
  std::string answer = Post("/api/record/save", "{}");
  EXPECT_EQ(StatusOf(answer), 409);
  EXPECT_EQ(nlohmann::json::parse(BodyOf(answer))["message"], "Nothing to write on disk.");

  Post("/api/command", R"({"command": "start-or-pause-recorder"})");
  m_recorder.RecordPage("http://r.example/", {}, {}, {}, {});
  answer = Post("/api/record/save", "{}");
  EXPECT_EQ(StatusOf(answer), 200);
  EXPECT_NE(answer.find("Content-Type: application/xml\r\n"), std::string::npos);
  EXPECT_NE(answer.find("Content-Disposition: attachment; filename=\"record1.xml\"\r\n"),
            std::string::npos);
  EXPECT_NE(BodyOf(answer).find("source=\"http://r.example/\""), std::string::npos);
  EXPECT_EQ(State()["recorder"]["recordNumber"], 2);
}

TEST_F(PanelServerTest, MessagesAndQuestionsBecomeDialogs) {
  State();
  ShowAppMessage("You are up-to-date.");
  nlohmann::json dialogs = State()["dialogs"];
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0]["text"], "You are up-to-date.");
  EXPECT_EQ(dialogs[0]["kind"], "ok");
  EXPECT_EQ(
      BodyOf(Post("/api/dialog", "{\"id\": " + dialogs[0]["id"].dump() + ", \"answer\": \"ok\"}")),
      R"({"ok":true})");
  EXPECT_TRUE(State()["dialogs"].empty());

  // A question blocks its asker until the page answers.
  auto asked = std::async(std::launch::async, [] { return AskYesNo("Lumbra", "Update now?"); });
  dialogs = nlohmann::json::array();
  for (int i = 0; i < 500 && dialogs.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    dialogs = State()["dialogs"];
  }
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0]["kind"], "yesno");
  EXPECT_EQ(asked.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  Post("/api/dialog", "{\"id\": " + dialogs[0]["id"].dump() + ", \"answer\": \"yes\"}");
  EXPECT_TRUE(asked.get());
}

TEST_F(PanelServerTest, InstantFilteringThroughThePanel) {
  m_recorder.GetUrlHistory().Add("http://one.example/");
  nlohmann::json opened = nlohmann::json::parse(BodyOf(Post("/api/instant-filter/open", "{}")));
  EXPECT_EQ(opened["urls"], nlohmann::json::array({"http://one.example/"}));
  EXPECT_EQ(nlohmann::json::parse(BodyOf(Post("/api/instant-filter/open", "{}")))["ok"], false);
  EXPECT_EQ(State()["instantFiltering"]["open"], true);
  Post("/api/instant-filter/close", R"({"url": "http://one.example/", "allow": false})");
  EXPECT_NE(ReadWholeFile(GetConfigPath()).find("<request contains=\"http://one.example/\"/>"),
            std::string::npos);
  EXPECT_EQ(State()["rules"].size(), 2u);
}

TEST_F(PanelServerTest, ExitAnswersThenEnds) {
  const std::string answer = Post("/api/command", R"({"command": "exit"})");
  EXPECT_EQ(BodyOf(answer), R"({"ok":true})");
  m_controller.WaitForExit();
  EXPECT_TRUE(m_controller.HasExited());
  EXPECT_EQ(Get("/api/state"), "connect failed");
  EXPECT_EQ(ReadWholeFile(GetConfigPath()), m_fileBefore);
}

}  // namespace
