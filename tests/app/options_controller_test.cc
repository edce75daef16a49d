// Tests of the options window's logic: every handler and its edge cases.
#include "app/options_controller.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
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

using namespace std::chrono_literals;

std::string ConfigText(int port, const std::string& rules, bool withPersonalRules = false,
                       bool enabled = true) {
  std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      " <lumbra>\r\n"
      "  <enabled>" +
      std::string(enabled ? "yes" : "no") +
      "</enabled>\r\n"
      "  <version>1</version>\r\n"
      "  <proxyport>" +
      std::to_string(port) +
      "</proxyport>\r\n"
      "  <corporateproxy url=\"proxy.invalid\" port=\"8080\">\r\n"
      "   <enabled>no</enabled>\r\n"
      "  </corporateproxy>\r\n"
      "  <filterrules>\r\n" +
      rules;
  if (withPersonalRules)
    text += "<filterrule name=\"Personal rules\"><enabled>yes</enabled></filterrule>\r\n";
  return text + "  </filterrules>\r\n </lumbra>\r\n";
}

const std::string kRules =
    "<filterrule name=\"window.open\"><enabled>yes</enabled>"
    "<content contains=\"window.open\" action=\"comment\"/></filterrule>\r\n"
    "<filterrule><enabled>yes</enabled><request contains=\"nameless\"/></filterrule>\r\n"
    "<filterrule name=\"ad banners\"><enabled>no</enabled>"
    "<request contains=\"ads.example\"/></filterrule>\r\n";

struct CFakeShell {
  bool autorunExists = false;
  bool autorunSucceeds = true;
  std::atomic<int> updateChecks{0};
  std::atomic<int> finishedChecks{0};
  std::atomic<bool> releaseUpdate{true};

  CShellServices Services() {
    return {[this] { return autorunExists; }, [this](bool) { return autorunSucceeds; },
            [this](const CXmlNode&) {
              ++updateChecks;
              while (!releaseUpdate) std::this_thread::sleep_for(1ms);
              ++finishedChecks;
            }};
  }
};

class OptionsControllerTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteConfig(ConfigText(m_port, kRules)); }
  void TearDown() override {
    if (m_controller) m_controller->Exit();
  }

  void WriteConfig(const std::string& text) {
    const std::string folder = GetConfigFolder();
    std::ofstream(GetConfigPath(), std::ios::binary) << text;
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

  static std::string FileText() { return ReadWholeFile(GetConfigPath()); }

  CScopedXdgFolders m_folders;
  CMessageCapture m_messages;
  int m_port = FreePort();
  CFakeShell m_shell;
  CPageRecorder m_recorder;
  std::unique_ptr<COptionsController> m_controller;
};

TEST_F(OptionsControllerTest, InitialisationReadsTheConfigurationAndStartsListening) {
  m_shell.autorunExists = true;
  COptionsController& controller = Start();
  const COptionsView view = controller.GetView();
  EXPECT_EQ(view.form.port, std::to_string(m_port));
  EXPECT_EQ(view.form.corporateUrl, "proxy.invalid");
  EXPECT_EQ(view.form.corporatePort, "8080");
  EXPECT_FALSE(view.form.corporateEnabled);
  EXPECT_TRUE(view.autorunChecked);
  EXPECT_TRUE(view.enabled);
  EXPECT_TRUE(view.trayIconOn);
  EXPECT_EQ(view.trayTip.rfind("lumbra(", 0), 0u);
  EXPECT_FALSE(view.mayShow);
  EXPECT_FALSE(view.visible);
  // The nameless rule at index 1 leaves a gap in the ids.
  ASSERT_EQ(view.rules.size(), 2u);
  EXPECT_EQ(view.rules[0].id, 0);
  EXPECT_EQ(view.rules[0].text, "window.open");
  EXPECT_TRUE(view.rules[0].checked);
  EXPECT_EQ(view.rules[1].id, 2);
  EXPECT_FALSE(view.rules[1].checked);
  EXPECT_EQ(controller.GetListeningPort(), m_port);
  EXPECT_TRUE(ConnectLoopback(m_port).IsOpen());

  controller.Command(TrayCommand::kShowOptions);
  EXPECT_TRUE(controller.GetView().mayShow);
  EXPECT_TRUE(controller.GetView().visible);
}

