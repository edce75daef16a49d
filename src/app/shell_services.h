// The desktop services the options controller uses: autostart entry, update check.
#pragma once

#include "app/options_controller.h"

// The XDG autostart entry and the product update check of this program.
CShellServices GetSystemShellServices();
