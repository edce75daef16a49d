// The block lists of the configuration: the "blocklists" element of "lumbra".
#pragma once

#include <string>
#include <vector>

class CXmlNode;

// One "list" element: <list name="..." url="..." enabled="yes"/>.
struct CBlockListEntry {
  std::string name;
  std::string url;
  bool enabled = false;
};

// Every "list" child of "blocklists", in file order; empty when there is none.
std::vector<CBlockListEntry> GetBlockLists(const CXmlNode& document);
// Appends a list, adding "blocklists" to "lumbra" when it is missing. False when
// the document has no "lumbra" element.
bool AddBlockList(CXmlNode& document, const CBlockListEntry& entry);
// `index` counts the "list" children as GetBlockLists does; false when there is
// no such list.
bool RemoveBlockList(CXmlNode& document, int index);
bool SetBlockListEnabled(CXmlNode& document, int index, bool enabled);