TEST_F(OptionsControllerTest, InitialisationOnABusyPortFails) {
  int busy = 0;
  CSocket holder = BindLoopback(busy, true);
  WriteConfig(ConfigText(busy, kRules));
  COptionsController controller(m_shell.Services(), m_recorder);
  CXmlNode document;
  ASSERT_TRUE(LoadConfig(document));
  controller.TakeConfig(document);
  EXPECT_FALSE(controller.Initialize());
}

TEST_F(OptionsControllerTest, HideRestartsTheListenerOnlyForAPortChange) {
  COptionsController& controller = Start();
  controller.Command(TrayCommand::kShowOptions);

  // Only the corporate proxy changes: same port, saved, hidden.
  COptionsForm form = Form(std::to_string(m_port));
  form.corporateEnabled = true;
  form.corporateUrl = "upstream.example";
  form.corporatePort = "3128";
  EXPECT_TRUE(controller.Hide(form).ok);
  EXPECT_EQ(controller.GetListeningPort(), m_port);
  EXPECT_NE(FileText().find("url=\"upstream.example\" port=\"3128\""), std::string::npos);
  EXPECT_NE(FileText().find("<enabled>yes</enabled>\r\n  </corporateproxy>"), std::string::npos);
  EXPECT_FALSE(controller.GetView().visible);
  EXPECT_TRUE(controller.GetView().mayShow);

  // "0<port>" is another text for the same port: stored as typed, still served.
  EXPECT_TRUE(controller.Hide(Form("0" + std::to_string(m_port))).ok);
  EXPECT_NE(FileText().find("<proxyport>0" + std::to_string(m_port) + "</proxyport>"),
            std::string::npos);
  EXPECT_EQ(controller.GetListeningPort(), m_port);
  EXPECT_TRUE(ConnectLoopback(m_port).IsOpen());

  // A new port moves the listener there.
  const int next = FreePort();
  EXPECT_TRUE(controller.Hide(Form(std::to_string(next))).ok);
  EXPECT_EQ(controller.GetListeningPort(), next);
  EXPECT_TRUE(ConnectLoopback(next).IsOpen());
  EXPECT_FALSE(ConnectLoopback(m_port).IsOpen());
  EXPECT_NE(FileText().find("<proxyport>" + std::to_string(next) + "</proxyport>"),
            std::string::npos);
}

TEST_F(OptionsControllerTest, HideOnABusyPortKeepsTheOldListenerAndChangesNothing) {
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
  EXPECT_EQ(controller.GetListeningPort(), m_port);
  EXPECT_TRUE(ConnectLoopback(m_port).IsOpen());
  EXPECT_EQ(FileText(), before);
  const COptionsView view = controller.GetView();
  EXPECT_TRUE(view.visible);
  EXPECT_EQ(view.form.port, std::to_string(m_port));
  EXPECT_FALSE(view.form.corporateEnabled);
}

TEST_F(OptionsControllerTest, LocalNetworkBoxFollowsTheFileAndHideSavesIt) {
  COptionsController& controller = Start();
  EXPECT_FALSE(controller.GetView().form.allowLocalNetwork);
  EXPECT_TRUE(controller.Hide(Form(std::to_string(m_port))).ok);
  EXPECT_EQ(FileText().find("allowlan"), std::string::npos) << "added only when switched on";
  COptionsForm form = Form(std::to_string(m_port));
  form.allowLocalNetwork = true;
  EXPECT_TRUE(controller.Hide(form).ok);
  EXPECT_NE(FileText().find("<allowlan>yes</allowlan>"), std::string::npos);
  EXPECT_TRUE(controller.GetView().form.allowLocalNetwork);
  // A file switched off by hand unchecks the box on reload, so the next Hide keeps it off.
  WriteConfig(ConfigText(m_port, kRules));
  controller.Command(TrayCommand::kReload);
  EXPECT_FALSE(controller.GetView().form.allowLocalNetwork);
  EXPECT_TRUE(controller.Hide(Form(std::to_string(m_port))).ok);
  EXPECT_EQ(FileText().find("allowlan"), std::string::npos);
}

