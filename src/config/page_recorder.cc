// CPageRecorder operations: state changes, recording pages, saving the record.
#include "config/page_recorder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/percent_encoding.h"
#include "core/user_messages.h"

namespace {

struct EscapedPair {
  std::string name;
  std::string value;
};

std::vector<EscapedPair> EscapePairs(CPageRecorder::TextList names,
                                     CPageRecorder::TextList values) {
  const std::size_t count = std::min(names.size(), values.size());
  std::vector<EscapedPair> pairs;
  pairs.reserve(count);
  for (std::size_t i = 0; i < count; ++i)
    pairs.push_back({EscapeXmlText(names[i]), EscapeXmlText(values[i])});
  return pairs;
}

void WriteEmptyElements(CXmlMemoryWriter& record, std::string_view tagName,
                        const std::vector<EscapedPair>& pairs) {
  for (const EscapedPair& pair : pairs) {
    CXmlTag tag(tagName);
    tag.SetAttribute("name", pair.name);
    tag.SetAttribute("value", pair.value);
    tag.WriteEmptyTag(record, 1, true, true);
  }
}

void ShowRecordError(std::string_view what, const std::string& path, int error) {
  std::string message = "Record error. Can't ";
  message.append(what).append(" ").append(path);
  message.append(" (").append(std::to_string(static_cast<long>(error))).append(")");
  ShowAppMessage(message);
}

// Creates or empties the file and writes the text; false after showing why not.
bool WriteRecordFile(const std::string& path, const std::string& text) {
  struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wbe"));
  if (!file) {
    ShowRecordError("create", path, errno);
    return false;
  }
  int error = 0;
  if (std::fwrite(text.data(), 1, text.size(), file.get()) != text.size()) error = errno;
  // Most write errors (a full disk) only show when the buffered bytes are flushed.
  if (std::fclose(file.release()) != 0 && error == 0) error = errno;
  if (error == 0) return true;
  ShowRecordError("write", path, error);
  return false;
}

}  // namespace

void CPageRecorder::SetState(int state) {
  if (state < kRecorderStopped || state > kRecorderRecording) return;
  std::lock_guard<std::mutex> guard(m_lock);
  const int previous = m_state.exchange(state, std::memory_order_acq_rel);
  // Only a start from stopped begins a new record: a resume continues the pages,
  // and a repeated start must not throw away what is being recorded.
  if (state != kRecorderRecording || previous != kRecorderStopped) return;
  m_pageNumber = 1;
  m_record.Reset();
  m_recordClosed = false;
}

bool CPageRecorder::RecordPage(std::string_view url, TextList fieldNames, TextList fieldValues,
                               TextList headerNames, TextList headerValues) {
  if (GetState() != kRecorderRecording) return false;
  // Escaping converts the character set under the converter's own lock, so it is
  // done before this recorder's lock is taken.
  // Control characters of the URL are kept percent-encoded rather than lost.
  const std::string source = EscapeXmlText(PercentEncodeControls(url));
  const std::vector<EscapedPair> headers = EscapePairs(headerNames, headerValues);
  const std::vector<EscapedPair> fields = EscapePairs(fieldNames, fieldValues);

  std::lock_guard<std::mutex> guard(m_lock);
  // The caller looked at the state without the lock; a stop or save since then wins.
  if (GetState() != kRecorderRecording || m_recordClosed) return false;
  CXmlTag tag("url");
  // "page" and a decimal number are the same in every character set: no escaping needed.
  tag.SetAttribute("name", "page" + std::to_string(m_pageNumber++));
  tag.SetAttribute("source", source);
  tag.SetAttribute("method", fields.empty() ? "get" : "post");
  tag.WriteStartTag(m_record, 1, true, true);
  WriteEmptyElements(m_record, "header", headers);
  WriteEmptyElements(m_record, "post", fields);
  tag.WriteEndTag(m_record, -1, true, true);
  return true;
}

void CPageRecorder::CloseRecord() {
  std::lock_guard<std::mutex> guard(m_lock);
  CloseRecordLocked();
}

void CPageRecorder::CloseRecordLocked() {
  // A page arriving after the close would open a second document in the same
  // buffer; the closed flag keeps the record one complete document.
  m_record.CloseDocument();
  m_recordClosed = true;
}

bool CPageRecorder::IsRecordEmpty() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_record.GetBuffer().IsEmpty();
}

std::string CPageRecorder::GetRecordText() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_record.GetBuffer().ToString();
}

bool CPageRecorder::SaveRecord(const std::string& path) {
  std::string text;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_record.GetBuffer().IsEmpty()) {
      if (GetState() != kRecorderStopped) {
        CloseRecordLocked();
        m_state.store(kRecorderStopped, std::memory_order_release);
      }
      text = m_record.GetBuffer().ToString();
    }
  }
  // Messages and disk writes happen outside the lock, which the proxy's workers
  // wait on to record pages and note URLs.
  if (text.empty()) {
    ShowAppMessage("Nothing to write on disk.");
    return false;
  }
  return WriteRecordFile(path, text);
}

CPageRecorder& GetPageRecorder() {
  alignas(CPageRecorder) static unsigned char storage[sizeof(CPageRecorder)];
  static CPageRecorder* const recorder = ::new (storage) CPageRecorder();
  return *recorder;
}
