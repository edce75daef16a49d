// The options controller's block-list commands: adding, removing, switching and
// fetching the lists of the configuration.
#include <string>

#include "app/options_controller.h"
#include "config/block_list_config.h"
#include "config/config_store.h"
#include "core/ascii.h"

namespace {

constexpr char kNoName[] = "Give the list a name.";
constexpr char kBadUrl[] = "The address must start with http://, https:// or file://.";
constexpr char kKnownUrl[] = "This list is already there.";
// Beyond this a name or an address is a mistake, not a list.
constexpr std::size_t kMaxTextLength = 2048;

}  // namespace

CActionResult COptionsController::AddBlockList(std::string_view name, std::string_view url) {
  const std::string listName(TrimBlanks(name, " \t\r\n"));
  const std::string listUrl(TrimBlanks(url, " \t\r\n"));
  if (listName.empty() || listName.size() > kMaxTextLength) return {false, kNoName};
  if (listUrl.size() > kMaxTextLength || !IsBlockListUrl(listUrl)) return {false, kBadUrl};
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_exited) return {false, {}};
  for (const CBlockListEntry& list : GetBlockLists(m_document))
    if (list.url == listUrl) return {false, kKnownUrl};
  if (!::AddBlockList(m_document, {listName, listUrl, true})) return {false, {}};
  ApplyBlockListChange();
  return {};
}

bool COptionsController::RemoveBlockList(int index) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_exited || !::RemoveBlockList(m_document, index)) return false;
  ApplyBlockListChange();
  return true;
}

bool COptionsController::SetBlockListEnabled(int index, bool enabled) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_exited || !::SetBlockListEnabled(m_document, index, enabled)) return false;
  ApplyBlockListChange();
  return true;
}

void COptionsController::UpdateBlockLists() { m_blockLists.UpdateNow(); }

void COptionsController::ApplyBlockListChange() {
  SaveConfig(m_document);
  m_blockLists.Configure(GetBlockLists(m_document));
}
