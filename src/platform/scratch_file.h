// A uniquely named scratch file in the temporary folder, removed after use.
#pragma once

#include <string>

class CScratchFile {
 public:
  // Creates an empty file named `prefix` plus a unique ending in $TMPDIR (when it
  // holds an absolute path) or /tmp. Check IsCreated.
  explicit CScratchFile(const std::string& prefix);
  // Removes the file.
  ~CScratchFile();
  CScratchFile(const CScratchFile&) = delete;
  CScratchFile& operator=(const CScratchFile&) = delete;

  bool IsCreated() const { return !m_path.empty(); }
  const std::string& GetPath() const { return m_path; }

 private:
  std::string m_path;
};