TEST_F(OptionsControllerTest, HideRefusesAPortThatIsNotOneTo65535) {
  COptionsController& controller = Start();
  const std::string before = FileText();
  for (const char* port : {"", "0", "00000", "65536", "99999", "80a", " 80", "-80", "+80", "165535",
                           "99999999999999999999", "8.0", "80 "}) {
    const CActionResult result = controller.Hide(Form(port));
    EXPECT_FALSE(result.ok) << port;
    EXPECT_EQ(result.message, "The proxy port must be a number from 1 to 65535.") << port;
  }
  EXPECT_EQ(FileText(), before);
  EXPECT_EQ(controller.GetListeningPort(), m_port);
}

TEST_F(OptionsControllerTest, RuleToggleThenExitLosesTheChange) {
  COptionsController& controller = Start();
  const std::string before = FileText();
  EXPECT_TRUE(controller.ToggleRule(0));
  EXPECT_FALSE(controller.GetView().rules[0].checked);
  EXPECT_EQ(FileText(), before);
  controller.Command(TrayCommand::kExit);
  EXPECT_TRUE(controller.HasExited());
  EXPECT_FALSE(controller.GetView().running);
  EXPECT_FALSE(ConnectLoopback(m_port).IsOpen());
  EXPECT_EQ(FileText(), before);
  controller.WaitForExit();
}

TEST_F(OptionsControllerTest, RuleToggleThenHideKeepsTheChange) {
  COptionsController& controller = Start();
  EXPECT_TRUE(controller.ToggleRule(0));
  EXPECT_TRUE(controller.ToggleRule(2));
  // No item for the nameless rule, and nothing beyond the last rule.
  EXPECT_FALSE(controller.ToggleRule(1));
  EXPECT_FALSE(controller.ToggleRule(3));
  EXPECT_TRUE(controller.Hide(Form(std::to_string(m_port))).ok);
  const std::string text = FileText();
  EXPECT_NE(text.find("name=\"window.open\">\r\n    <enabled>no</enabled>"), std::string::npos)
      << text;
  EXPECT_NE(text.find("name=\"ad banners\">\r\n    <enabled>yes</enabled>"), std::string::npos)
      << text;
}

TEST_F(OptionsControllerTest, EnableDisableTwiceRestoresEverythingAndSavesEachTime) {
  COptionsController& controller = Start();
  auto menuText = [&] {
    for (const CTrayMenuItem& item : controller.GetView().menu)
      if (item.command == TrayCommand::kToggleFiltering) return item.text;
    return std::string();
  };
  EXPECT_EQ(menuText(), "&Disable");

  EXPECT_TRUE(controller.Command(TrayCommand::kToggleFiltering));
  EXPECT_FALSE(controller.GetView().enabled);
  EXPECT_FALSE(controller.GetView().trayIconOn);
  EXPECT_EQ(menuText(), "&Enable");
  EXPECT_NE(FileText().find("<lumbra>\r\n  <enabled>no</enabled>"), std::string::npos);

  EXPECT_TRUE(controller.Command(TrayCommand::kToggleFiltering));
  EXPECT_TRUE(controller.GetView().enabled);
  EXPECT_TRUE(controller.GetView().trayIconOn);
  EXPECT_EQ(menuText(), "&Disable");
  EXPECT_NE(FileText().find("<lumbra>\r\n  <enabled>yes</enabled>"), std::string::npos);
}

std::vector<std::string> Ids(const std::vector<CTrayMenuItem>& menu) {
  std::vector<std::string> ids;
  for (const CTrayMenuItem& item : menu)
    ids.emplace_back(item.command ? GetTrayCommandName(*item.command) : "-");
  return ids;
}

const CTrayMenuItem* Find(const std::vector<CTrayMenuItem>& menu, TrayCommand command) {
  for (const CTrayMenuItem& item : menu)
    if (item.command == command) return &item;
  return nullptr;
}

