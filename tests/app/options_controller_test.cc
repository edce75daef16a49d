// Tests of the options window's logic: what each command does to the form, the
// file, the listener and the recorder.
#include "app/options_controller.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>

#include "config/config_store.h"
#include "config/page_recorder.h"
#include "proxy/socket.h"
#include "support/loopback_sockets.h"
#include "support/message_capture.h"
#include "support/scoped_xdg_folders.h"

namespace {

constexpr char kRules[] =
    "<filterrule name=\"window.open\"><enabled>yes</enabled></filterrule>\r\n"
    "<filterrule><enabled>yes</enabled><request contains=\"nameless\"/></filterrule>\r\n"
    "<filterrule name=\"ad banners\"><enabled>no</enabled></filterrule>\r\n";

std::string ConfigText(int port, const std::string& rules = kRules, const char* enabled = "yes") {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n <lumbra>\r\n  <enabled>") +
         enabled + "</enabled>\r\n  <proxyport>" + std::to_string(port) +
         "</proxyport>\r\n  <corporateproxy url=\"proxy.invalid\" port=\"8080\">\r\n"
         "   <enabled>no</enabled>\r\n  </corporateproxy>\r\n  <filterrules>\r\n" +
         rules + "  </filterrules>\r\n </lumbra>\r\n";
}

struct CFakeShell {
  bool autorunExists = false;
  bool autorunSucceeds = true;

  CShellServices Services() {
    return {[this] { return autorunExists; }, [this](bool) { return autorunSucceeds; },
            [](const CXmlNode&) {}};
  }
};

class OptionsControllerTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteConfig(ConfigText(m_port)); }
  void TearDown() override {
    if (m_controller) m_controller->Exit();
  }

  static void WriteConfig(const std::string& text) {
    GetConfigFolder();
    std::ofstream(GetConfigPath(), std::ios::binary) << text;
  }
  static std::string FileText() { return ReadWholeFile(GetConfigPath()); }
  static bool FileHas(const std::string& text) {
    return FileText().find(text) != std::string::npos;
  }

  COptionsController& Start() {
    m_controller = std::make_unique<COptionsController>(m_shell.Services(), m_recorder);
    CXmlNode document;
    EXPECT_TRUE(LoadConfig(document));
    m_controller->TakeConfig(document);
    EXPECT_TRUE(m_controller->Initialize());
    return *m_controller;
  }

  COptionsForm Form(const std::string& port) {
    COptionsForm form = m_controller->GetView().form;
    form.port = port;
    return form;
  }

  // Whether the proxy answers a request for `path` on a server that is not there
  // (it answers 502) rather than closing the connection as for a blocked one.
  bool ProxyAnswers(const std::string& path) {
    const std::string server = "127.0.0.1:" + std::to_string(FreePort());
    const std::string request =
        "GET http://" + server + path + " HTTP/1.1\r\nHost: " + server + "\r\n\r\n";
    CSocket browser = ConnectLoopback(m_port);
    SendAll(browser.Get(), request.data(), request.size());
    char first = 0;
    return ReceiveSome(browser.Get(), &first, 1) > 0;
  }

  // Opens the Instant filtering dialog and answers it with OK.
  bool FilterInstantly(const std::string& url, bool allow) {
    std::vector<std::string> offered;
    return m_controller->OpenInstantFiltering(offered) &&
           m_controller->CloseInstantFiltering(false, url, allow);
  }

  CScopedXdgFolders m_folders;
  CMessageCapture m_messages;
  int m_port = FreePort();
  CFakeShell m_shell;
  CPageRecorder m_recorder;
  std::unique_ptr<COptionsController> m_controller;
};

TEST_F(OptionsControllerTest, HideSavesTheFormAndTheRuleToggles) {
  COptionsController& controller = Start();
  controller.Command(TrayCommand::kShowOptions);
  EXPECT_TRUE(controller.ToggleRule(0));
  EXPECT_TRUE(controller.ToggleRule(2));
  // No item for the nameless rule, none beyond the last rule or the switchable ones.
  for (int index : {-1, 1, 3, kSwitchableRuleCount}) EXPECT_FALSE(controller.ToggleRule(index));
  // "0<port>" is another text for the same port: stored as typed, still served.
  COptionsForm form = Form("0" + std::to_string(m_port));
  form.corporateEnabled = true;
  form.corporateUrl = "upstream.example";
  form.corporatePort = "3128";
  form.allowLocalNetwork = true;
  EXPECT_TRUE(controller.Hide(form).ok);
  EXPECT_FALSE(controller.GetView().visible);
  EXPECT_EQ(controller.GetListeningPort(), m_port);
  for (const std::string& saved :
       {"<proxyport>0" + std::to_string(m_port) + "</proxyport>",
        std::string("url=\"upstream.example\" port=\"3128\">\r\n   <enabled>yes</enabled>"),
        std::string("<allowlan>yes</allowlan>"),
        std::string("name=\"window.open\">\r\n    <enabled>no</enabled>"),
        std::string("name=\"ad banners\">\r\n    <enabled>yes</enabled>")})
    EXPECT_TRUE(FileHas(saved)) << saved;

  // A file switched off by hand unchecks the box on reload, so the next Hide keeps it off.
  WriteConfig(ConfigText(m_port));
  controller.Command(TrayCommand::kReload);
  EXPECT_FALSE(controller.GetView().form.allowLocalNetwork);
  EXPECT_TRUE(controller.Hide(Form(std::to_string(m_port))).ok);
  EXPECT_FALSE(FileHas("allowlan"));
}

