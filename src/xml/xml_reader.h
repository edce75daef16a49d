// XML input: the line tokenizer, the tree builder and reader-side decoding.
#pragma once

#include <fstream>
#include <string_view>
#include <string>

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

// Line-oriented tokenizer for the XML subset the program writes.
class CXmlParser {
 public:
  CXmlParser() = default;
  virtual ~CXmlParser();
  CXmlParser(const CXmlParser&) = delete;
  CXmlParser& operator=(const CXmlParser&) = delete;

  // True when a token or step was produced; false at end of file, when the file
  // cannot be opened, or on an error (then GetLastError holds the message).
  virtual bool NextToken();

  void SetFileName(const CPooledString& fileName);  // only while not open
  void SetShowErrors(bool show) { m_showErrors = show; }
  void Close();

  int GetTokenKind() const { return m_tokenKind; }
  const CPooledString& GetElementName() const { return m_elementName; }
  const CPooledString& GetText() const { return m_text; }
  const CPooledString& GetAttributeName() const { return m_attributeName; }
  const CPooledString& GetAttributeValue() const { return m_attributeValue; }
  const CHeapString& GetDeclaration() const { return m_declaration; }
  const CHeapString& GetLastError() const { return m_lastError; }
  int GetLineNumber() const { return m_lineNumber; }

 private:
  bool TokenizeLine(std::string& message);

  std::ifstream m_file;
  bool m_open = false;
  CPooledString m_fileName;
  bool m_showErrors = false;
  CHeapString m_lastError;
  CHeapString m_line;
  int m_position = -1;
  int m_lineNumber = 0;
  int m_tokenKind = kXmlNothing;
  CPooledString m_elementName;
  CPooledString m_text;
  CPooledString m_attributeName;
  CPooledString m_attributeValue;
  CHeapString m_declaration;
  bool m_inComment = false;
  bool m_inCData = false;
  bool m_inTag = false;
  bool m_afterEquals = false;
  bool m_inContent = false;
};

// Reads the file and appends its elements under `document`. Parse errors are
// always shown; see the builder's rules for the result.
bool LoadXmlFile(const char* fileName, bool showErrors, CXmlNode& document);

// UTF-8 to the narrow set, then "&lt;" "&quot;" "&amp;" replaced once each.
std::string DecodeXmlText(std::string_view text);
