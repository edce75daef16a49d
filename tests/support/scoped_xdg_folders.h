// A private configuration home and runtime folder for one test.
#pragma once

#include <string>

#include "support/temp_folder.h"

// Creates a fresh temporary folder holding "config" and "runtime", points
// XDG_CONFIG_HOME and XDG_RUNTIME_DIR at them, and on destruction restores the
// previous values and removes the folder with everything in it.
class CScopedXdgFolders {
 public:
  CScopedXdgFolders();
  ~CScopedXdgFolders();
  CScopedXdgFolders(const CScopedXdgFolders&) = delete;
  CScopedXdgFolders& operator=(const CScopedXdgFolders&) = delete;

  const std::string& GetBase() const { return m_base.Path(); }
  std::string GetConfigHome() const { return m_base.File("config"); }
  std::string GetRuntimeFolder() const { return m_base.File("runtime"); }

 private:
  CTempFolder m_base;
  bool m_hadConfigHome = false;
  bool m_hadRuntimeFolder = false;
  std::string m_oldConfigHome;
  std::string m_oldRuntimeFolder;
};

// Sets or (with nullptr) unsets an environment variable until destruction.
class CScopedEnvironmentVariable {
 public:
  CScopedEnvironmentVariable(const char* name, const char* value);
  ~CScopedEnvironmentVariable();
  CScopedEnvironmentVariable(const CScopedEnvironmentVariable&) = delete;
  CScopedEnvironmentVariable& operator=(const CScopedEnvironmentVariable&) = delete;

 private:
  std::string m_name;
  bool m_hadValue = false;
  std::string m_oldValue;
};
