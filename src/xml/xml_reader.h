// XML input: the line tokenizer, the tree builder and reader-side decoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>

#include "core/heap_string.h"
#include "core/pooled_string.h"

class CXmlNode;

// Token kinds delivered by CXmlParser::NextToken.
enum XmlTokenKind : int {
  kXmlNothing = 0,
  kXmlStartElement = 1,
  kXmlEndElement = 2,
  kXmlAttribute = 3,
  kXmlText = 4,
  kXmlDeclaration = 5,
  kXmlComment = 6,
  kXmlCData = 7,
};

// Line-oriented tokenizer for the XML subset the program writes, reading its lines
// from a file or from text in memory alike. Each call takes one step on the
// current line: it delivers a token, moves on in the line, reads the next line,
// or fails, so every input ends after finitely many calls.
class CXmlParser {
 public:
  // `input` must outlive the parser.
  explicit CXmlParser(std::istream& input) : m_input(input) {}
  virtual ~CXmlParser() = default;
  CXmlParser(const CXmlParser&) = delete;
  CXmlParser& operator=(const CXmlParser&) = delete;

  // True when a token or step was produced; false at the end of the input or on
  // an error (then GetLastError holds the message).
  virtual bool NextToken();

  void SetShowErrors(bool show) { m_showErrors = show; }

  int GetTokenKind() const { return m_tokenKind; }
  const CPooledString& GetElementName() const { return m_elementName; }
  const CPooledString& GetText() const { return m_text; }
  const CPooledString& GetAttributeName() const { return m_attributeName; }
  const CPooledString& GetAttributeValue() const { return m_attributeValue; }
  const CHeapString& GetDeclaration() const { return m_declaration; }
  const CHeapString& GetLastError() const { return m_lastError; }
  std::int64_t GetLineNumber() const { return m_lineNumber; }

 private:
  bool ReadLine();
  void ReportError(std::string_view message);

  // One step on the current line; false with `message` set on a syntax error.
  bool TokenizeLine(std::string& message);
  void CloseSection(std::string_view line, std::size_t i, std::string_view terminator, int kind);
  void CollectAttributeValue(std::string_view line, std::size_t i);
  void CollectText(std::string_view line, std::size_t i);
  bool ReadMarkup(std::string_view line, std::size_t i, std::string& message);
  bool ReadTagStart(std::string_view line, std::size_t i, std::string& message);
  bool ReadAttributePart(std::string_view line, std::size_t i, std::string& message);

  std::istream& m_input;
  bool m_showErrors = false;
  CHeapString m_lastError;
  std::string m_readBuffer;  // the raw line, reused so long lines are not reallocated
  CHeapString m_line;
  std::ptrdiff_t m_position = -1;  // -1: a new line is needed
  std::int64_t m_lineNumber = 0;
  int m_tokenKind = kXmlNothing;
  CPooledString m_elementName;
  CPooledString m_text;
  CPooledString m_attributeName;
  CPooledString m_attributeValue;
  // The attribute value being collected, possibly over several lines. Kept out of
  // the pool until complete, so a value spanning many lines costs linear time.
  std::string m_valueBuffer;
  // An attribute name was read in the open tag and no "=" has used it yet.
  bool m_attributeNamePending = false;
  CHeapString m_declaration;
  bool m_inComment = false;
  bool m_inCData = false;
  bool m_inTag = false;
  bool m_afterEquals = false;
  bool m_inContent = false;
};

// Reads the file and appends its elements under `document`. Parse errors are
// always shown; the tree builder's own errors only when `showErrors` is set.
// True also after a parse error (the tree up to the faulty line stays) and for a
// file that cannot be opened; false for unbalanced end tags or exhausted memory.
bool LoadXmlFile(const char* fileName, bool showErrors, CXmlNode& document);
// The same for XML text in memory: the tree and the messages are those of a file
// holding `text`.
bool LoadXmlText(std::string_view text, bool showErrors, CXmlNode& document);

// The five predefined entities and the decimal and hexadecimal character
// references replaced in one pass (a reference to a character XML does not allow
// stays as written), then UTF-8 to the narrow set.
std::string DecodeXmlText(std::string_view text);
