// COptionsController: the options window's logic, behind whatever shows it.
#include "app/options_controller.h"

#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "app/startup_shortcut.h"
#include "config/https_filtering_config.h"
#include "inspection/https_inspection.h"
#include "tls/certificate_authority.h"
#include "tls/leaf_certificates.h"
#include "config/config_store.h"
#include "config/page_recorder.h"
#include "proxy/live_relay_count.h"
#include "proxy/port_text.h"
#include "rules/filter_rule.h"

namespace {

constexpr char kPortBusy[] = "Could not start proxy server. Socket port busy.";
constexpr char kBadPort[] = "The proxy port must be a number from 1 to 65535.";
constexpr char kNothingToWrite[] = "Nothing to write on disk.";

// The corporate proxy address field's limit.
constexpr std::size_t kMaxCorporateUrlLength = 255;

// Installs what the proxy needs to inspect the chosen sites, making the local
// authority on first need; without a usable one, nothing is inspected.
void ApplyHttpsFiltering(const CHttpsFilteringSettings& settings) {
  static CCertificateAuthority authority(GetConfigFolder());
  if (!settings.enabled || authority.CreateOrLoad().state != AuthorityState::kReady) {
    GetHttpsInspection().Replace(nullptr);
    return;
  }
  auto setup = std::make_shared<CInspectionSetup>();
  setup->sites = CChosenSites(settings.sites);
  setup->leaves = std::make_shared<CLeafCertificates>(authority);
  unsigned char* der = nullptr;
  const int length = i2d_X509(authority.GetCertificate(), &der);
  if (length > 0) setup->authorityDer.assign(reinterpret_cast<char*>(der), length);
  OPENSSL_free(der);
  GetHttpsInspection().Replace(setup);
}

}  // namespace

COptionsController::COptionsController(CShellServices services, CPageRecorder& recorder)
    : m_services(std::move(services)),
      m_recorder(recorder),
      m_updateRunning(std::make_shared<std::atomic<bool>>(false)) {}

void COptionsController::TakeConfig(const CXmlNode& document) {
  std::lock_guard<std::mutex> guard(m_lock);
  TakeConfigLocked(document);
}

void COptionsController::TakeConfigLocked(const CXmlNode& document) {
  m_document.RemoveAll();
  m_document.CopyFrom(&document);
  m_form.port = GetProxyPort(m_document);
  m_form.corporateUrl = GetCorporateProxyUrl(m_document);
  m_form.corporatePort = GetCorporateProxyPort(m_document);
  // Unlike the corporate box, this one always shows the file: a box left checked
  // after the file switched it off would open the proxy again on the next Hide.
  m_form.allowLocalNetwork = IsLocalNetworkAllowed(m_document);
  m_enabled = IsFilterEnabled(m_document);
  m_blockLists.Configure(GetBlockLists(m_document));
  ApplyHttpsFiltering(GetHttpsFiltering(m_document));
}

bool COptionsController::Initialize() {
  std::lock_guard<std::mutex> guard(m_lock);
  SetTrayIconFromEnabled();
  m_listener.SetConfig(m_document);
  if (!m_listener.Start() || !m_listener.WaitUntilListening()) return false;
  FillRulesMenu(m_rulesMenu, m_document);
  if (IsCorporateProxyEnabled(m_document)) m_form.corporateEnabled = true;
  m_autorunChecked = m_services.autorunExists && m_services.autorunExists();
  return true;
}

void COptionsController::SetTrayIconFromEnabled() { m_trayIconOn = m_enabled; }

