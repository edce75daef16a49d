// The tray menu: its items as the options window would show them right now.
#pragma once

#include <string>
#include <vector>

// Command ids of the options window and the tray menu.
enum TrayCommand : int {
  kCommandHide = 1,
  kCommandExit = 2,
  kCommandOptions = 16,
  kCommandEnableDisable = 131,
  kCommandReload = 134,
  kCommandProductUpdate = 1008,
  kCommandRecorderStart = 32774,
  kCommandRecorderStop = 32775,
  kCommandSaveRecord = 32776,
  kCommandInstantFiltering = 32777,
};

// One row: a command with its text and optional bitmap ("136", "137", "138",
// "140"), or a separator.
struct CTrayMenuItem {
  int id = 0;
  std::string text;
  std::string bitmap;
  bool separator = false;
};

// Menu 129 with item 131 named by the filtering state, the recorder items named
// and decorated by the recorder state, and the items that make no sense in that
// state removed (stop while stopped, save while recording or with nothing recorded).
std::vector<CTrayMenuItem> BuildTrayMenu(bool filterEnabled, int recorderState, bool recordEmpty);

// "lumbra(N)" with the number of running relay workers.
std::string FormatTrayTip(int liveRelayCount);
