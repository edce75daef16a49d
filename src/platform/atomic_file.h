// Replacing a file as a whole: a temporary file beside it, flushed to disk, then
// renamed over it, so that a crash or a full disk never leaves a truncated file.
#pragma once

#include <string>
#include <string_view>

// Who may read and write a file that a replacement creates.
enum class FileAccess {
  kLikeTarget,  // the mode of the file replaced, or the usual one for a first file
  kOwnerOnly,   // the owner alone, from the moment the file exists
};

// A temporary file in the target's folder (a rename never crosses file
// systems). It is removed on destruction unless it was committed. Others may
// write it by name too (GetPath); Commit flushes whatever the file holds.
class CTempFile {
 public:
  // Creates an empty temporary file beside `targetPath`. When the target is a
  // symbolic link, the file it leads to is the one that will be replaced.
  explicit CTempFile(const std::string& targetPath, FileAccess access = FileAccess::kLikeTarget);
  ~CTempFile();
  CTempFile(const CTempFile&) = delete;
  CTempFile& operator=(const CTempFile&) = delete;

  // False when the file could not be created (errno says why).
  bool IsCreated() const { return !m_path.empty(); }
  const std::string& GetPath() const { return m_path; }

  // Writes all bytes at the end of the file; false on any failure (errno set).
  bool Append(std::string_view bytes);
  // Flushes the file to disk and renames it over the target. On false the
  // target is untouched and errno says why.
  bool Commit();
  // Like Commit, but only when no file of the target's name exists: false with
  // errno EEXIST otherwise, and the existing file stays as it is.
  bool CommitAsNew();

 private:
  std::string m_targetPath;
  std::string m_path;
  int m_descriptor = -1;
  bool m_committed = false;

  bool FlushAndClose();
};

// Removes what interrupted replacements of `targetPath` (a crash, kill -9) left
// behind: the temporary files of its own naming in its folder, unless they
// belong to a replacement still running in this or another process. Every other
// file stays.
void RemoveLeftoverTempFiles(const std::string& targetPath);

// Replaces the file at `path` by `bytes`. On false the old file is untouched and
// errno says why.
bool ReplaceFileAtomically(const std::string& path, std::string_view bytes);

// Creates the file at `path` holding `bytes`, complete or not at all; never
// replaces an existing file (false with errno EEXIST).
bool CreateFileAtomically(const std::string& path, std::string_view bytes, FileAccess access);
