// XML output: the tag builder, the file and memory sinks, escaping, tree output.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/heap_string.h"
#include "core/pooled_string.h"

class CXmlNode;
class CXmlFileWriter;

// Formats one tag with the fixed indentation scheme (one space per level, CR LF
// line ends) and hands it to a sink as one Write call. Names and values are
// written exactly as given: escaping is the caller's job (EscapeXmlText).
//
// The tag owns plain copies of its texts rather than pooled strings, so that
// per-request texts (recorded URLs and headers) never stay in the string pool.
class CXmlTag {
 public:
  explicit CXmlTag(std::string_view name) : m_name(name) {}

  // Replaces the value of an attribute with exactly this name (case included),
  // or appends the pair.
  void SetAttribute(std::string_view name, std::string_view value);

  // Each returns what the sink's Write returned.
  bool WriteStartTag(CXmlFileWriter& sink, int levelStep, bool indent, bool lineEnd) const;
  bool WriteEmptyTag(CXmlFileWriter& sink, int levelStep, bool indent, bool lineEnd) const;
  // Leaves the level stepped: the sinks save and restore it around the declaration.
  bool WriteDeclaration(CXmlFileWriter& sink, int levelStep) const;
  bool WriteEndTag(CXmlFileWriter& sink, int levelStep, bool indent, bool lineEnd) const;

 private:
  void AppendNameAndAttributes(std::string& out) const;

  std::string m_name;
  std::vector<std::string> m_attributeNames;
  std::vector<std::string> m_attributeValues;
};

// Sink writing straight into a file (binary, created or emptied), opened on the
// first non-empty write, with the declaration line written once per opening.
class CXmlFileWriter {
 public:
  CXmlFileWriter() = default;
  explicit CXmlFileWriter(const CPooledString& fileName) : m_fileName(fileName) {}
  virtual ~CXmlFileWriter() = default;
  CXmlFileWriter(const CXmlFileWriter&) = delete;
  CXmlFileWriter& operator=(const CXmlFileWriter&) = delete;

  // A missing pointer or a length of 0 does nothing and returns true. False when
  // the file cannot be opened (opened stays false) or the bytes cannot be written.
  virtual bool Write(const char* bytes, std::size_t length);
  // Unlike the bytes form, an empty text still opens the file and emits the declaration.
  virtual bool Write(const char* text);

  // Closes the file if open; clears the opened and declaration flags and the level.
  // False when a write since the opening, or the closing flush, failed.
  virtual bool Close();

  bool IsOpened() const { return m_opened; }
  bool IsDeclarationWritten() const { return m_declarationWritten; }
  // A caller writing a complete document of its own sets this before the first write.
  void SetDeclarationWritten(bool written) { m_declarationWritten = written; }
  int GetLevel() const { return m_level; }
  void SetLevel(int level) { m_level = level; }

 protected:
  // Writes the declaration line at level 0 and marks it written; the level is kept.
  void WriteDeclarationLine();

  bool m_opened = false;
  bool m_declarationWritten = false;
  int m_level = 0;

 private:
  bool WriteToFile(std::string_view bytes);
  bool OpenFile();

  struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, FileCloser> m_file;
  CPooledString m_fileName;
  bool m_writeFailed = false;
};

// Sink collecting the document in memory, wrapped in its own "tarvisk" element.
// It never touches a file; its declaration flag tells that the document is open
// (declaration line and wrapper start tag are in the buffer).
class CXmlMemoryWriter : public CXmlFileWriter {
 public:
  CXmlMemoryWriter() = default;
  ~CXmlMemoryWriter() override = default;

  bool Write(const char* bytes, std::size_t length) override;
  bool Write(const char* text) override;
  // Closes the document and resets the level; the buffer keeps its text.
  bool Close() override;

  // Appends the wrapper's end tag when the document was opened.
  void CloseDocument();
  // Empties the buffer; the next write starts a new document. The level stays.
  void Reset();
  const CHeapString& GetBuffer() const { return m_buffer; }

 private:
  bool Append(std::string_view text);
  void OpenDocument();

  CHeapString m_buffer;
};

// Converted from the narrow set to UTF-8, then made safe for an attribute value
// or an element's text: "&" "<" ">" "\"" "'" become entity references, tab, LF
// and CR character references, and every other control character, which XML 1.0
// forbids, U+FFFD. The text ends at its first NUL byte, as every text of the
// program does.
std::string EscapeXmlText(std::string_view text);
std::string EscapeXmlText(const CPooledString& text);

// Writes a node and its subtree (the configuration file layout), starting at the
// sink's current level. Stops at the first failed write and returns false.
bool WriteXmlNode(CXmlFileWriter& sink, const CXmlNode& node);
