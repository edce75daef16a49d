// Scratch files through mkstemp.
#include "platform/scratch_file.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/paths.h"

namespace {

std::string GetTempFolder() {
  const char* folder = std::getenv("TMPDIR");
  if (folder == nullptr || folder[0] != '/') return "/tmp";
  return folder;
}

}  // namespace

CScratchFile::CScratchFile(const std::string& prefix) {
  std::string pattern = JoinPath(GetTempFolder(), prefix + "XXXXXX");
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int descriptor = mkstemp(name.data());
  if (descriptor < 0) return;
  close(descriptor);
  m_path = name.data();
}

CScratchFile::~CScratchFile() {
  if (IsCreated()) unlink(m_path.c_str());
}