CActionResult COptionsController::Hide(const COptionsForm& input) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_exited) return {false, ""};
  // Any other text would bind a port the system picks, and the user would lose
  // the panel with it.
  if (ParsePort(input.port) == 0) return {false, kBadPort};
  COptionsForm form = input;
  if (form.corporateUrl.size() > kMaxCorporateUrlLength)
    form.corporateUrl.resize(kMaxCorporateUrlLength);
  CXmlNode saved;
  saved.CopyFrom(&m_document);

  if (form.corporateEnabled) {
    EnableCorporateProxy(m_document);
    SetCorporateProxy(m_document, form.corporateUrl, form.corporatePort);
  } else {
    DisableCorporateProxy(m_document);
  }
  SetLocalNetworkAllowed(m_document, form.allowLocalNetwork);
  // Compared as text: "08010" against a stored "8010" is a change, as typed.
  const bool portChanged = form.port != GetProxyPort(m_document);
  if (portChanged) SetProxyPort(m_document, form.port);
  m_listener.SetConfig(m_document);
  CActionResult listening = ListenOnConfiguredPort(portChanged);
  if (!listening.ok) {
    RestoreConfig(saved);
    return listening;
  }
  m_form = form;
  m_visible = false;
  SaveConfig(m_document);
  return {};
}

CActionResult COptionsController::ListenOnConfiguredPort(bool portChanged) {
  if (!m_listener.IsRunning()) {
    if (m_listener.Start() && m_listener.WaitUntilListening()) return {};
    return {false, kPortBusy};
  }
  if (!portChanged) return {};
  // Another spelling of the port already bound needs no new socket.
  if (ParsePortText(GetProxyPort(m_document)) == m_listener.GetPort()) return {};
  // The old port keeps serving until the new one is bound, so a busy port never
  // leaves the user without a proxy and without this panel.
  if (m_listener.MoveToConfiguredPort()) return {};
  return {false, kPortBusy};
}

void COptionsController::RestoreConfig(const CXmlNode& saved) {
  m_document.RemoveAll();
  m_document.CopyFrom(&saved);
  m_listener.SetConfig(m_document);
}

void COptionsController::Exit() {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_exited) return;
    m_listener.Stop();
    m_instantFilter.Close();
    m_exited = true;
  }
  m_exitChanged.notify_all();
}

void COptionsController::WaitForExit() {
  std::unique_lock<std::mutex> lock(m_lock);
  m_exitChanged.wait(lock, [this] { return m_exited; });
}

bool COptionsController::Command(TrayCommand command) {
  switch (command) {
    case TrayCommand::kShowOptions:
      ShowOptions();
      return true;
    case TrayCommand::kExit:
      Exit();
      return true;
    case TrayCommand::kToggleFiltering:
      ToggleFiltering();
      return true;
    case TrayCommand::kReload:
      Reload();
      return true;
    case TrayCommand::kProductUpdate:
      StartProductUpdate();
      return true;
    case TrayCommand::kStartOrPauseRecorder:
      StartOrPauseRecorder();
      return true;
    case TrayCommand::kStopRecorder:
      StopRecorder();
      return true;
    case TrayCommand::kSaveRecord:
    case TrayCommand::kInstantFiltering:
      return false;
  }
  return false;
}

void COptionsController::ShowOptions() {
  std::lock_guard<std::mutex> guard(m_lock);
  m_mayShow = true;
  m_visible = true;
}

void COptionsController::ToggleFiltering() {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_exited) return;
  m_enabled = !m_enabled;
  if (m_enabled) {
    EnableFilter(m_document);
  } else {
    DisableFilter(m_document);
  }
  SaveConfig(m_document);
  m_listener.SetConfig(m_document);
  SetTrayIconFromEnabled();
}

bool COptionsController::ToggleRule(int ruleIndex) {
  if (ruleIndex < 0 || ruleIndex >= kSwitchableRuleCount) return false;
  std::lock_guard<std::mutex> guard(m_lock);
  if (!m_rulesMenu.HasItem(ruleIndex)) return false;
  const bool checked = !m_rulesMenu.IsChecked(ruleIndex);
  m_rulesMenu.SetCheck(ruleIndex, checked);
  // Only the document changes; Hide saves it and hands it to the listener.
  if (ruleIndex >= GetRuleCount(m_document)) return true;
  CXmlNode* rule = nullptr;
  GetRule(m_document, ruleIndex, rule);
  CFilterRule(rule).SetEnabled(checked);
  return true;
}

void COptionsController::Reload() {
  CXmlNode fresh;
  if (!LoadConfig(fresh)) return;
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_exited) return;
  TakeConfigLocked(fresh);
  SetTrayIconFromEnabled();
  FillRulesMenu(m_rulesMenu, m_document);
  // A checked box stays checked: only an enabled proxy is written back.
  if (IsCorporateProxyEnabled(m_document)) m_form.corporateEnabled = true;
  if (m_mayShow) m_visible = true;
  // New connections get the edited rules at once.
  m_listener.SetConfig(m_document);
}

