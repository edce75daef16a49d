// The desktop services the options controller uses: autostart entry, update check.
#include "app/shell_services.h"

CShellServices GetSystemShellServices() { return {}; }
