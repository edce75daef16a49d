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

}  // namespace

std::string GetHomeFolder() {
  std::string home = GetAbsolutePathVariable("HOME");
  if (!home.empty()) return home;
  return GetAccountHomeFolder();
}

std::string GetUserConfigHome() {
  std::string configHome = GetAbsolutePathVariable("XDG_CONFIG_HOME");
  if (!configHome.empty()) return configHome;
  std::string home = GetHomeFolder();
  if (home.empty()) return {};
  return JoinPath(home, ".config");
}

std::string GetRuntimeFolder() {
  std::string runtime = GetAbsolutePathVariable("XDG_RUNTIME_DIR");
  return runtime.empty() ? std::string("/tmp") : runtime;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string GetUserDataHome() {
  std::string dataHome = GetAbsolutePathVariable("XDG_DATA_HOME");
  if (!dataHome.empty()) return dataHome;
  std::string home = GetHomeFolder();
  if (home.empty()) return {};
  return JoinPath(home, ".local/share");
}