void COptionsController::StartOrPauseRecorder() {
  std::lock_guard<std::mutex> guard(m_lock);
  const bool recording = m_recorder.GetState() == kRecorderRecording;
  m_recorder.SetState(recording ? kRecorderPaused : kRecorderRecording);
}

void COptionsController::StopRecorder() {
  std::lock_guard<std::mutex> guard(m_lock);
  // A stopped record is closed already; closing again would add a second end.
  if (m_recorder.GetState() == kRecorderStopped) return;
  m_recorder.CloseRecord();
  m_recorder.SetState(kRecorderStopped);
}

CActionResult COptionsController::SaveRecord(const RecordDelivery& deliver) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_recorder.IsRecordEmpty()) return {false, kNothingToWrite};
  if (m_recorder.GetState() != kRecorderStopped) {
    m_recorder.CloseRecord();
    m_recorder.SetState(kRecorderStopped);
  }
  const std::string name = "record" + std::to_string(m_recordNumber) + ".xml";
  if (!deliver(name, m_recorder.GetRecordText())) return {false, ""};
  ++m_recordNumber;
  return {};
}

void COptionsController::StartProductUpdate() {
  if (!m_services.checkForUpdate) return;
  // One check at a time: a second press while one runs is ignored.
  if (m_updateRunning->exchange(true)) return;
  auto document = std::make_shared<CXmlNode>();
  CopyConfig(*document);
  try {
    std::thread([document, running = m_updateRunning, check = m_services.checkForUpdate] {
      check(*document);
      running->store(false);
    }).detach();
  } catch (const std::system_error&) {
    m_updateRunning->store(false);
  }
}

CActionResult COptionsController::SetAutorun(bool enabled) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_autorunChecked = enabled;
  if (m_services.setAutorun && m_services.setAutorun(enabled)) return {};
  return {false, std::string(enabled ? kShortcutCreateFailedText : kShortcutRemoveFailedText)};
}

bool COptionsController::OpenInstantFiltering(std::vector<std::string>& urls) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_exited || !m_instantFilter.Open(m_recorder.GetUrlHistory())) return false;
  urls = m_instantFilter.GetUrls();
  return true;
}

bool COptionsController::CloseInstantFiltering(bool cancel, std::string_view url, bool allow) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (!m_instantFilter.IsOpen()) return false;
  m_instantFilter.Close();
  if (cancel || !AddPersonalRule(m_document, url, allow)) return true;
  FillRulesMenu(m_rulesMenu, m_document);
  SaveConfig(m_document);
  m_listener.SetConfig(m_document);
  return true;
}

COptionsView COptionsController::GetView() const {
  std::lock_guard<std::mutex> guard(m_lock);
  COptionsView view;
  view.running = !m_exited;
  view.mayShow = m_mayShow;
  view.visible = m_visible;
  view.form = m_form;
  view.autorunChecked = m_autorunChecked;
  view.enabled = m_enabled;
  view.trayIconOn = m_trayIconOn;
  view.trayTip = FormatTrayTip(g_liveRelayCount.load(std::memory_order_relaxed));
  view.rules = m_rulesMenu.GetItems();
  view.recorderState = m_recorder.GetState();
  view.recordEmpty = m_recorder.IsRecordEmpty();
  view.menu = BuildTrayMenu(m_enabled, view.recorderState, view.recordEmpty);
  view.recordNumber = m_recordNumber;
  view.instantFilteringOpen = m_instantFilter.IsOpen();
  view.instantFilteringUrls = m_instantFilter.GetUrls();
  view.blockLists = GetBlockLists(m_document);
  view.blockListStatus = m_blockLists.GetStatus();
  return view;
}

int COptionsController::GetListeningPort() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_listener.GetPort();
}

void COptionsController::CopyConfig(CXmlNode& copy) const {
  std::lock_guard<std::mutex> guard(m_lock);
  copy.RemoveAll();
  copy.CopyFrom(&m_document);
}
