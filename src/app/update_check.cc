// The product update check against the update server.
#include "app/update_check.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string_view>

#include "app/update_answer.h"
#include "config/config_store.h"
#include "core/user_messages.h"
#include "platform/file_copy.h"
#include "platform/process_start.h"
#include "platform/program_path.h"
#include "platform/scratch_file.h"

namespace {

// Set at configure time (CMake cache variables of the same names).
constexpr std::string_view kBuildUpdateBaseUrl = LUMBRA_UPDATE_BASE_URL;
constexpr std::string_view kBuildProductWebSite = LUMBRA_PRODUCT_WEBSITE;

constexpr std::string_view kNoVersionText =
    "Can't seem to be able to retrieve the Lumbra product version.";
constexpr std::string_view kNoAccessText =
    "Can't seem to be able to access the Lumbra website. Please check later.";
constexpr std::string_view kEmptyAnswerText =
    "The Lumbra product version check could not retrieve the online version number.";
constexpr std::string_view kInvalidAnswerText =
    "The Lumbra product version obtained from the website is invalid.";
constexpr std::string_view kBadFormatText =
    "The Lumbra product version obtained from the website has an incorrect format.";
constexpr std::string_view kOlderOnlineText =
    "There is a problem somewhere. The online version appears older than your installed version.";
constexpr std::string_view kUpToDateText = "You are up-to-date.";
constexpr std::string_view kFiltersAvailableText = "An upgrade of filters is available at ";
constexpr std::string_view kDownloadFailedText =
    "Automatic update failed. Please retry later, or visit website ";
constexpr std::string_view kNoTargetFileText =
    "Automatic update failed. Target file could not be downloaded. Please retry later, or visit "
    "website ";
constexpr std::string_view kInstallManuallyText = " and install the product manually.";
constexpr std::string_view kUpdateQuestionText =
    "An update of binaries is available. Would you like to update right now to version ";

// The version answer is a line of text; the build is the program file.
constexpr DownloadLimits kVersionLimits{10, 60, 1 << 20};
constexpr DownloadLimits kBuildLimits{10, 600, std::uint64_t{512} << 20};

struct OnlineVersion {
  std::array<int, 4> version{-1, -1, -1, -1};
  int filterVersion = -1;
  std::string label;
};

std::string VersionText(const std::array<int, 4>& version) {
  return std::to_string(version[0]) + "." + std::to_string(version[1]) + "." +
         std::to_string(version[2]) + "." + std::to_string(version[3]);
}

std::string FolderUrl(std::string base) {
  if (!base.empty() && base.back() != '/') base.push_back('/');
  return base;
}

// Asks the server and returns the joined answer, or shows why there is none.
std::optional<std::string> FetchAnswer(const UpdateCheckSettings& settings, long configVersion) {
  CScratchFile answerFile("~LUMBRAPHP");
  std::string url = FolderUrl(settings.baseUrl) +
                    "CurrentVersion.php?version=" + VersionText(settings.installedVersion) + ";" +
                    std::to_string(configVersion);
  if (settings.baseUrl.empty() || !answerFile.IsCreated() ||
      !settings.download(url, answerFile.GetPath(), kVersionLimits)) {
    ShowAppMessage(kNoAccessText);
    return std::nullopt;
  }
  std::string text = JoinAnswerLines(ReadFileContent(answerFile.GetPath()));
  if (text.empty()) {
    ShowAppMessage(kEmptyAnswerText);
    return std::nullopt;
  }
  return text;
}

// Reads the tokens; shows why when they do not make a usable version.
std::optional<OnlineVersion> ParseAnswer(const std::string& text) {
  std::vector<std::string> tokens = SplitAnswerTokens(text);
  OnlineVersion online;
  bool readable = !tokens.empty();
  if (readable) readable = ScanDottedNumbers(tokens[0], online.version) > 0;
  if (readable && tokens.size() > 1)
    readable = ScanDottedNumbers(tokens[1], std::span<int>(&online.filterVersion, 1)) > 0;
  if (!readable) {
    ShowAppMessage(kInvalidAnswerText);
    return std::nullopt;
  }
  if (tokens.size() > 2) online.label = tokens[2];
  for (int number : online.version) {
    if (number != -1) continue;
    ShowAppMessage(kBadFormatText);
    return std::nullopt;
  }
  return online;
}

// Two version numbers as one value, each taken by its low 16 bits.
std::uint32_t CombineVersionPair(int high, int low) {
  return (std::uint32_t{static_cast<std::uint16_t>(high)} << 16) | static_cast<std::uint16_t>(low);
}

// A message that names the product's web site between two texts.
std::string NameWebSite(std::string_view before, const std::string& webSite,
                        std::string_view after) {
  return std::string(before) + webSite + std::string(after);
}

void InstallUpdate(const UpdateCheckSettings& settings) {
  std::string target = settings.programPath + ".update";
  if (!settings.download(FolderUrl(settings.baseUrl) + "Update.php", target, kBuildLimits)) {
    ShowAppMessage(NameWebSite(kDownloadFailedText, settings.webSite, kInstallManuallyText));
    return;
  }
  std::error_code error;
  std::uintmax_t size = std::filesystem::file_size(target, error);
  if (error || size == 0) {
    ShowAppMessage(NameWebSite(kNoTargetFileText, settings.webSite, kInstallManuallyText));
    return;
  }
  // The updater takes over from here (it ends this process by its id when it
  // replaces the program), so its start is not followed up.
  settings.startUpdater(settings.programPath + "_updater",
                        {target, settings.programPath, std::to_string(settings.processId)});
}

void OfferUpdate(const UpdateCheckSettings& settings, const OnlineVersion& online) {
  std::string question =
      std::string(kUpdateQuestionText) + VersionText(online.version) + " (" + online.label + ")?";
  if (AskYesNo(kAppCaption, question)) InstallUpdate(settings);
}

}  // namespace