TEST(TrayMenuTest, ItemsFollowTheRecorderAndFilteringState) {
  const auto stoppedEmpty = BuildTrayMenu(true, kRecorderStopped, true);
  EXPECT_EQ(Ids(stoppedEmpty),
            (std::vector<std::string>{"show-options", "-", "start-or-pause-recorder",
                                      "instant-filtering", "toggle-filtering", "-", "exit"}));
  EXPECT_EQ(Find(stoppedEmpty, TrayCommand::kStartOrPauseRecorder)->text, "&Start recorder");
  EXPECT_EQ(Find(stoppedEmpty, TrayCommand::kStartOrPauseRecorder)->image,
            "icon-recorder-start.png");
  EXPECT_EQ(Find(stoppedEmpty, TrayCommand::kToggleFiltering)->text, "&Disable");
  EXPECT_EQ(Find(stoppedEmpty, TrayCommand::kExit)->text, "&Exit");

  const auto stoppedWithRecord = BuildTrayMenu(false, kRecorderStopped, false);
  EXPECT_EQ(Ids(stoppedWithRecord),
            (std::vector<std::string>{"show-options", "-", "start-or-pause-recorder", "save-record",
                                      "instant-filtering", "toggle-filtering", "-", "exit"}));
  EXPECT_EQ(Find(stoppedWithRecord, TrayCommand::kSaveRecord)->text, "Save record as...");
  EXPECT_EQ(Find(stoppedWithRecord, TrayCommand::kSaveRecord)->image, "icon-save-record.png");
  EXPECT_EQ(Find(stoppedWithRecord, TrayCommand::kToggleFiltering)->text, "&Enable");

  const auto recording = BuildTrayMenu(true, kRecorderRecording, false);
  EXPECT_EQ(Ids(recording), (std::vector<std::string>{
                                "show-options", "-", "start-or-pause-recorder", "stop-recorder",
                                "instant-filtering", "toggle-filtering", "-", "exit"}));
  EXPECT_EQ(Find(recording, TrayCommand::kStartOrPauseRecorder)->text, "&Pause recorder");
  EXPECT_EQ(Find(recording, TrayCommand::kStartOrPauseRecorder)->image, "icon-recorder-pause.png");
  EXPECT_EQ(Find(recording, TrayCommand::kStopRecorder)->text, "&Stop recorder");
  EXPECT_EQ(Find(recording, TrayCommand::kStopRecorder)->image, "icon-recorder-stop.png");

  const auto paused = BuildTrayMenu(true, kRecorderPaused, false);
  EXPECT_EQ(Ids(paused), (std::vector<std::string>{
                             "show-options", "-", "start-or-pause-recorder", "stop-recorder",
                             "save-record", "instant-filtering", "toggle-filtering", "-", "exit"}));
  EXPECT_EQ(Find(paused, TrayCommand::kStartOrPauseRecorder)->text, "Resume recorder");
  EXPECT_EQ(Find(paused, TrayCommand::kStartOrPauseRecorder)->image, "icon-recorder-pause.png");

  EXPECT_EQ(FormatTrayTip(0), "lumbra(0)");
  EXPECT_EQ(FormatTrayTip(12), "lumbra(12)");
}

