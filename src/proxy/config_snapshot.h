// CConfigSnapshot: one configuration as the proxy workers use it, shared by every
// connection accepted while it was the listener's.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "proxy/proxy_settings.h"
#include "xml/xml_node.h"

// What a worker remembers between pieces of its traffic: the open-element depth
// of every content element of the rules, in document order.
using COpenDepths = std::vector<std::int32_t>;

// The settings, read once, and a few working copies of the rules document. The
// filter keeps per-worker state (open-element depths) in the document's content
// nodes, so a worker borrows a copy for the length of one filter call: its own
// depths are loaded into the copy, and saved back when the lease ends. No copy is
// ever used by two threads at once, and a thousand open connections share a
// handful of copies instead of holding one each.
class CConfigSnapshot {
 public:
  explicit CConfigSnapshot(const CXmlNode& document);
  CConfigSnapshot(const CConfigSnapshot&) = delete;
  CConfigSnapshot& operator=(const CConfigSnapshot&) = delete;

  const CProxySettings& GetSettings() const { return m_settings; }
  // The document as it was given; never changed, so any thread may read it.
  const CXmlNode& GetDocument() const { return m_master; }

  struct CWorkingCopy {
    CXmlNode document;
    std::vector<CXmlNode*> contentNodes;
  };

  // A working copy lent to one worker; returned to the snapshot on destruction.
  class CLease {
   public:
    CLease(CConfigSnapshot& owner, std::unique_ptr<CWorkingCopy> copy, COpenDepths& depths);
    ~CLease();
    CLease(const CLease&) = delete;
    CLease& operator=(const CLease&) = delete;
    CXmlNode& GetDocument() { return m_copy->document; }

   private:
    CConfigSnapshot& m_owner;
    std::unique_ptr<CWorkingCopy> m_copy;
    COpenDepths& m_depths;
  };

  // Lends a working copy with `depths` loaded into it (a depth list of the wrong
  // size, such as a new worker's empty one, starts with no element open).
  CLease Borrow(COpenDepths& depths);

  // Copies kept for reuse; more are made while more workers filter at once.
  static constexpr std::size_t kMaxIdleCopies = 16;

 private:
  std::unique_ptr<CWorkingCopy> MakeCopy() const;
  void Return(std::unique_ptr<CWorkingCopy> copy);

  // Both written by the constructor only.
  CXmlNode m_master;
  CProxySettings m_settings;
  std::mutex m_lock;
  std::vector<std::unique_ptr<CWorkingCopy>> m_idle;
};
