// The tray menu: its commands, their names, and its items as the options window
// would show them right now.
#include "app/tray_menu.h"

#include <cstdio>
#include <utility>

#include "config/page_recorder.h"

namespace {

constexpr std::pair<TrayCommand, std::string_view> kCommandNames[] = {
    {TrayCommand::kShowOptions, "show-options"},
    {TrayCommand::kExit, "exit"},
    {TrayCommand::kToggleFiltering, "toggle-filtering"},
    {TrayCommand::kReload, "reload"},
    {TrayCommand::kProductUpdate, "product-update"},
    {TrayCommand::kStartOrPauseRecorder, "start-or-pause-recorder"},
    {TrayCommand::kStopRecorder, "stop-recorder"},
    {TrayCommand::kSaveRecord, "save-record"},
    {TrayCommand::kInstantFiltering, "instant-filtering"},
};

constexpr char kEnableText[] = "&Enable";
constexpr char kDisableText[] = "&Disable";
constexpr char kStartRecorderText[] = "&Start recorder";
constexpr char kResumeRecorderText[] = "Resume recorder";
constexpr char kPauseRecorderText[] = "&Pause recorder";

// Images of the page that decorate the recorder rows.
constexpr char kImageRecorderStart[] = "icon-recorder-start.png";
constexpr char kImageRecorderPause[] = "icon-recorder-pause.png";
constexpr char kImageRecorderStop[] = "icon-recorder-stop.png";
constexpr char kImageSaveRecord[] = "icon-save-record.png";

// The recorder row: what it does next, by the recorder's state.
CTrayMenuItem RecorderItem(int recorderState) {
  switch (recorderState) {
    case kRecorderPaused:
      return {TrayCommand::kStartOrPauseRecorder, kResumeRecorderText, kImageRecorderPause};
    case kRecorderRecording:
      return {TrayCommand::kStartOrPauseRecorder, kPauseRecorderText, kImageRecorderPause};
    default:
      return {TrayCommand::kStartOrPauseRecorder, kStartRecorderText, kImageRecorderStart};
  }
}

}  // namespace

std::string_view GetTrayCommandName(TrayCommand command) {
  for (const auto& [known, name] : kCommandNames)
    if (known == command) return name;
  return {};
}

std::optional<TrayCommand> FindTrayCommand(std::string_view name) {
  for (const auto& [command, known] : kCommandNames)
    if (known == name) return command;
  return std::nullopt;
}

std::vector<CTrayMenuItem> BuildTrayMenu(bool filterEnabled, int recorderState, bool recordEmpty) {
  const bool stopped = recorderState != kRecorderPaused && recorderState != kRecorderRecording;
  const bool canSave = recorderState == kRecorderPaused || (stopped && !recordEmpty);
  const CTrayMenuItem separator;
  std::vector<CTrayMenuItem> menu = {
      {TrayCommand::kShowOptions, "&Options", ""}, separator, RecorderItem(recorderState)};
  if (!stopped) menu.push_back({TrayCommand::kStopRecorder, "&Stop recorder", kImageRecorderStop});
  if (canSave) menu.push_back({TrayCommand::kSaveRecord, "Save record as...", kImageSaveRecord});
  menu.push_back({TrayCommand::kInstantFiltering, "&Instant filtering", ""});
  menu.push_back({TrayCommand::kToggleFiltering, filterEnabled ? kDisableText : kEnableText, ""});
  menu.push_back(separator);
  menu.push_back({TrayCommand::kExit, "&Exit", ""});
  return menu;
}

std::string FormatTrayTip(int liveRelayCount) {
  char tip[32];
  std::snprintf(tip, sizeof tip, "lumbra(%d)", liveRelayCount);
  return tip;
}
