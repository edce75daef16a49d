// Test helpers: configuration documents written as compact XML, and traffic buffers.
#pragma once

#include <cctype>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xml_node.h"

namespace rules_test {

// Parses the small, well-formed XML the tests write: elements, attributes in
// double quotes (&lt; &gt; &amp; &quot; decoded), text; whitespace-only text is dropped.
class CTinyXml {
 public:
  explicit CTinyXml(std::string_view xml) : m_xml(xml) {}

  void ParseInto(CXmlNode& parent) {
    SkipSpace();
    while (m_at < m_xml.size() && m_xml[m_at] == '<') {
      ParseElement(parent);
      SkipSpace();
    }
  }

 private:
  void SkipSpace() {
    while (m_at < m_xml.size() && std::isspace(static_cast<unsigned char>(m_xml[m_at]))) ++m_at;
  }
  std::string ReadName() {
    const std::size_t start = m_at;
    while (m_at < m_xml.size() && !std::isspace(static_cast<unsigned char>(m_xml[m_at])) &&
           m_xml[m_at] != '>' && m_xml[m_at] != '/' && m_xml[m_at] != '=')
      ++m_at;
    return std::string(m_xml.substr(start, m_at - start));
  }
  static std::string Decode(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '&') {
        out.push_back(text[i]);
        continue;
      }
      const std::size_t semicolon = text.find(';', i);
      const std::string_view entity = text.substr(i, semicolon - i + 1);
      out.push_back(entity == "&lt;"     ? '<'
                    : entity == "&gt;"   ? '>'
                    : entity == "&quot;" ? '"'
                                         : '&');
      i = semicolon;
    }
    return out;
  }
  void ParseElement(CXmlNode& parent) {
    ++m_at;  // '<'
    CXmlNode* node = parent.AddChild(CPooledString(ReadName()));
    while (true) {
      SkipSpace();
      if (m_xml[m_at] == '/') {
        m_at += 2;  // "/>"
        return;
      }
      if (m_xml[m_at] == '>') break;
      const std::string name = ReadName();
      m_at += 2;  // '="'
      const std::size_t end = m_xml.find('"', m_at);
      node->AddAttribute(CPooledString(name),
                         CPooledString(Decode(m_xml.substr(m_at, end - m_at))));
      m_at = end + 1;
    }
    ++m_at;  // '>'
    while (true) {
      const std::size_t lt = m_xml.find('<', m_at);
      const std::string_view text = m_xml.substr(m_at, lt - m_at);
      if (text.find_first_not_of(" \t\r\n") != std::string_view::npos)
        node->SetText(CPooledString(Decode(text)));
      m_at = lt;
      if (m_xml.substr(m_at, 2) == "</") {
        m_at = m_xml.find('>', m_at) + 1;
        return;
      }
      ParseElement(*node);
    }
  }

  std::string_view m_xml;
  std::size_t m_at = 0;
};

// A configuration document with filtering on and the given filterrule elements.
inline std::unique_ptr<CXmlNode> MakeConfig(std::string_view rules, bool filterEnabled = true) {
  auto document = std::make_unique<CXmlNode>(CPooledString("__root__"));
  std::string xml = "<lumbra><enabled>";
  xml += filterEnabled ? "yes" : "no";
  xml += "</enabled><filterrules>";
  xml += rules;
  xml += "</filterrules></lumbra>";
  CTinyXml(xml).ParseInto(*document);
  return document;
}

// One enabled rule holding `conditions`.
inline std::unique_ptr<CXmlNode> MakeRule(std::string_view conditions) {
  std::string rule = "<filterrule name=\"test\"><enabled>yes</enabled>";
  rule += conditions;
  rule += "</filterrule>";
  return MakeConfig(rule);
}

// A received piece of traffic: exactly `length` bytes and the 0 byte after them,
// in a block of exactly that size, so AddressSanitizer catches any access beyond.
class CTrafficBuffer {
 public:
  explicit CTrafficBuffer(std::string_view bytes)
      : m_bytes(std::make_unique<char[]>(bytes.size() + 1)), m_length(bytes.size()) {
    bytes.copy(m_bytes.get(), bytes.size());
    m_bytes[m_length] = '\0';
  }
  char* Data() { return m_bytes.get(); }
  std::size_t Length() const { return m_length; }
  std::string Text() const { return std::string(m_bytes.get(), m_length); }
  char Terminator() const { return m_bytes[m_length]; }

 private:
  std::unique_ptr<char[]> m_bytes;
  std::size_t m_length;
};

}  // namespace rules_test
