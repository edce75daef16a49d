// Start-up of the program: one instance per user session, configuration loaded.
#include "app/lumbra_app.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/command_line.h"
#include "config/config_store.h"
#include "core/code_page.h"
#include "core/user_messages.h"
#include "platform/exit_signals.h"
#include "platform/standard_descriptors.h"
#include "xml/xml_node.h"

namespace {

constexpr char kInfoCaption[] = "Lumbra info";
constexpr char kOneInstanceOnly[] = "Only one running Lumbra instance is allowed";
constexpr char kPortBusy[] = "Could not start proxy server. Socket port busy.";

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
  // Before any thread starts, so that every thread inherits the blocked set and
  // only WaitForExitSignal takes these signals.
  BlockExitSignals();
  if (!TakeInstanceLock()) return kExitFailure;
  CXmlNode document;
  // LoadConfig has shown what went wrong.
  if (!LoadConfig(document)) return kExitFailure;
  return Serve(document);
}

int CLumbraApp::Serve(const CXmlNode& document) {
  m_listener.SetConfig(document);
  if (!m_listener.Start() || !m_listener.WaitUntilListening()) {
    ShowAppMessage(kPortBusy);
    return kExitFailure;
  }
  Print(stdout, "Lumbra " LUMBRA_VERSION_TEXT " listens on port " +
                    std::to_string(m_listener.GetPort()) +
                    " of every IPv4 interface; configuration: " + GetConfigPath() + "\n");
  WaitForExitSignal();
  // The Exit path: the port is closed, and the process ends without waiting for
  // the connections still open (and without running static destructors under
  // their threads).
  m_listener.Stop();
  std::fflush(nullptr);
  std::_Exit(kExitSuccess);
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