TEST_F(OptionsControllerTest, RecorderCommandsAndSavingTheRecord) {
  COptionsController& controller = Start();
  int delivered = 0;
  std::string name, text;
  auto deliver = [&](const std::string& fileName, const std::string& record) {
    ++delivered;
    name = fileName;
    text = record;
    return true;
  };
  CActionResult result = controller.SaveRecord(deliver);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.message, "Nothing to write on disk.");
  EXPECT_EQ(delivered, 0);

  controller.Command(TrayCommand::kStartOrPauseRecorder);
  EXPECT_EQ(controller.GetView().recorderState, kRecorderRecording);
  m_recorder.RecordPage("http://a.example/", {}, {}, {}, {});
  controller.Command(TrayCommand::kStartOrPauseRecorder);
  EXPECT_EQ(controller.GetView().recorderState, kRecorderPaused);
  controller.Command(TrayCommand::kStartOrPauseRecorder);
  EXPECT_EQ(controller.GetView().recorderState, kRecorderRecording);
  controller.Command(TrayCommand::kStopRecorder);
  EXPECT_EQ(controller.GetView().recorderState, kRecorderStopped);
  EXPECT_NE(Find(controller.GetView().menu, TrayCommand::kSaveRecord), nullptr);

  // A delivery that fails keeps the number.
  result = controller.SaveRecord([](const std::string&, const std::string&) { return false; });
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(controller.GetView().recordNumber, 1);

  EXPECT_TRUE(controller.SaveRecord(deliver).ok);
  EXPECT_EQ(name, "record1.xml");
  EXPECT_NE(text.find("source=\"http://a.example/\""), std::string::npos) << text;
  EXPECT_EQ(controller.GetView().recordNumber, 2);
  EXPECT_TRUE(controller.SaveRecord(deliver).ok);
  EXPECT_EQ(name, "record2.xml");
  EXPECT_EQ(controller.GetView().recordNumber, 3);
}

TEST_F(OptionsControllerTest, SavingWhileRecordingStopsTheRecorder) {
  COptionsController& controller = Start();
  controller.Command(TrayCommand::kStartOrPauseRecorder);
  m_recorder.RecordPage("http://b.example/", {}, {}, {}, {});
  std::string text;
  EXPECT_TRUE(controller
                  .SaveRecord([&](const std::string&, const std::string& record) {
                    text = record;
                    return true;
                  })
                  .ok);
  EXPECT_EQ(controller.GetView().recorderState, kRecorderStopped);
  EXPECT_NE(text.find("</tarvisk>"), std::string::npos) << text;
}

TEST_F(OptionsControllerTest, ReloadBeforeOptionsStaysHiddenAndReachesTheListener) {
  COptionsController& controller = Start();
  WriteConfig(ConfigText(m_port, "<filterrule name=\"fresh\"><enabled>yes</enabled></filterrule>",
                         false, false));
  EXPECT_TRUE(controller.Command(TrayCommand::kReload));
  COptionsView view = controller.GetView();
  EXPECT_FALSE(view.mayShow);
  EXPECT_FALSE(view.visible);
  EXPECT_FALSE(view.enabled);
  EXPECT_FALSE(view.trayIconOn);
  ASSERT_EQ(view.rules.size(), 1u);
  EXPECT_EQ(view.rules[0].text, "fresh");

  controller.Command(TrayCommand::kShowOptions);
  COptionsForm form = Form(std::to_string(m_port));
  EXPECT_TRUE(controller.Hide(form).ok);
  EXPECT_FALSE(controller.GetView().visible);
  controller.Command(TrayCommand::kReload);
  EXPECT_TRUE(controller.GetView().visible);
}

TEST_F(OptionsControllerTest, ReloadOfABrokenFileChangesNothing) {
  COptionsController& controller = Start();
  WriteConfig("<lumbra><enabled>no</enabled></lumbra></lumbra>");
  controller.Command(TrayCommand::kReload);
  EXPECT_TRUE(controller.GetView().enabled);
  EXPECT_EQ(controller.GetView().rules.size(), 2u);
  EXPECT_FALSE(m_messages.GetTexts().empty());
}

TEST_F(OptionsControllerTest, InstantFilteringOneDialogAtATime) {
  COptionsController& controller = Start();
  m_recorder.GetUrlHistory().Add("http://old.example/");
  m_recorder.GetUrlHistory().Add("http://new.example/");
  std::vector<std::string> urls;
  ASSERT_TRUE(controller.OpenInstantFiltering(urls));
  EXPECT_EQ(urls, (std::vector<std::string>{"http://new.example/", "http://old.example/"}));
  std::vector<std::string> second;
  EXPECT_FALSE(controller.OpenInstantFiltering(second));
  EXPECT_TRUE(second.empty());
  EXPECT_TRUE(controller.GetView().instantFilteringOpen);

  const std::string before = FileText();
  EXPECT_TRUE(controller.CloseInstantFiltering(true, "http://new.example/", true));
  EXPECT_FALSE(controller.GetView().instantFilteringOpen);
  EXPECT_EQ(FileText(), before);
  EXPECT_FALSE(controller.CloseInstantFiltering(false, "http://new.example/", true));

  // An empty URL changes nothing either.
  ASSERT_TRUE(controller.OpenInstantFiltering(urls));
  EXPECT_TRUE(controller.CloseInstantFiltering(false, "", true));
  EXPECT_EQ(FileText(), before);
}

