// XML output: tag formatting, the file and memory sinks, escaping and tree output.
#include "xml/xml_writer.h"

#include <algorithm>
#include <cerrno>

#include "core/code_page.h"
#include "xml/xml_node.h"

namespace {

constexpr std::string_view kLineEnd = "\r\n";
// Stands in for a control character that XML 1.0 forbids even as a reference.
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";
constexpr std::string_view kWrapperName = "tarvisk";

// Indentation stops growing here: a file nested a hundred thousand levels deep
// would otherwise be saved as gigabytes of spaces. Real documents stay far below.
constexpr int kMaxIndent = 128;

void AppendIndent(std::string& out, int level) {
  out.append(static_cast<std::size_t>(std::clamp(level, 0, kMaxIndent)), ' ');
}

// The escaped form of one byte, or nothing when the byte goes out as it is.
// Line breaks and tabs become references: the reader works line by line, and
// other readers turn them into spaces inside attribute values.
std::string_view EscapeOf(char c) {
  switch (c) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '"':
      return "&quot;";
    case '\'':
      return "&apos;";
    case '\t':
      return "&#9;";
    case '\n':
      return "&#10;";
    case '\r':
      return "&#13;";
  }
  return static_cast<unsigned char>(c) < 0x20 ? kReplacementCharacter : std::string_view();
}

// An element's text, escaped. The reader takes text made of spaces alone for
// indentation, so such a text starts with a reference to keep it.
std::string EscapeElementText(const CPooledString& text) {
  std::string escaped = EscapeXmlText(text);
  if (!escaped.empty() && escaped.find_first_not_of(' ') == std::string::npos)
    escaped.replace(0, 1, "&#32;");
  return escaped;
}

bool WriteText(CXmlFileWriter& sink, const std::string& text) {
  return sink.Write(text.data(), text.size());
}

// The declaration every document of the program starts with.
CXmlTag MakeDeclarationTag() {
  CXmlTag tag("xml");
  tag.SetAttribute("version", "1.0");
  tag.SetAttribute("encoding", "UTF-8");
  return tag;
}

CXmlTag MakeElementTag(const CXmlNode& node) {
  // Element names go out as stored; attribute names and values are escaped.
  CXmlTag tag(node.GetName().View());
  for (int i = 0; i < node.GetAttributeCount(); ++i)
    tag.SetAttribute(EscapeXmlText(node.GetAttributeName(i)),
                     EscapeXmlText(node.GetAttributeValue(i)));
  return tag;
}

// Writes everything of `node` that comes before its children: the whole element
// when it has none. Sets `childrenFollow` when its end tag is still to come.
// The text goes on the start tag's line, where the reader cannot mistake the
// children's indentation for part of it.
bool WriteElementOpening(CXmlFileWriter& sink, const CXmlNode& node, bool& childrenFollow) {
  const CXmlTag tag = MakeElementTag(node);
  childrenFollow = node.GetChildCount() > 0;
  const std::string text = EscapeElementText(node.GetText());
  if (text.empty() && !childrenFollow) return tag.WriteEmptyTag(sink, 1, true, true);
  if (!tag.WriteStartTag(sink, 1, true, false) || !WriteText(sink, text)) return false;
  if (childrenFollow) return WriteText(sink, std::string(kLineEnd));
  return tag.WriteEndTag(sink, -1, false, true);
}

}  // namespace

void CXmlTag::SetAttribute(std::string_view name, std::string_view value) {
  for (std::size_t i = 0; i < m_attributeNames.size(); ++i) {
    if (m_attributeNames[i] == name) {
      m_attributeValues[i] = value;
      return;
    }
  }
  m_attributeNames.emplace_back(name);
  m_attributeValues.emplace_back(value);
}

void CXmlTag::AppendNameAndAttributes(std::string& out) const {
  out += m_name;
  for (std::size_t i = 0; i < m_attributeNames.size(); ++i) {
    out += ' ';
    out += m_attributeNames[i];
    out += "=\"";
    out += m_attributeValues[i];
    out += '"';
  }
}

bool CXmlTag::WriteStartTag(CXmlFileWriter& sink, int levelStep, bool indent, bool lineEnd) const {
  sink.SetLevel(sink.GetLevel() + levelStep);
  std::string text;
  if (indent) AppendIndent(text, sink.GetLevel());
  text += '<';
  AppendNameAndAttributes(text);
  text += '>';
  if (lineEnd) text += kLineEnd;
  return WriteText(sink, text);
}

bool CXmlTag::WriteEmptyTag(CXmlFileWriter& sink, int levelStep, bool indent, bool lineEnd) const {
  sink.SetLevel(sink.GetLevel() + levelStep);
  std::string text;
  if (indent) AppendIndent(text, sink.GetLevel());
  text += '<';
  AppendNameAndAttributes(text);
  text += "/>";
  if (lineEnd) text += kLineEnd;
  const bool written = WriteText(sink, text);
  sink.SetLevel(sink.GetLevel() - levelStep);
  return written;
}

bool CXmlTag::WriteDeclaration(CXmlFileWriter& sink, int levelStep) const {
  sink.SetLevel(sink.GetLevel() + levelStep);
  std::string text;
  AppendIndent(text, sink.GetLevel());
  text += "<?";
  AppendNameAndAttributes(text);
  text += "?>";
  text += kLineEnd;
  return WriteText(sink, text);
}

