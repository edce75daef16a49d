// The product update check: asks the update server for the current versions,
// tells the user, and hands a new build to the updater on request.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "app/url_download.h"

class CXmlNode;

using ProcessStarter =
    std::function<bool(const std::string& path, const std::vector<std::string>& arguments)>;

// What the check works with; GetUpdateCheckSettings fills it for this program.
struct UpdateCheckSettings {
  // The running program's file; empty when it is not found.
  std::string programPath;
  // major, minor, third, fourth.
  std::array<int, 4> installedVersion{};
  // The folder address on the update server (a missing final "/" is added);
  // empty when no server is set.
  std::string baseUrl;
  // The product's web site, named in the messages.
  std::string webSite;
  // Handed to the updater so it can address this process (e.g. to end it).
  long processId = 0;
  UrlDownloader download;
  ProcessStarter startUpdater;
};

// The running program, the version of this build, the build's server and web
// site addresses (the environment variable LUMBRA_UPDATE_BASE_URL, when set,
// replaces the server address), libcurl and posix_spawn.
UpdateCheckSettings GetUpdateCheckSettings();

// One whole check against the configuration document `config` (for its filter
// set version). Shows every outcome through ShowAppMessage and asks through
// AskYesNo; blocks for the downloads and the question. Callable from any thread.
void CheckForUpdate(const CXmlNode& config);
void CheckForUpdate(const CXmlNode& config, const UpdateCheckSettings& settings);
