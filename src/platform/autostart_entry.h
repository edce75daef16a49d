// XDG autostart entries: where they live, and writing, testing and removing one.
#pragma once

#include <string>

// What an autostart entry says.
struct AutostartEntry {
  std::string name;
  std::string comment;
  // The program started at log-in (absolute path, no arguments).
  std::string program;
};

// $XDG_CONFIG_HOME/autostart (else ~/.config/autostart); empty when no home
// folder is known.
std::string GetUserAutostartFolder();
// The first absolute folder of $XDG_CONFIG_DIRS (else /etc/xdg) + /autostart.
std::string GetSharedAutostartFolder();
// True when this user may add entries to `folder`: it is a writable folder, or
// it is missing and may be created in its existing, writable parent.
bool MayWriteAutostartFolder(const std::string& folder);
// The shared folder when this user may write it (an administrator), else the
// user's own; looked up afresh at each call.
std::string ChooseAutostartFolder();

// The desktop entry text: [Desktop Entry] with Type, Name, Comment and Exec.
std::string FormatAutostartEntry(const AutostartEntry& entry);

// `fileName` (e.g. "Run Lumbra.desktop") exists in `folder`.
bool AutostartEntryExists(const std::string& folder, const std::string& fileName);
// Writes the entry atomically, creating the folder when needed (readable by
// all, as a shared folder must be; missing parents are private).
bool WriteAutostartEntry(const std::string& folder, const std::string& fileName,
                         const AutostartEntry& entry);
// Deletes the entry file; true when it is gone afterwards.
bool RemoveAutostartEntry(const std::string& folder, const std::string& fileName);
