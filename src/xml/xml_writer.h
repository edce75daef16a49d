// XML output: the tag builder, the file and memory sinks, escaping, tree output.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/heap_string.h"
#include "core/pooled_string.h"

class CXmlNode;
class CXmlFileWriter;

// Formats one tag with the fixed indentation scheme (one space per level, CR LF
// line ends) and hands it to a sink as one Write call.
class CXmlTag {
 public:
  explicit CXmlTag(const CPooledString& name);

  // Replaces the value of an attribute with exactly this name (case included),
  // or appends the pair.
  void SetAttribute(const CPooledString& name, const CPooledString& value);

  bool WriteStartTag(CXmlFileWriter& sink, int levelStep, bool indent, bool lineEnd) const;
  bool WriteEmptyTag(CXmlFileWriter& sink, int levelStep, bool indent, bool lineEnd) const;
  bool WriteDeclaration(CXmlFileWriter& sink, int levelStep) const;
  bool WriteEndTag(CXmlFileWriter& sink, int levelStep, bool indent, bool lineEnd) const;

 private:
  void AppendAttributes(std::string& out) const;

  CPooledString m_name;
  std::vector<CPooledString> m_attributeNames;
  std::vector<CPooledString> m_attributeValues;
};

// Sink writing straight into a file, opened on the first non-empty write, with
// the declaration line written once per opening.
class CXmlFileWriter {
 public:
  CXmlFileWriter() = default;
  explicit CXmlFileWriter(const CPooledString& fileName) : m_fileName(fileName) {}
  virtual ~CXmlFileWriter();
  CXmlFileWriter(const CXmlFileWriter&) = delete;
  CXmlFileWriter& operator=(const CXmlFileWriter&) = delete;

  virtual bool Write(const char* bytes, std::size_t length);
  virtual bool Write(const char* text);

  // Takes effect only while the file is not open.
  void SetFileName(const CPooledString& fileName);
  // Closes the file if open; clears the opened and declaration flags and the level.
  virtual void Close();

  bool IsOpened() const { return m_opened; }
  bool IsDeclarationWritten() const { return m_declarationWritten; }
  void SetDeclarationWritten(bool written) { m_declarationWritten = written; }
  int GetLevel() const { return m_level; }
  void SetLevel(int level) { m_level = level; }

 protected:
  bool m_opened = false;
  bool m_declarationWritten = false;
  int m_level = 0;

 private:
  struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, FileCloser> m_file;
  CPooledString m_fileName;
};

// Sink collecting the document in memory, wrapped in its own "tarvisk" element.
class CXmlMemoryWriter : public CXmlFileWriter {
 public:
  CXmlMemoryWriter() = default;
  ~CXmlMemoryWriter() override = default;

  bool Write(const char* bytes, std::size_t length) override;
  bool Write(const char* text) override;
  void Close() override;

  // Appends the wrapper's end tag when the document was opened.
  void CloseDocument();
  // Empties the buffer; the next write starts a new document.
  void Reset();
  const CHeapString& GetBuffer() const { return m_buffer; }

 private:
  void OpenDocument();

  CHeapString m_buffer;
};

// "&" "\"" "<" escaped, then converted from the narrow set to UTF-8.
std::string EscapeXmlText(const char* text);
std::string EscapeXmlText(const CPooledString& text);

// Writes a node and its subtree (the configuration file layout).
void WriteXmlNode(CXmlFileWriter& sink, const CXmlNode& node);
