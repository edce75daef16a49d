// Per-test XDG folders and environment variables.
#include "support/scoped_xdg_folders.h"

#include <sys/stat.h>

#include <cstdlib>

CScopedXdgFolders::CScopedXdgFolders() {
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
