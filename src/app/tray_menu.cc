// The tray menu: its items as the options window would show them right now.
#include "app/tray_menu.h"

#include <cstdio>

#include "config/page_recorder.h"

namespace {

constexpr char kEnableText[] = "&Enable";
constexpr char kDisableText[] = "&Disable";
constexpr char kStartRecorderText[] = "&Start recorder";
constexpr char kResumeRecorderText[] = "Resume recorder";
constexpr char kPauseRecorderText[] = "&Pause recorder";

constexpr char kBitmapStart[] = "136";
constexpr char kBitmapPause[] = "137";
constexpr char kBitmapStop[] = "138";
constexpr char kBitmapSave[] = "140";

// Menu resource 129 as loaded: the item with empty text is a separator.
std::vector<CTrayMenuItem> LoadMenu129() {
  return {
      {kCommandOptions, "&Options", "", false},
      {0, "", "", true},
      {kCommandRecorderStart, kStartRecorderText, "", false},
      {kCommandRecorderStop, "&Stop recorder", kBitmapStop, false},
      {kCommandSaveRecord, "Save record as...", kBitmapSave, false},
      {kCommandInstantFiltering, "&Instant filtering", "", false},
      {kCommandEnableDisable, kDisableText, "", false},
      {0, "", "", true},
      {kCommandExit, "&Exit", "", false},
  };
}

CTrayMenuItem* FindItem(std::vector<CTrayMenuItem>& menu, int id) {
  for (CTrayMenuItem& item : menu)
    if (!item.separator && item.id == id) return &item;
  return nullptr;
}

void RemoveItem(std::vector<CTrayMenuItem>& menu, int id) {
  std::erase_if(menu, [id](const CTrayMenuItem& item) { return !item.separator && item.id == id; });
}

void SetRecorderItem(std::vector<CTrayMenuItem>& menu, const char* text, const char* bitmap) {
  CTrayMenuItem* item = FindItem(menu, kCommandRecorderStart);
  item->text = text;
  item->bitmap = bitmap;
}

}  // namespace

std::vector<CTrayMenuItem> BuildTrayMenu(bool filterEnabled, int recorderState, bool recordEmpty) {
  std::vector<CTrayMenuItem> menu = LoadMenu129();
  FindItem(menu, kCommandEnableDisable)->text = filterEnabled ? kDisableText : kEnableText;
  switch (recorderState) {
    case kRecorderPaused:
      SetRecorderItem(menu, kResumeRecorderText, kBitmapPause);
      break;
    case kRecorderRecording:
      SetRecorderItem(menu, kPauseRecorderText, kBitmapPause);
      RemoveItem(menu, kCommandSaveRecord);
      break;
    default:
      SetRecorderItem(menu, kStartRecorderText, kBitmapStart);
      RemoveItem(menu, kCommandRecorderStop);
      if (recordEmpty) RemoveItem(menu, kCommandSaveRecord);
      break;
  }
  return menu;
}

std::string FormatTrayTip(int liveRelayCount) {
  char tip[32];
  std::snprintf(tip, sizeof tip, "lumbra(%d)", liveRelayCount);
  return tip;
}
