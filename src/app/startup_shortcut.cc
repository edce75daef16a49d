// The "Run Lumbra" autostart entry.
#include "app/startup_shortcut.h"

#include "platform/autostart_entry.h"
#include "platform/program_path.h"

namespace {

constexpr std::string_view kShortcutName = "Run Lumbra";
constexpr std::string_view kShortcutDescription =
    "Lumbra shortcun to run the tool when Windows starts";

std::string ShortcutFileName() { return std::string(kShortcutName) + ".desktop"; }

}  // namespace

bool CStartupShortcut::Exists() const {
  return AutostartEntryExists(ChooseAutostartFolder(), ShortcutFileName());
}

bool CStartupShortcut::Create() const {
  std::string folder = ChooseAutostartFolder();
  if (AutostartEntryExists(folder, ShortcutFileName())) return true;
  std::string program = GetProgramPath();
  if (program.empty()) return false;
  AutostartEntry entry{std::string(kShortcutName), std::string(kShortcutDescription), program};
  return WriteAutostartEntry(folder, ShortcutFileName(), entry);
}

bool CStartupShortcut::Remove() const {
  std::string folder = ChooseAutostartFolder();
  if (!AutostartEntryExists(folder, ShortcutFileName())) return true;
  return RemoveAutostartEntry(folder, ShortcutFileName());
}
