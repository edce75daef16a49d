// Header values and the request URL, found without parsing the protocol.
#include "rules/traffic_fields.h"

std::optional<std::string_view> FindHeaderValue(const CTrafficText& text,
                                                const CSearchNeedle& name) {
  const std::string_view all = text.GetText();
  std::size_t at = text.Find(name, 0);
  if (at == CTrafficText::npos) return std::nullopt;
  at += name.GetText().size();
  while (at < all.size() && (all[at] == ':' || all[at] == ' ')) ++at;
  std::size_t end = at;
  while (end < all.size() && all[end] != ' ' && all[end] != '\r' && all[end] != '\n') ++end;
  if (end == at) return std::nullopt;
  return all.substr(at, end - at);
}

std::optional<std::string_view> FindRequestUrl(const CTrafficText& text) {
  if (text.FindByte('\n', 0, text.GetTextEnd()) == CTrafficText::npos) return std::nullopt;
  const std::string_view all = text.GetText();
  std::size_t at = all.find(' ');
  if (at == std::string_view::npos) return std::nullopt;
  while (at < all.size() && all[at] == ' ') ++at;
  const std::size_t end = all.find(' ', at);
  const std::string_view token = all.substr(at, end == std::string_view::npos ? end : end - at);
  if (token.empty()) return std::nullopt;
  return token;
}

std::optional<std::string_view> CRequestUrlReader::Read(const CTrafficText& text) {
  if (!m_read || m_writeCount != text.GetWriteCount()) {
    m_read = true;
    m_writeCount = text.GetWriteCount();
    m_url = FindRequestUrl(text);
  }
  return m_url;
}

std::optional<std::string_view> CHeaderValueReader::Read(const CTrafficText& text,
                                                         const CSearchNeedle& name) {
  if (m_writeCount != text.GetWriteCount()) {
    m_writeCount = text.GetWriteCount();
    m_count = 0;
  }
  for (std::size_t i = 0; i < m_count; ++i)
    if (m_entries[i].name == name.GetText()) return m_entries[i].value;
  const std::optional<std::string_view> value = FindHeaderValue(text, name);
  if (m_count < kKeptNames) m_entries[m_count++] = {name.GetText(), value};
  return value;
}
