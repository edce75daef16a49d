// COptionsController: the options window's logic, behind whatever shows it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/action_result.h"
#include "app/block_list_updater.h"
#include "app/https_filtering.h"
#include "app/instant_filtering.h"
#include "app/rules_menu.h"
#include "app/tray_menu.h"
#include "proxy/proxy_listener.h"
#include "xml/xml_node.h"

class CPageRecorder;

// What the options window asks of the desktop: the autostart entry and the
// product update check. Tests hand in their own.
struct CShellServices {
  std::function<bool()> autorunExists;
  // Creates (true) or removes (false) the autostart entry; true on success.
  std::function<bool(bool enabled)> setAutorun;
  // Runs the whole update check; called on a thread of its own.
  std::function<void(const CXmlNode& document)> checkForUpdate;
};

// The values of the options form, as the user left them.
struct COptionsForm {
  std::string port;
  bool corporateEnabled = false;
  std::string corporateUrl;
  std::string corporatePort;
  bool allowLocalNetwork = false;
};

// Everything the options window, the tray icon and the tray menu show now.
struct COptionsView {
  bool running = false;
  bool mayShow = false;
  bool visible = false;
  COptionsForm form;
  bool autorunChecked = false;
  bool enabled = false;
  bool trayIconOn = false;
  std::string trayTip;
  std::vector<CMenuButton::CItem> rules;
  std::vector<CTrayMenuItem> menu;
  int recorderState = 0;
  bool recordEmpty = true;
  int recordNumber = 1;
  bool instantFilteringOpen = false;
  std::vector<std::string> instantFilteringUrls;
  // The configured block lists and, beside each, what loading and fetching it gave.
  std::vector<CBlockListEntry> blockLists;
  std::vector<CBlockListStatus> blockListStatus;
  // HTTPS filtering, and the sites the configuration's rules suggest for it.
  CHttpsFilteringStatus httpsFiltering;
  std::vector<std::string> httpsSuggestions;
};

// Owns the configuration document, the proxy listener and the dialog state, and
// carries out every command of the options window and the tray menu. Handlers
// may be called from any thread; one lock runs them one at a time, as the one
// user-interface thread would.
class COptionsController {
 public:
  // Delivers a saved record ("record<N>.xml" and its text); true when delivered.
  using RecordDelivery = std::function<bool(const std::string& fileName, const std::string& text)>;

  COptionsController(CShellServices services, CPageRecorder& recorder);
  COptionsController(const COptionsController&) = delete;
  COptionsController& operator=(const COptionsController&) = delete;

  // Replaces the document with a copy of `document` and reads the form from it.
  void TakeConfig(const CXmlNode& document);
  // Sets the tray icon, starts the listener, fills the rules menu and reads the
  // check boxes. False when the listener cannot listen on the configured port.
  bool Initialize();

  // Applies the form: validates the port, sets the corporate proxy, the local
  // network switch and the port, hands the listener the configuration (moving it
  // on a port change), hides the options and saves. On failure nothing changes.
  CActionResult Hide(const COptionsForm& form);
  // Stops the listener and ends the run: WaitForExit returns.
  void Exit();
  void WaitForExit();

  // Carries out a command that needs no input; false for one that does (saving
  // the record, Instant filtering).
  bool Command(TrayCommand command);
  // Switches the rule at `ruleIndex` in the rules menu; saved by the next Hide.
  // False when the menu has no such item or cannot switch it.
  bool ToggleRule(int ruleIndex);
  // Reads the file again; the listener gets the new configuration too.
  void Reload();
  // Hands the record to `deliver`; the record number advances when it was delivered.
  CActionResult SaveRecord(const RecordDelivery& deliver);
  // Creates or removes the autostart entry; the check box keeps the user's state.
  CActionResult SetAutorun(bool enabled);

  // Opens the dialog over the URL history; false while one is open.
  bool OpenInstantFiltering(std::vector<std::string>& urls);
  // OK (`cancel` false) adds the URL to "Personal rules", saves and hands the
  // listener the configuration; an empty URL changes nothing. False when no
  // dialog is open.
  bool CloseInstantFiltering(bool cancel, std::string_view url, bool allow);

  // Block lists: each change is saved at once and the lists are loaded again in
  // the background; a new list is fetched.
  CActionResult AddBlockList(std::string_view name, std::string_view url);
  bool RemoveBlockList(int index);
  bool SetBlockListEnabled(int index, bool enabled);
  void UpdateBlockLists();

  // HTTPS filtering: each change is saved at once and reaches the proxy.
  // Switching on makes the certificate authority when none exists; a failure to
  // make or load it is the message.
  CActionResult SetHttpsFilteringEnabled(bool enabled);
  // Replaces the chosen sites; an entry that is no domain name or IP address is
  // refused with a message, and then nothing changes.
  CActionResult SetHttpsSites(const std::vector<std::string>& sites);
  CActionResult InstallHttpsCertificate();
  CActionResult RemoveHttpsCertificate();
  // Switches HTTPS filtering off, takes the certificate out of the browser
  // stores and deletes the authority.
  CActionResult RemoveHttpsAuthority();
  // The authority's certificate as PEM; empty while there is none.
  std::string GetHttpsCertificatePem() const;

  COptionsView GetView() const;
  int GetListeningPort() const;

 private:
  void TakeConfigLocked(const CXmlNode& document);
  // Saves the document and hands its lists to the updater.
  void ApplyBlockListChange();
  // Saves the document and hands its HTTPS filtering settings on.
  CActionResult ApplyHttpsFilteringChange();
  void SetTrayIconFromEnabled();
  CActionResult ListenOnConfiguredPort(bool portChanged);
  void RestoreConfig(const CXmlNode& saved);
  void CopyConfig(CXmlNode& copy) const;
  void ShowOptions();
  void ToggleFiltering();
  void StartOrPauseRecorder();
  void StopRecorder();
  // Starts the update check on a thread of its own, unless one runs already.
  void StartProductUpdate();

  mutable std::mutex m_lock;
  std::condition_variable m_exitChanged;
  CShellServices m_services;
  CPageRecorder& m_recorder;

  CXmlNode m_document;
  CProxyListener m_listener;
  COptionsForm m_form;
  bool m_autorunChecked = false;
  bool m_enabled = true;
  bool m_mayShow = false;
  bool m_visible = false;
  bool m_trayIconOn = true;
  bool m_exited = false;
  int m_recordNumber = 1;
  CMenuButton m_rulesMenu;
  CInstantFilterDialog m_instantFilter;
  std::shared_ptr<std::atomic<bool>> m_updateRunning;
  CBlockListUpdater m_blockLists;
  CHttpsFiltering m_https;
};
