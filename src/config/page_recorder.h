// CPageRecorder: the XML record of the requests that pass while the user records.
#pragma once

#include <atomic>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "config/url_history.h"
#include "xml/xml_writer.h"

enum RecorderState : int {
  kRecorderStopped = 0,
  kRecorderPaused = 1,
  kRecorderRecording = 2,
};

// The record is one "url" element per request (attributes name "page<n>", source,
// method "get" or "post") holding an empty "header" element per header line and
// then a "post" element per form field, each with "name" and "value"; "url" sits
// at one space of indentation, its children at two, lines end with CR LF. The
// memory writer wraps the elements in its declaration and "tarvisk" element.
//
// Every operation, the URL history's included, takes the one recorder lock; only
// GetState reads without it.
class CPageRecorder {
 public:
  using TextList = std::span<const std::string_view>;

  CPageRecorder() = default;
  CPageRecorder(const CPageRecorder&) = delete;
  CPageRecorder& operator=(const CPageRecorder&) = delete;

  // kRecorderStopped, kRecorderPaused or kRecorderRecording; read without the lock.
  int GetState() const { return m_state.load(std::memory_order_acquire); }
  // A move to recording from stopped starts a new record at page1; from paused it
  // resumes. Values other than the three states are ignored.
  void SetState(int state);

  // Appends one request: its URL, its form fields and its header lines, each as
  // two parallel lists (extra entries of the longer list are ignored). Records
  // only while recording and before the record was closed; true when recorded.
  bool RecordPage(std::string_view url, TextList fieldNames, TextList fieldValues,
                  TextList headerNames, TextList headerValues);

  // Closes the record document; later pages are not recorded until a new start.
  void CloseRecord();
  bool IsRecordEmpty() const;
  // A copy of the record text (a complete document once closed).
  std::string GetRecordText() const;

  // Closes the record and stops when recording or paused, then writes the record
  // to `path`. Shows a message and returns false on failure or an empty record.
  bool SaveRecord(const std::string& path);

  CUrlHistory& GetUrlHistory() { return m_urlHistory; }

 private:
  void CloseRecordLocked();

  mutable std::mutex m_lock;
  std::atomic<int> m_state{kRecorderStopped};
  CXmlMemoryWriter m_record;
  int m_pageNumber = 1;
  bool m_recordClosed = false;
  CUrlHistory m_urlHistory{m_lock};
};

// The one recorder of the process. Never destroyed: detached connection threads
// may still record while the process ends.
CPageRecorder& GetPageRecorder();
