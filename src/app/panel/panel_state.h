// The JSON texts the control panel answers with.
#pragma once

#include <string>
#include <vector>

#include "app/options_controller.h"
#include "app/panel/dialog_queue.h"

// GET /api/state: the options, the tray icon and menu, the rules, the recorder,
// the waiting dialogs and the Instant filtering dialog.
std::string BuildPanelStateJson(const COptionsView& view, const std::vector<CPanelDialog>& dialogs);