TEST_F(OptionsControllerTest, InstantFilteringCreatesPersonalRulesAndAddsEntries) {
  COptionsController& controller = Start();
  std::vector<std::string> urls;
  ASSERT_TRUE(controller.OpenInstantFiltering(urls));
  EXPECT_TRUE(urls.empty());
  EXPECT_TRUE(controller.CloseInstantFiltering(false, "good.example/", true));
  ASSERT_TRUE(controller.OpenInstantFiltering(urls));
  EXPECT_TRUE(controller.CloseInstantFiltering(false, "bad.example/\"<x>", false));

  const std::string text = FileText();
  const std::size_t rule = text.find("<filterrule name=\"Personal rules\">");
  ASSERT_NE(rule, std::string::npos) << text;
  EXPECT_GT(rule, text.find("name=\"ad banners\""));
  EXPECT_NE(text.find("<enabled>yes</enabled>", rule), std::string::npos);
  EXPECT_NE(text.find("<allow contains=\"good.example/\"/>", rule), std::string::npos) << text;
  EXPECT_NE(text.find("<request contains=\"bad.example/&quot;&lt;x&gt;\"/>", rule),
            std::string::npos)
      << text;
  // One rule, listed in the Advanced filters menu.
  EXPECT_EQ(text.find("Personal rules", rule + 20), std::string::npos);
  const COptionsView view = controller.GetView();
  ASSERT_EQ(view.rules.size(), 3u);
  EXPECT_EQ(view.rules[2].text, "Personal rules");
  EXPECT_TRUE(view.rules[2].checked);
}

TEST_F(OptionsControllerTest, InstantFilteringAddsToAnExistingPersonalRule) {
  WriteConfig(ConfigText(m_port, kRules, true));
  COptionsController& controller = Start();
  std::vector<std::string> urls;
  ASSERT_TRUE(controller.OpenInstantFiltering(urls));
  EXPECT_TRUE(controller.CloseInstantFiltering(false, std::string(2000, 'u'), false));
  const std::string text = FileText();
  const std::size_t rule = text.find("name=\"Personal rules\"");
  EXPECT_EQ(text.find("name=\"Personal rules\"", rule + 1), std::string::npos);
  // Cut to the 1023 characters the dialog's field holds.
  EXPECT_NE(text.find("<request contains=\"" + std::string(1023, 'u') + "\"/>", rule),
            std::string::npos);
}

