// The tray menu: its commands, their names, and its items as the options window
// would show them right now.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the tray menu and the options window's buttons ask the program to do
// (reload also comes from SIGHUP).
enum class TrayCommand {
  kShowOptions,
  kExit,
  kToggleFiltering,
  kReload,
  kProductUpdate,
  kStartOrPauseRecorder,
  kStopRecorder,
  kSaveRecord,
  kInstantFiltering,
};

// The command's name in the control panel's JSON, such as "stop-recorder".
std::string_view GetTrayCommandName(TrayCommand command);
// The command of that name; nullopt for a name that names none.
std::optional<TrayCommand> FindTrayCommand(std::string_view name);

// One row: a command with its text and an optional image (a file of the page),
// or a separator, which has no command.
struct CTrayMenuItem {
  std::optional<TrayCommand> command;
  std::string text;
  std::string image;
};

// The tray menu with "&Disable" or "&Enable" by the filtering state, the recorder
// row named and decorated by the recorder state, and the rows that make no sense
// in that state left out (stop while stopped, save while recording or with
// nothing recorded).
std::vector<CTrayMenuItem> BuildTrayMenu(bool filterEnabled, int recorderState, bool recordEmpty);

// "lumbra(N)" with the number of running relay workers.
std::string FormatTrayTip(int liveRelayCount);
