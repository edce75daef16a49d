#include "app/update_check.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/user_messages.h"
#include "platform/file_status.h"
#include "platform/process_start.h"
#include "support/message_capture.h"
#include "support/scoped_xdg_folders.h"
#include "support/stub_http_server.h"
#include "xml/xml_node.h"

namespace {

constexpr char kVersionPath[] = "/updates/CurrentVersion.php";
constexpr char kBuildPath[] = "/updates/Update.php";
constexpr char kQuestionStart[] =
    "An update of binaries is available. Would you like to update right now to version ";

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A configuration document whose "version" element holds `version` (none when empty).
struct TestConfig {
  CXmlNode document{CPooledString("__root__")};
  explicit TestConfig(const char* version = "") {
    CXmlNode* root = document.AddChild(CPooledString("lumbra"));
    if (version[0] != '\0')
      root->AddChild(CPooledString("version"))->SetText(CPooledString(version));
  }
};

class UpdateCheckTest : public testing::Test {
 protected:
  UpdateCheckTest() {
    std::string binFolder = m_xdg.GetBase() + "/Bin Dir";
    mkdir(binFolder.c_str(), 0700);
    mkdir(m_tempFolder.c_str(), 0700);
    m_programPath = binFolder + "/Lumbra";
    WriteFile(m_programPath, "old build");
    m_settings.programPath = m_programPath;
    m_settings.installedVersion = {1, 0, 0, 1};
    m_settings.baseUrl = m_server.GetUrl("/updates");
    m_settings.webSite = "https://lumbra.example/";
    m_settings.processId = static_cast<long>(getpid());
    m_settings.download = [this](const std::string& url, const std::string& path,
                                 const DownloadLimits& limits) {
      m_downloadPaths.push_back(path);
      return DownloadUrlToFile(url, path, limits);
    };
    m_settings.startUpdater = [this](const std::string& path,
                                     const std::vector<std::string>& arguments) {
      ++m_updaterStarts;
      return StartDetachedProcess(path, arguments);
    };
    m_previousQuestions =
        SetQuestionListener([this](std::string_view caption, std::string_view text) {
          m_questions.push_back(std::string(caption) + ": " + std::string(text));
          return m_answerYes;
        });
    m_echo = SetMessageEcho(false);
  }

  ~UpdateCheckTest() override {
    SetQuestionListener(std::move(m_previousQuestions));
    SetMessageEcho(m_echo);
  }

  // Runs one check against a server answering the version request with `answer`.
  void CheckWithAnswer(const std::string& answer, const char* configVersion = "") {
    m_server.SetAnswer(kVersionPath, {200, answer});
    TestConfig config(configVersion);
    CheckForUpdate(config.document, m_settings);
  }

  std::vector<std::string> TakeOutcome() {
    std::vector<std::string> outcome = m_messages.GetTexts();
    for (const std::string& question : m_questions) outcome.push_back("? " + question);
    m_messages.Clear();
    m_questions.clear();
    return outcome;
  }

  // Waits (bounded) for the stub updater's record of its arguments.
  std::string WaitForUpdaterRecord(const std::string& recordPath) {
    for (int attempt = 0; attempt < 500 && !PathExists(recordPath); ++attempt)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return ReadWholeFile(recordPath);
  }

  CScopedXdgFolders m_xdg;
  std::string m_tempFolder = m_xdg.GetBase() + "/tmp";
  CScopedEnvironmentVariable m_tmpdir{"TMPDIR", m_tempFolder.c_str()};
  // Loopback requests must not go to a proxy the environment may name.
  CScopedEnvironmentVariable m_noProxy{"no_proxy", "*"};
  CScopedEnvironmentVariable m_noProxyUpper{"NO_PROXY", "*"};
  CStubHttpServer m_server;
  CMessageCapture m_messages;
  std::string m_programPath;
  UpdateCheckSettings m_settings;
  std::vector<std::string> m_downloadPaths;
  int m_updaterStarts = 0;
  std::vector<std::string> m_questions;
  bool m_answerYes = false;
  QuestionListener m_previousQuestions;
  bool m_echo = true;
};

TEST_F(UpdateCheckTest, EachAnswerGetsItsMessage) {
  const std::string question = std::string("? Lumbra: ") + kQuestionStart;
  struct Case {
    std::string answer;
    std::string outcome;
  };
  const std::vector<Case> cases = {
      {"1.0.0.1;1", "You are up-to-date."},
      {"1.0.0.1;2", "An upgrade of filters is available at https://lumbra.example/."},
      {"1.0.0.2;1;Spring", question + "1.0.0.2 (Spring)?"},
      {"1.1.0.0", question + "1.1.0.0 ()?"},
      {"0.9.9.9",
       "There is a problem somewhere. The online version appears older than your installed "
       "version."},
      {"\"1.0.0.3\";1", question + "1.0.0.3 ()?"},
      {"1.0;1", "The Lumbra product version obtained from the website has an incorrect format."},
      {";;1.0.0.1;;1;;", "You are up-to-date."},
      {"abc;1", "The Lumbra product version obtained from the website is invalid."},
      {"", "The Lumbra product version check could not retrieve the online version number."},
      {"1.0.0.1", "You are up-to-date."},
      {";;;", "The Lumbra product version obtained from the website is invalid."},
      {"1.0.0.1;x", "The Lumbra product version obtained from the website is invalid."},
      // Numbers count by their low 16 bits: 65537 is 1, 65536 is 0.
      {"65537.0.0.0;1", "You are up-to-date."},
      {"1.65536.0.2;1", question + "1.65536.0.2 ()?"},
      {"1.0.0.1;-5", "You are up-to-date."},
  };
  for (const Case& current : cases) {
    CheckWithAnswer(current.answer);
    EXPECT_EQ(TakeOutcome(), std::vector<std::string>{current.outcome})
        << "answer '" << current.answer << "'";
  }
  std::vector<std::string> targets = m_server.GetTargets();
  ASSERT_EQ(targets.size(), cases.size());
  for (const std::string& target : targets)
    EXPECT_EQ(target, "/updates/CurrentVersion.php?version=1.0.0.1;1");
  // "No" to every question: nothing was downloaded or started.
  EXPECT_EQ(m_updaterStarts, 0);
  EXPECT_FALSE(PathExists(m_programPath + ".update"));
}

TEST_F(UpdateCheckTest, YesDownloadsTheBuildAndStartsTheUpdater) {
  // The stub updater records its arguments, one a line, then renames the record
  // into place so the test never reads half of it.
  std::string updater = m_programPath + "_updater";
  std::string record = m_xdg.GetBase() + "/updater-arguments";
  WriteFile(updater, "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + record + ".part' && mv '" + record +
                         ".part' '" + record + "'\n");
  chmod(updater.c_str(), 0700);
  m_server.SetAnswer(kBuildPath, {200, "new build bytes"});
  m_answerYes = true;

  CheckWithAnswer("1.0.0.2;1;Spring");
  EXPECT_EQ(TakeOutcome(), std::vector<std::string>{std::string("? Lumbra: ") + kQuestionStart +
                                                    "1.0.0.2 (Spring)?"});
  EXPECT_EQ(m_server.GetTargets().back(), "/updates/Update.php");
  EXPECT_EQ(ReadWholeFile(m_programPath + ".update"), "new build bytes");
  EXPECT_EQ(m_updaterStarts, 1);
  // The paths keep their capitals and their space.
  EXPECT_EQ(WaitForUpdaterRecord(record),
            m_programPath + ".update\n" + m_programPath + "\n" + std::to_string(getpid()) + "\n");
}

}  // namespace
