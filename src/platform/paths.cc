// Per-user folders from the XDG base-directory variables.
#include "platform/paths.h"

#include <cstdlib>

#include "platform/account_names.h"

namespace {

// The XDG base-directory rules treat an unset, empty or relative value as absent.
std::string GetAbsolutePathVariable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') return {};
  return value;
}

// The folder an XDG variable names, else the one below the home folder; empty
// when no home folder is known.
std::string GetXdgFolder(const char* variable, const char* belowHome) {
  std::string folder = GetAbsolutePathVariable(variable);
  if (!folder.empty()) return folder;
  const std::string home = GetHomeFolder();
  return home.empty() ? std::string() : JoinPath(home, belowHome);
}

}  // namespace

std::string GetHomeFolder() {
  std::string home = GetAbsolutePathVariable("HOME");
  if (!home.empty()) return home;
  return GetAccountHomeFolder();
}

std::string GetUserConfigHome() { return GetXdgFolder("XDG_CONFIG_HOME", ".config"); }

std::string GetRuntimeFolder() {
  std::string runtime = GetAbsolutePathVariable("XDG_RUNTIME_DIR");
  return runtime.empty() ? std::string("/tmp") : runtime;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string GetUserDataHome() { return GetXdgFolder("XDG_DATA_HOME", ".local/share"); }
