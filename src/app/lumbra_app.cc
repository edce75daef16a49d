// Start-up of the program: one instance per user session, configuration loaded.
#include "app/lumbra_app.h"

#include <cstdio>
#include <string>

#include "app/command_line.h"
#include "app/config_summary.h"
#include "config/config_store.h"
#include "core/code_page.h"
#include "core/user_messages.h"
#include "platform/standard_descriptors.h"
#include "xml/xml_node.h"

namespace {

constexpr char kInfoCaption[] = "Lumbra info";
constexpr char kOneInstanceOnly[] = "Only one running Lumbra instance is allowed";

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

void Print(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

}  // namespace

int CLumbraApp::Run(int argc, const char* const* argv) {
  CommandLine commandLine = ParseCommandLine(argc, argv);
  switch (commandLine.action) {
    case CommandLineAction::kShowHelp:
      Print(stdout, GetUsageText());
      return kExitSuccess;
    case CommandLineAction::kShowVersion:
      Print(stdout, GetVersionText());
      return kExitSuccess;
    case CommandLineAction::kUnknownArgument:
      Print(stderr,
            "lumbra: unknown argument '" + commandLine.unknownArgument + "'\n\n" + GetUsageText());
      return kExitUsage;
    case CommandLineAction::kRun:
      break;
  }
  return Start();
}

int CLumbraApp::Start() {
  OccupyStandardDescriptors();
  InitNarrowCharset();
  if (!TakeInstanceLock()) return kExitFailure;
  CXmlNode document;
  // LoadConfig has shown what went wrong.
  if (!LoadConfig(document)) return kExitFailure;
  Print(stdout, DescribeConfig(GetConfigPath(), document));
  return kExitSuccess;
}

bool CLumbraApp::TakeInstanceLock() {
  std::string lockPath = GetInstanceLockPath();
  switch (m_instanceLock.Acquire(lockPath)) {
    case CInstanceLock::Result::kAcquired:
      return true;
    case CInstanceLock::Result::kHeldElsewhere:
      ShowMessageBox(kInfoCaption, kOneInstanceOnly);
      return false;
    case CInstanceLock::Result::kFailed:
      ShowFileError(lockPath);
      return false;
  }
  return false;
}