UpdateCheckSettings GetUpdateCheckSettings() {
  UpdateCheckSettings settings;
  settings.programPath = GetProgramPath();
  settings.installedVersion = {LUMBRA_VERSION_MAJOR, LUMBRA_VERSION_MINOR, LUMBRA_VERSION_PATCH,
                               LUMBRA_VERSION_TWEAK};
  const char* baseUrl = std::getenv("LUMBRA_UPDATE_BASE_URL");
  settings.baseUrl = baseUrl != nullptr ? std::string(baseUrl) : std::string(kBuildUpdateBaseUrl);
  settings.webSite = std::string(kBuildProductWebSite);
  settings.processId = GetOwnProcessId();
  settings.download = DownloadUrlToFile;
  settings.startUpdater = StartDetachedProcess;
  return settings;
}

void CheckForUpdate(const CXmlNode& config) { CheckForUpdate(config, GetUpdateCheckSettings()); }

void CheckForUpdate(const CXmlNode& config, const UpdateCheckSettings& settings) {
  if (settings.programPath.empty()) {
    ShowAppMessage(kNoVersionText);
    return;
  }
  long configVersion = GetConfigVersion(config);
  std::optional<std::string> answer = FetchAnswer(settings, configVersion);
  if (!answer) return;
  std::optional<OnlineVersion> online = ParseAnswer(*answer);
  if (!online) return;
  const std::array<int, 4>& installed = settings.installedVersion;
  std::uint32_t onlineMajor = CombineVersionPair(online->version[0], online->version[1]);
  std::uint32_t installedMajor = CombineVersionPair(installed[0], installed[1]);
  if (onlineMajor < installedMajor) {
    ShowAppMessage(kOlderOnlineText);
    return;
  }
  std::uint32_t onlineMinor = CombineVersionPair(online->version[2], online->version[3]);
  std::uint32_t installedMinor = CombineVersionPair(installed[2], installed[3]);
  if (onlineMajor > installedMajor || onlineMinor > installedMinor) {
    OfferUpdate(settings, *online);
    return;
  }
  if (online->filterVersion > configVersion) {
    ShowAppMessage(NameWebSite(kFiltersAvailableText, settings.webSite, "."));
    return;
  }
  ShowAppMessage(kUpToDateText);
}