TEST_F(OptionsControllerTest, InstantFilteringEntriesSurviveASaveAndAReload) {
  std::string config(GetDefaultConfigText());
  const std::string defaultPort = "<proxyport>8010</proxyport>";
  config.replace(config.find(defaultPort), defaultPort.size(),
                 "<proxyport>" + std::to_string(m_port) + "</proxyport>");
  WriteConfig(config);
  COptionsController& controller = Start();
  const std::string urls[] = {"http://en.wikipedia.org/wiki/Ender's_Game",
                              "http://a.example/?q=a>b&c=<script>",
                              "http://a.example/\"quoted\"&amp;", "http://a.example/]]>-->",
                              "http://a.example/\t\r\n\x01\x1F\x7F%0A"};
  for (const std::string& url : urls) {
    for (const bool allow : {true, false}) {
      std::vector<std::string> offered;
      ASSERT_TRUE(controller.OpenInstantFiltering(offered));
      ASSERT_TRUE(controller.CloseInstantFiltering(false, url, allow));
    }
  }
  // The reloaded rules are saved again (Disable saves) and read once more.
  EXPECT_TRUE(controller.Command(TrayCommand::kReload));
  EXPECT_EQ(controller.GetView().rules.size(), 10u);
  EXPECT_TRUE(controller.Command(TrayCommand::kToggleFiltering));
  EXPECT_EQ(m_messages.GetTexts(), std::vector<std::string>{});
  CXmlNode document;
  ASSERT_TRUE(LoadConfig(document));
  ASSERT_EQ(GetRuleCount(document), 10);
  CXmlNode* personal = nullptr;
  GetRule(document, 6, personal);
  std::vector<std::string> added, expected;
  for (int index = personal->GetChildCount() - 10; index < personal->GetChildCount(); ++index) {
    const CXmlNode* entry = personal->GetChild(index);
    added.push_back(entry->GetName().ToString() + " " + entry->GetAttribute("contains").ToString());
  }
  for (int index = 0; index < 5; ++index) {
    const std::string url = index < 4 ? urls[index] : "http://a.example/%09%0D%0A%01%1F%7F%0A";
    expected.insert(expected.end(), {"allow " + url, "request " + url});
  }
  EXPECT_EQ(added, expected);
  EXPECT_EQ(personal->CountChildren("allow") + personal->CountChildren("request"), 26 + 10);
}

TEST_F(OptionsControllerTest, AutorunReportsFailuresAndKeepsTheUsersChoice) {
  COptionsController& controller = Start();
  EXPECT_TRUE(controller.SetAutorun(true).ok);
  EXPECT_TRUE(controller.GetView().autorunChecked);
  m_shell.autorunSucceeds = false;
  CActionResult result = controller.SetAutorun(false);
  EXPECT_EQ(result.message,
            "Failed to remove the shortcut to Lumbra from the Windows startup menu. Probably a "
            "privilege issue.");
  EXPECT_FALSE(controller.GetView().autorunChecked);
  result = controller.SetAutorun(true);
  EXPECT_EQ(result.message,
            "Failed to add the shortcut to Lumbra in the Windows startup menu. Probably a "
            "privilege issue.");
  EXPECT_TRUE(controller.GetView().autorunChecked);
}

TEST_F(OptionsControllerTest, ProductUpdateRunsOneCheckAtATimeOffTheCaller) {
  COptionsController& controller = Start();
  m_shell.releaseUpdate = false;
  // The command returns while the check still runs on its own thread.
  EXPECT_TRUE(controller.Command(TrayCommand::kProductUpdate));
  for (int i = 0; i < 500 && m_shell.updateChecks == 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(m_shell.updateChecks, 1);
  EXPECT_TRUE(controller.Command(TrayCommand::kProductUpdate));
  m_shell.releaseUpdate = true;
  for (int i = 0; i < 500 && m_shell.finishedChecks == 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(m_shell.updateChecks, 1);
  // Once it has ended another check may start.
  for (int i = 0; i < 500 && m_shell.updateChecks < 2; ++i) {
    controller.Command(TrayCommand::kProductUpdate);
    std::this_thread::sleep_for(10ms);
  }
  for (int i = 0; i < 500 && m_shell.finishedChecks < 2; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(m_shell.updateChecks, 2);
}

TEST_F(OptionsControllerTest, UnknownCommandsAndCommandsAfterExit) {
  COptionsController& controller = Start();
  for (TrayCommand command : {TrayCommand::kSaveRecord, TrayCommand::kInstantFiltering})
    EXPECT_FALSE(controller.Command(command));
  for (int index : {-1, 1, 3, 101}) EXPECT_FALSE(controller.ToggleRule(index));
  std::thread waiter([&] { controller.WaitForExit(); });
  controller.Exit();
  waiter.join();
  const std::string before = FileText();
  controller.Command(TrayCommand::kToggleFiltering);
  EXPECT_FALSE(controller.Hide(Form(std::to_string(FreePort()))).ok);
  EXPECT_EQ(FileText(), before);
  EXPECT_FALSE(ConnectLoopback(m_port).IsOpen());
}

}  // namespace