bool CXmlTag::WriteEndTag(CXmlFileWriter& sink, int levelStep, bool indent, bool lineEnd) const {
  std::string text;
  if (indent) AppendIndent(text, sink.GetLevel());
  text += "</";
  text += m_name;
  text += '>';
  if (lineEnd) text += kLineEnd;
  const bool written = WriteText(sink, text);
  sink.SetLevel(sink.GetLevel() + levelStep);
  return written;
}

bool CXmlFileWriter::Write(const char* bytes, std::size_t length) {
  if (bytes == nullptr || length == 0) return true;
  return WriteToFile(std::string_view(bytes, length));
}

bool CXmlFileWriter::Write(const char* text) {
  return WriteToFile(text == nullptr ? std::string_view() : std::string_view(text));
}

bool CXmlFileWriter::Close() {
  bool ok = !m_writeFailed;
  if (m_file && std::fclose(m_file.release()) != 0) ok = false;
  m_opened = false;
  m_declarationWritten = false;
  m_level = 0;
  m_writeFailed = false;
  return ok;
}

void CXmlFileWriter::WriteDeclarationLine() {
  // Flag first: the declaration itself goes through Write.
  m_declarationWritten = true;
  const int savedLevel = m_level;
  m_level = 0;
  MakeDeclarationTag().WriteDeclaration(*this, 0);
  m_level = savedLevel;
}

bool CXmlFileWriter::OpenFile() {
  if (m_opened) return true;
  if (m_fileName.IsEmpty()) {
    errno = ENOENT;
    return false;
  }
  // "e": the descriptor must not leak into programs started later (the updater).
  m_file.reset(std::fopen(m_fileName.GetText(), "wbe"));
  if (!m_file) return false;
  m_opened = true;
  m_writeFailed = false;
  return true;
}

bool CXmlFileWriter::WriteToFile(std::string_view bytes) {
  if (!OpenFile()) return false;
  if (!m_declarationWritten) WriteDeclarationLine();
  if (bytes.empty()) return true;
  if (std::fwrite(bytes.data(), 1, bytes.size(), m_file.get()) != bytes.size()) {
    m_writeFailed = true;
    return false;
  }
  return true;
}

bool CXmlMemoryWriter::Write(const char* bytes, std::size_t length) {
  if (bytes == nullptr || length == 0) return true;
  return Append(std::string_view(bytes, length));
}

bool CXmlMemoryWriter::Write(const char* text) {
  return Append(text == nullptr ? std::string_view() : std::string_view(text));
}

bool CXmlMemoryWriter::Close() {
  CloseDocument();
  m_level = 0;
  return true;
}

void CXmlMemoryWriter::CloseDocument() {
  if (!m_declarationWritten) return;
  m_level = 0;
  CXmlTag(kWrapperName).WriteEndTag(*this, 0, true, true);
  m_declarationWritten = false;
}

void CXmlMemoryWriter::Reset() {
  m_buffer.Clear();
  m_declarationWritten = false;
}

bool CXmlMemoryWriter::Append(std::string_view text) {
  if (!m_declarationWritten) OpenDocument();
  m_buffer.Append(text);
  return true;
}

void CXmlMemoryWriter::OpenDocument() {
  const int savedLevel = m_level;
  WriteDeclarationLine();
  m_level = 0;
  CXmlTag(kWrapperName).WriteStartTag(*this, 0, true, true);
  m_level = savedLevel;
}

std::string EscapeXmlText(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  if (text.empty()) return {};
  // Converted first: every byte escaped below is ASCII, which no UTF-8 sequence
  // of another character contains.
  const std::string utf8 = NarrowToUtf8(text);
  std::string escaped;
  escaped.reserve(utf8.size() + utf8.size() / 8 + 8);
  for (char c : utf8) {
    const std::string_view replacement = EscapeOf(c);
    if (replacement.empty()) {
      escaped += c;
    } else {
      escaped += replacement;
    }
  }
  return escaped;
}

std::string EscapeXmlText(const CPooledString& text) { return EscapeXmlText(text.View()); }

bool WriteXmlNode(CXmlFileWriter& sink, const CXmlNode& node) {
  // An explicit stack of open elements and the next child of each: the depth of
  // the tree comes from a file and must not be the depth of the call stack.
  struct OpenElement {
    const CXmlNode* node;
    int nextChild;
  };
  std::vector<OpenElement> open;
  bool childrenFollow = false;
  if (!WriteElementOpening(sink, node, childrenFollow)) return false;
  if (childrenFollow) open.push_back({&node, 0});
  while (!open.empty()) {
    OpenElement& top = open.back();
    if (top.nextChild < top.node->GetChildCount()) {
      const CXmlNode* child = top.node->GetChild(top.nextChild++);
      if (!WriteElementOpening(sink, *child, childrenFollow)) return false;
      if (childrenFollow) open.push_back({child, 0});
      continue;
    }
    if (!CXmlTag(top.node->GetName().View()).WriteEndTag(sink, -1, true, true)) return false;
    open.pop_back();
  }
  return true;
}
