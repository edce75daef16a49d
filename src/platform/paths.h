// Where the program's per-user files live: the configuration home and the runtime folder.
#pragma once

#include <string>

// $XDG_CONFIG_HOME when it holds an absolute path, else $HOME/.config (the home
// folder taken from the password database when $HOME is unset); empty when no
// home folder is known.
std::string GetUserConfigHome();

// $HOME when it holds an absolute path, else the password database's home folder;
// empty when none is known.
std::string GetHomeFolder();

// $XDG_DATA_HOME when it holds an absolute path, else $HOME/.local/share; empty
// when no home folder is known.
std::string GetUserDataHome();

// $XDG_RUNTIME_DIR when it holds an absolute path, else /tmp.
std::string GetRuntimeFolder();

// `folder` and `name` joined by exactly one "/".
std::string JoinPath(const std::string& folder, const std::string& name);
