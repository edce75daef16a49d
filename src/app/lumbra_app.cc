// Start-up of the program: one instance per user session, configuration loaded,
// the options controller and its control panel running until Exit.
#include "app/lumbra_app.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/command_line.h"
#include "app/options_controller.h"
#include "app/panel/dialog_queue.h"
#include "app/panel/panel_server.h"
#include "app/shell_services.h"
#include "config/config_store.h"
#include "config/page_recorder.h"
#include "core/code_page.h"
#include "core/user_messages.h"
#include "platform/descriptor_limit.h"
#include "platform/exit_signals.h"
#include "platform/random_bytes.h"
#include "platform/standard_descriptors.h"
#include "proxy/connection_slots.h"
#include "xml/xml_node.h"

namespace {

constexpr char kInfoCaption[] = "Lumbra info";
constexpr char kOneInstanceOnly[] = "Only one running Lumbra instance is allowed";
constexpr char kPortBusy[] = "Could not start proxy server. Socket port busy.";

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// 128 bits: the page's token cannot be guessed.
constexpr std::size_t kTokenBytes = 16;

void Print(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

// SIGHUP reloads the configuration; SIGTERM and SIGINT take the Exit path. The
// thread lives as long as the process.
void StartSignalThread(COptionsController& controller) {
  std::thread([&controller] {
    for (;;) {
      if (IsReloadSignal(WaitForControlSignal())) {
        controller.Reload();
      } else {
        controller.Exit();
      }
    }
  }).detach();
}

}  // namespace

CLumbraApp::CLumbraApp() = default;

// Only reached when start-up fails: a running program ends with _Exit. Nothing
// may reach the panel or its dialogs once they are gone.
CLumbraApp::~CLumbraApp() {
  if (!m_panel) return;
  InstallPanelServer(nullptr);
  SetMessageListener({});
  SetQuestionListener({});
}

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
  GetConnectionSlots().SetCapacityFor(RaiseDescriptorLimit());
  InitNarrowCharset();
  IgnoreBrokenPipeSignal();
  // Before any thread starts, so that every thread inherits the blocked set and
  // only WaitForControlSignal takes these signals.
  BlockControlSignals();
  if (!TakeInstanceLock()) return kExitFailure;
  CXmlNode document;
  // LoadConfig has shown what went wrong.
  if (!LoadConfig(document)) return kExitFailure;
  return Serve(document);
}

int CLumbraApp::Serve(const CXmlNode& document) {
  m_controller = std::make_unique<COptionsController>(GetSystemShellServices(), GetPageRecorder());
  m_controller->TakeConfig(document);
  // The panel is in place before the first connection can be accepted.
  OpenPanel();
  if (!m_controller->Initialize()) {
    ShowAppMessage(kPortBusy);
    return kExitFailure;
  }
  // Every thread of the running program is there once the listening line is out.
  StartSignalThread(*m_controller);
  const int port = m_controller->GetListeningPort();
  const bool localNetwork = m_controller->GetView().form.allowLocalNetwork;
  Print(stdout, "Lumbra " LUMBRA_VERSION_TEXT " listens on port " + std::to_string(port) +
                    " of every IPv4 interface, for " +
                    (localNetwork ? "this machine and the local network" : "this machine only") +
                    "; configuration: " + GetConfigPath() + "\n");
  m_controller->WaitForExit();
  // Exit has closed the port; the process ends without waiting for the
  // connections still open (and without running static destructors under their
  // threads).
  std::fflush(nullptr);
  std::_Exit(kExitSuccess);
}

void CLumbraApp::OpenPanel() {
  std::string token = MakeRandomHexToken(kTokenBytes);
  // Without a token no request can change anything; the page still shows.
  if (token.empty()) ShowAppMessage("The control panel cannot change settings: no random source.");
  m_dialogs = std::make_unique<CDialogQueue>();
  ConnectDialogsToPanel(*m_dialogs);
  m_panel = std::make_unique<CPanelServer>(*m_controller, *m_dialogs, std::move(token));
  InstallPanelServer(m_panel.get());
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
