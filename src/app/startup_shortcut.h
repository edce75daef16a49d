// Start with the desktop session: the "Run Lumbra" autostart entry.
#pragma once

#include <string_view>

// Shown by the options controller when Create fails.
inline constexpr std::string_view kShortcutCreateFailedText =
    "Failed to add the shortcut to Lumbra in the Windows startup menu. Probably a privilege issue.";
// Shown by the options controller when Remove fails.
inline constexpr std::string_view kShortcutRemoveFailedText =
    "Failed to remove the shortcut to Lumbra from the Windows startup menu. Probably a privilege "
    "issue.";

// The entry starts the running program. Its file is the only record of the
// "Autorun with Windows" setting.
// Every operation chooses its folder afresh: the shared autostart folder when
// the user may write it, else the user's own.
class CStartupShortcut {
 public:
  bool Exists() const;
  // Success without touching the file when it already exists.
  bool Create() const;
  // Success when there is no entry.
  bool Remove() const;
};
