// A private temporary folder for one test, and whole-file reading and writing.
#pragma once

#include <string>
#include <string_view>

// Creates a fresh folder under $TMPDIR (or /tmp); on destruction removes it with
// everything in it, after giving write permission back to folders a test took it from.
class CTempFolder {
 public:
  CTempFolder();
  ~CTempFolder();
  CTempFolder(const CTempFolder&) = delete;
  CTempFolder& operator=(const CTempFolder&) = delete;

  const std::string& Path() const { return m_path; }
  std::string File(std::string_view name) const { return m_path + "/" + std::string(name); }

 private:
  std::string m_path;
};

// The whole content of a file, or an empty text when it cannot be read.
std::string ReadWholeFile(const std::string& path);
// Writes `content` as the whole file; false when it cannot be written.
bool WriteWholeFile(const std::string& path, std::string_view content);
