// XDG autostart entries (Desktop Entry files in an autostart folder).
#include "platform/autostart_entry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "platform/atomic_file.h"
#include "platform/directory.h"
#include "platform/file_status.h"
#include "platform/paths.h"

namespace {

constexpr std::string_view kAutostartSubfolder = "autostart";
constexpr std::string_view kDefaultConfigDirs = "/etc/xdg";

std::string FirstAbsoluteConfigDir() {
  const char* value = std::getenv("XDG_CONFIG_DIRS");
  std::string_view dirs = value != nullptr ? value : "";
  // Relative entries are invalid and ignored; none left means the default.
  while (!dirs.empty()) {
    std::size_t colon = dirs.find(':');
    std::string_view dir = dirs.substr(0, colon);
    if (!dir.empty() && dir.front() == '/') return std::string(dir);
    if (colon == std::string_view::npos) break;
    dirs.remove_prefix(colon + 1);
  }
  return std::string(kDefaultConfigDirs);
}

bool IsWritableFolder(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return false;
  return faccessat(AT_FDCWD, path.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::string ParentOf(const std::string& path) {
  std::size_t slash = path.find_last_not_of('/');
  slash = slash == std::string::npos ? std::string::npos : path.rfind('/', slash);
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool CreateAutostartFolder(const std::string& folder) {
  struct stat status {};
  if (stat(folder.c_str(), &status) == 0) return S_ISDIR(status.st_mode);
  if (!CreateDirectories(ParentOf(folder))) return false;
  return mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
}

// Characters that make the Exec program need double quotes.
bool NeedsExecQuotes(char c) {
  return std::string_view(" \t\n\"'\\><~|&;$*?#()`").find(c) != std::string_view::npos;
}

// Exec's own quoting: inside double quotes, ", `, $ and \ take a backslash.
std::string QuoteExecArgument(std::string_view argument) {
  bool quote = false;
  for (char c : argument) quote = quote || NeedsExecQuotes(c);
  std::string quoted;
  if (quote) quoted.push_back('"');
  for (char c : argument) {
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) quoted.push_back('\\');
    // A lone "%" would start a field code.
    if (c == '%') quoted.push_back('%');
    quoted.push_back(c);
  }
  if (quote) quoted.push_back('"');
  return quoted;
}

// The escapes of every string value, applied after Exec's own quoting.
std::string EscapeStringValue(std::string_view value) {
  std::string escaped;
  for (char c : value) {
    switch (c) {
      case '\\':
        escaped += "\\\\";
        break;
      case '\n':
        escaped += "\\n";
        break;
      case '\t':
        escaped += "\\t";
        break;
      case '\r':
        escaped += "\\r";
        break;
      default:
        escaped.push_back(c);
    }
  }
  return escaped;
}

}  // namespace

std::string GetUserAutostartFolder() {
  std::string configHome = GetUserConfigHome();
  if (configHome.empty()) return {};
  return JoinPath(configHome, std::string(kAutostartSubfolder));
}

std::string GetSharedAutostartFolder() {
  return JoinPath(FirstAbsoluteConfigDir(), std::string(kAutostartSubfolder));
}

bool MayWriteAutostartFolder(const std::string& folder) {
  if (PathExists(folder)) return IsWritableFolder(folder);
  return IsWritableFolder(ParentOf(folder));
}

std::string ChooseAutostartFolder() {
  std::string shared = GetSharedAutostartFolder();
  if (MayWriteAutostartFolder(shared)) return shared;
  return GetUserAutostartFolder();
}

std::string FormatAutostartEntry(const AutostartEntry& entry) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=" +
         EscapeStringValue(entry.name) +
         "\n"
         "Comment=" +
         EscapeStringValue(entry.comment) +
         "\n"
         "Exec=" +
         EscapeStringValue(QuoteExecArgument(entry.program)) + "\n";
}

bool AutostartEntryExists(const std::string& folder, const std::string& fileName) {
  if (folder.empty()) return false;
  return PathExists(JoinPath(folder, fileName));
}

bool WriteAutostartEntry(const std::string& folder, const std::string& fileName,
                         const AutostartEntry& entry) {
  if (folder.empty() || !CreateAutostartFolder(folder)) return false;
  return ReplaceFileAtomically(JoinPath(folder, fileName), FormatAutostartEntry(entry));
}

bool RemoveAutostartEntry(const std::string& folder, const std::string& fileName) {
  if (folder.empty()) return false;
  return unlink(JoinPath(folder, fileName).c_str()) == 0 || errno == ENOENT;
}