TEST_F(OptionsControllerTest, HideThatCannotListenOrHasNoPortChangesNothing) {
  COptionsController& controller = Start();
  controller.Command(TrayCommand::kShowOptions);
  const std::string before = FileText();
  int busy = 0;
  CSocket holder = BindLoopback(busy, true);
  COptionsForm form = Form(std::to_string(busy));
  form.corporateEnabled = true;
  const CActionResult result = controller.Hide(form);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.message, "Could not start proxy server. Socket port busy.");
  EXPECT_TRUE(ConnectLoopback(m_port).IsOpen());
  EXPECT_TRUE(controller.GetView().visible);
  EXPECT_FALSE(controller.GetView().form.corporateEnabled);

  EXPECT_EQ(controller.Hide(Form("0")).message, "The proxy port must be a number from 1 to 65535.");
  EXPECT_EQ(FileText(), before);
  // The restored document is what the next save writes; switching filtering saves.
  controller.Command(TrayCommand::kToggleFiltering);
  EXPECT_TRUE(FileHas("<lumbra>\r\n  <enabled>no</enabled>"));
  EXPECT_TRUE(FileHas("<proxyport>" + std::to_string(m_port) + "</proxyport>"));
  EXPECT_TRUE(FileHas("port=\"8080\">\r\n   <enabled>no</enabled>"));
}

TEST_F(OptionsControllerTest, InstantFilteringFillsPersonalRules) {
  COptionsController& controller = Start();
  EXPECT_TRUE(FilterInstantly("good.example/", true));
  EXPECT_TRUE(FilterInstantly("bad.example/\"<x>", false));
  const std::string text = FileText();
  const std::size_t rule = text.find("<filterrule name=\"Personal rules\">\r\n    <enabled>yes");
  ASSERT_NE(rule, std::string::npos) << text;
  EXPECT_GT(rule, text.find("name=\"ad banners\""));
  EXPECT_EQ(text.find("Personal rules", rule + 20), std::string::npos) << "one rule";
  EXPECT_NE(text.find("<allow contains=\"good.example/\"/>", rule), std::string::npos) << text;
  EXPECT_NE(text.find("<request contains=\"bad.example/&quot;&lt;x&gt;\"/>", rule),
            std::string::npos);
  const COptionsView view = controller.GetView();
  ASSERT_EQ(view.rules.size(), 3u);
  EXPECT_EQ(view.rules[2].text, "Personal rules");
  // New connections obey the choice at once.
  EXPECT_TRUE(ProxyAnswers("/passes"));
  EXPECT_TRUE(FilterInstantly("/blocked-now", false));
  EXPECT_FALSE(ProxyAnswers("/blocked-now"));

  // A URL is cut to the 1023 characters the dialog's field holds.
  EXPECT_TRUE(FilterInstantly(std::string(2000, 'u'), false));
  EXPECT_TRUE(FileHas("<request contains=\"" + std::string(1023, 'u') + "\"/>"));
  EXPECT_EQ(FileText().find("Personal rules", rule + 20), std::string::npos);
}

TEST_F(OptionsControllerTest, AutorunReportsFailuresAndKeepsTheUsersChoice) {
  COptionsController& controller = Start();
  EXPECT_TRUE(controller.SetAutorun(true).ok);
  m_shell.autorunSucceeds = false;
  EXPECT_EQ(controller.SetAutorun(false).message,
            "Failed to remove the shortcut to Lumbra from the Windows startup menu. Probably a "
            "privilege issue.");
  EXPECT_FALSE(controller.GetView().autorunChecked);
  EXPECT_EQ(controller.SetAutorun(true).message,
            "Failed to add the shortcut to Lumbra in the Windows startup menu. Probably a "
            "privilege issue.");
  EXPECT_TRUE(controller.GetView().autorunChecked);
}

TEST_F(OptionsControllerTest, ToggleAndExitSaveNothingAndExitEndsEveryCommand) {
  COptionsController& controller = Start();
  EXPECT_FALSE(controller.Command(TrayCommand::kSaveRecord)) << "needs the page";
  EXPECT_FALSE(controller.Command(TrayCommand::kInstantFiltering)) << "needs the page";
  const std::string before = FileText();
  EXPECT_TRUE(controller.ToggleRule(0));
  std::thread waiter([&] { controller.WaitForExit(); });
  EXPECT_TRUE(controller.Command(TrayCommand::kExit));
  waiter.join();
  EXPECT_FALSE(controller.GetView().running);
  EXPECT_FALSE(ConnectLoopback(m_port).IsOpen());
  controller.Command(TrayCommand::kToggleFiltering);
  EXPECT_FALSE(controller.Hide(Form(std::to_string(FreePort()))).ok);
  std::vector<std::string> urls;
  EXPECT_FALSE(controller.OpenInstantFiltering(urls));
  EXPECT_EQ(FileText(), before);
}

}  // namespace
