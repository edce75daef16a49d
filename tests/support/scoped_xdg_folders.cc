// Per-test XDG folders and environment variables.
#include "support/scoped_xdg_folders.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace {

int RemoveEntry(const char* path, const struct stat*, int, FTW*) {
  std::remove(path);
  return 0;
}

std::string MakeTempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/lumbra-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return buffer.data();
}

}  // namespace

CScopedXdgFolders::CScopedXdgFolders() : m_base(MakeTempFolder()) {
  mkdir(GetConfigHome().c_str(), 0700);
  mkdir(GetRuntimeFolder().c_str(), 0700);
  if (const char* old = std::getenv("XDG_CONFIG_HOME")) {
    m_hadConfigHome = true;
    m_oldConfigHome = old;
  }
  if (const char* old = std::getenv("XDG_RUNTIME_DIR")) {
    m_hadRuntimeFolder = true;
    m_oldRuntimeFolder = old;
  }
  setenv("XDG_CONFIG_HOME", GetConfigHome().c_str(), 1);
  setenv("XDG_RUNTIME_DIR", GetRuntimeFolder().c_str(), 1);
}

CScopedXdgFolders::~CScopedXdgFolders() {
  if (m_hadConfigHome) {
    setenv("XDG_CONFIG_HOME", m_oldConfigHome.c_str(), 1);
  } else {
    unsetenv("XDG_CONFIG_HOME");
  }
  if (m_hadRuntimeFolder) {
    setenv("XDG_RUNTIME_DIR", m_oldRuntimeFolder.c_str(), 1);
  } else {
    unsetenv("XDG_RUNTIME_DIR");
  }
  // Tests may have taken write permission away; give it back before removing.
  chmod(GetConfigHome().c_str(), 0700);
  nftw(m_base.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

CScopedEnvironmentVariable::CScopedEnvironmentVariable(const char* name, const char* value)
    : m_name(name) {
  if (const char* old = std::getenv(name)) {
    m_hadValue = true;
    m_oldValue = old;
  }
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

CScopedEnvironmentVariable::~CScopedEnvironmentVariable() {
  if (m_hadValue) {
    setenv(m_name.c_str(), m_oldValue.c_str(), 1);
  } else {
    unsetenv(m_name.c_str());
  }
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}
