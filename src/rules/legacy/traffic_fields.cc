// The filter as it was before the rules were compiled, kept while the two are compared.
// Header values and the request URL, found without parsing the protocol.
#include "rules/legacy/traffic_fields.h"

#include "core/ascii.h"

namespace legacy {
namespace {

void AssignLower(std::string_view text, std::string& out) {
  out.assign(text);
  for (char& c : out) c = AsciiToLower(c);
}

}  // namespace

bool FindHeaderValue(const CTrafficText& text, std::string_view name, std::string& value) {
  const std::string_view all = text.GetText();
  std::size_t at = FindNoCase(all, name, 0);
  if (at == std::string_view::npos) return false;
  at += name.size();
  while (at < all.size() && (all[at] == ':' || all[at] == ' ')) ++at;
  std::size_t end = at;
  while (end < all.size() && all[end] != ' ' && all[end] != '\r' && all[end] != '\n') ++end;
  if (end == at) return false;
  AssignLower(all.substr(at, end - at), value);
  return true;
}

bool FindRequestUrl(const CTrafficText& text, std::string& url) {
  const std::string_view all = text.GetText();
  std::size_t at = all.find(' ');
  if (at == std::string_view::npos) return false;
  while (at < all.size() && all[at] == ' ') ++at;
  const std::size_t end = all.find(' ', at);
  const std::string_view token = all.substr(at, end == std::string_view::npos ? end : end - at);
  if (token.empty()) return false;
  AssignLower(token, url);
  return true;
}

std::optional<std::string_view> CRequestUrlReader::Read(const CTrafficText& text) {
  if (!m_read || m_writeCount != text.GetWriteCount()) {
    m_read = true;
    m_writeCount = text.GetWriteCount();
    m_found = text.FindByte('\n', 0, text.GetTextEnd()) != CTrafficText::npos &&
              FindRequestUrl(text, m_url);
  }
  if (!m_found) return std::nullopt;
  return std::string_view(m_url);
}

bool CHeaderValueReader::Read(const CTrafficText& text, std::string_view name, std::string& value) {
  if (m_writeCount != text.GetWriteCount()) {
    m_writeCount = text.GetWriteCount();
    m_entries.clear();
  }
  for (const Entry& entry : m_entries) {
    if (entry.name != name) continue;
    if (entry.found) value = entry.value;
    return entry.found;
  }
  Entry entry{std::string(name)};
  entry.found = FindHeaderValue(text, name, entry.value);
  if (entry.found) value = entry.value;
  m_entries.push_back(std::move(entry));
  return m_entries.back().found;
}

}  // namespace legacy
