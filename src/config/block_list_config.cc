// The block lists of the configuration: read, added, removed and switched in place.
#include "config/block_list_config.h"

#include "core/ascii.h"
#include "core/pooled_string.h"
#include "xml/xml_node.h"

namespace {

constexpr char kListsElement[] = "blocklists";
constexpr char kListElement[] = "list";

CXmlNode* FindLists(const CXmlNode& document) {
  if (document.GetChildCount() == 0) return nullptr;
  CXmlNode* root = document.FindChild("lumbra");
  return root != nullptr ? root->FindChild(kListsElement) : nullptr;
}

// The position among all children of the `index`-th "list" child, or -1.
int FindListPosition(const CXmlNode& lists, int index) {
  int seen = 0;
  for (int position = 0; position < lists.GetChildCount(); ++position) {
    if (!EqualsNoCase(lists.GetChild(position)->GetName().View(), kListElement)) continue;
    if (seen++ == index) return position;
  }
  return -1;
}

}  // namespace

std::vector<CBlockListEntry> GetBlockLists(const CXmlNode& document) {
  std::vector<CBlockListEntry> entries;
  const CXmlNode* lists = FindLists(document);
  if (lists == nullptr) return entries;
  for (int position = 0; position < lists->GetChildCount(); ++position) {
    const CXmlNode* list = lists->GetChild(position);
    if (!EqualsNoCase(list->GetName().View(), kListElement)) continue;
    entries.push_back({list->GetAttribute("name").ToString(), list->GetAttribute("url").ToString(),
                       EqualsNoCase(list->GetAttribute("enabled").View(), "yes")});
  }
  return entries;
}

bool AddBlockList(CXmlNode& document, const CBlockListEntry& entry) {
  if (document.GetChildCount() == 0) return false;
  CXmlNode* root = document.FindChild("lumbra");
  if (root == nullptr) return false;
  CXmlNode* lists = root->FindChild(kListsElement);
  if (lists == nullptr) lists = root->AddChild(CPooledString(kListsElement));
  CXmlNode* list = lists != nullptr ? lists->AddChild(CPooledString(kListElement)) : nullptr;
  if (list == nullptr) return false;
  list->SetAttribute(CPooledString("name"), CPooledString(entry.name));
  list->SetAttribute(CPooledString("url"), CPooledString(entry.url));
  list->SetAttribute(CPooledString("enabled"), CPooledString(entry.enabled ? "yes" : "no"));
  return true;
}

bool RemoveBlockList(CXmlNode& document, int index) {
  CXmlNode* lists = FindLists(document);
  const int position = lists != nullptr ? FindListPosition(*lists, index) : -1;
  if (position < 0) return false;
  lists->RemoveChild(position);
  return true;
}

bool SetBlockListEnabled(CXmlNode& document, int index, bool enabled) {
  CXmlNode* lists = FindLists(document);
  const int position = lists != nullptr ? FindListPosition(*lists, index) : -1;
  if (position < 0) return false;
  lists->GetChild(position)->SetAttribute(CPooledString("enabled"),
                                          CPooledString(enabled ? "yes" : "no"));
  return true;
}
