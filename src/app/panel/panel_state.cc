// The JSON texts the control panel answers with.
#include "app/panel/panel_state.h"

#include <nlohmann/json.hpp>

#include "app/panel/panel_json.h"
#include "proxy/block_counters.h"

namespace {

using nlohmann::json;

json OptionsJson(const COptionsView& view) {
  return {{"port", ToJsonText(view.form.port)},
          {"corporateEnabled", view.form.corporateEnabled},
          {"corporateUrl", ToJsonText(view.form.corporateUrl)},
          {"corporatePort", ToJsonText(view.form.corporatePort)},
          {"allowLocalNetwork", view.form.allowLocalNetwork},
          {"autorun", view.autorunChecked}};
}

json RulesJson(const COptionsView& view) {
  json rules = json::array();
  for (const CMenuButton::CItem& item : view.rules)
    rules.push_back(
        {{"index", item.id}, {"name", ToJsonText(item.text)}, {"checked", item.checked}});
  return rules;
}

json MenuJson(const COptionsView& view) {
  json menu = json::array();
  for (const CTrayMenuItem& item : view.menu) {
    if (!item.command) {
      menu.push_back({{"separator", true}});
      continue;
    }
    json entry = {{"command", std::string(GetTrayCommandName(*item.command))}, {"text", item.text}};
    if (!item.image.empty()) entry["image"] = item.image;
    menu.push_back(std::move(entry));
  }
  return menu;
}

json DialogsJson(const std::vector<CPanelDialog>& dialogs) {
  json list = json::array();
  for (const CPanelDialog& dialog : dialogs)
    list.push_back({{"id", dialog.id},
                    {"caption", ToJsonText(dialog.caption)},
                    {"text", ToJsonText(dialog.text)},
                    {"kind", dialog.yesNo ? "yesno" : "ok"}});
  return list;
}

json InstantFilteringJson(const COptionsView& view) {
  if (!view.instantFilteringOpen) return nullptr;
  return {{"open", true}, {"urls", ToJsonTexts(view.instantFilteringUrls)}};
}

json BlockListsJson(const COptionsView& view) {
  json lists = json::array();
  for (std::size_t index = 0; index < view.blockLists.size(); ++index) {
    const CBlockListEntry& list = view.blockLists[index];
    const CBlockListStatus status =
        index < view.blockListStatus.size() ? view.blockListStatus[index] : CBlockListStatus{};
    lists.push_back({{"index", index},
                     {"name", ToJsonText(list.name)},
                     {"url", ToJsonText(list.url)},
                     {"enabled", list.enabled},
                     {"domains", status.domains},
                     {"exceptions", status.exceptions},
                     {"skipped", status.skipped},
                     {"updatedAt", status.updatedAt ? json(*status.updatedAt) : json(nullptr)},
                     {"error", ToJsonText(status.error)},
                     {"fetching", status.fetching}});
  }
  return lists;
}

const char* AuthorityStateName(AuthorityState state) {
  switch (state) {
    case AuthorityState::kReady:
      return "ready";
    case AuthorityState::kDamaged:
      return "damaged";
    case AuthorityState::kAbsent:
      break;
  }
  return "absent";
}

// The stores and certutil are null until certutil has been asked.
json HttpsFilteringJson(const COptionsView& view) {
  const CHttpsFilteringStatus& status = view.httpsFiltering;
  json stores = nullptr;
  if (status.stores) {
    stores = json::array();
    for (const CBrowserStoreState& store : *status.stores)
      stores.push_back({{"name", ToJsonText(store.name)}, {"holds", store.holdsCertificate}});
  }
  return {{"enabled", status.settings.enabled},
          {"sites", ToJsonTexts(status.settings.sites)},
          {"suggestions", ToJsonTexts(view.httpsSuggestions)},
          {"authority",
           {{"state", AuthorityStateName(status.authority.state)},
            {"reason", ToJsonText(status.authority.reason)},
            {"fingerprint", status.fingerprint},
            {"certificatePath", ToJsonText(status.certificatePath)}}},
          {"certutil", status.certutilAvailable ? json(*status.certutilAvailable) : json(nullptr)},
          {"stores", stores}};
}

// The counters since start; the page shows the ten most blocked hosts.
json BlockedJson() {
  const CBlockCountsView counts = GetBlockCounters().GetView(10);
  json hosts = json::array();
  for (const CBlockedHost& host : counts.topHosts)
    hosts.push_back({{"host", ToJsonText(host.host)}, {"count", host.count}});
  return {{"byRules", counts.byRules}, {"byLists", counts.byLists}, {"topHosts", hosts}};
}

}  // namespace

std::string BuildPanelStateJson(const COptionsView& view,
                                const std::vector<CPanelDialog>& dialogs) {
  const json state = {
      {"version", LUMBRA_VERSION_TEXT},
      {"running", view.running},
      {"mayShow", view.mayShow},
      {"visible", view.visible},
      {"options", OptionsJson(view)},
      {"enabled", view.enabled},
      {"tray", {{"icon", view.trayIconOn ? "on" : "off"}, {"tip", view.trayTip}}},
      {"rules", RulesJson(view)},
      {"menu", MenuJson(view)},
      {"recorder",
       {{"state", view.recorderState},
        {"empty", view.recordEmpty},
        {"recordNumber", view.recordNumber}}},
      {"dialogs", DialogsJson(dialogs)},
      {"instantFiltering", InstantFilteringJson(view)},
      {"blockLists", BlockListsJson(view)},
      {"blocked", BlockedJson()},
      {"httpsFiltering", HttpsFilteringJson(view)},
  };
  return DumpJson(state);
}
