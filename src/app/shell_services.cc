// The desktop services the options controller uses: autostart entry, update check.
#include "app/shell_services.h"

#include "app/startup_shortcut.h"
#include "app/update_check.h"

CShellServices GetSystemShellServices() {
  return {
      [] { return CStartupShortcut().Exists(); },
      [](bool enabled) {
        const CStartupShortcut shortcut;
        return enabled ? shortcut.Create() : shortcut.Remove();
      },
      [](const CXmlNode& document) { CheckForUpdate(document); },
  };
}
