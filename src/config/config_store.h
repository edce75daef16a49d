// The configuration file: where it lives, loading and saving, and its accessors.
#pragma once

#include <string>
#include <string_view>

class CXmlNode;

// Folder of the configuration ($XDG_CONFIG_HOME or ~/.config, then
// "Lumbra_Corvane"), created when missing; empty on failure (after a message).
std::string GetConfigFolder();
// The folder followed by "/lumbra.xml"; empty when the folder is.
std::string GetConfigPath();
// Message box for the last system error (errno), naming the path when given.
void ShowFileError(const std::string& path);

// Loads the file into `document` (named "__root__"), writing the built-in
// default first when there is no file. Temporary files that interrupted saves
// left beside it are removed first. A file the reader complained about is
// copied to "lumbra.xml.bak" before the next save replaces it.
bool LoadConfig(CXmlNode& document);
// Writes the "lumbra" element of `document`, replacing the file atomically.
void SaveConfig(const CXmlNode& document);

// The built-in default configuration, byte for byte.
std::string_view GetDefaultConfigText();

// Accessors: each answers its "missing" value (false, empty, 0; 1 for the
// version) when the document has no "lumbra" element or the element is absent.
bool IsFilterEnabled(const CXmlNode& document);
void EnableFilter(CXmlNode& document);
void DisableFilter(CXmlNode& document);
std::string GetProxyPort(const CXmlNode& document);
// Never adds the element.
void SetProxyPort(CXmlNode& document, const std::string& port);
bool IsCorporateProxyEnabled(const CXmlNode& document);
void EnableCorporateProxy(CXmlNode& document);
void DisableCorporateProxy(CXmlNode& document);
std::string GetCorporateProxyUrl(const CXmlNode& document);
std::string GetCorporateProxyPort(const CXmlNode& document);
void SetCorporateProxy(CXmlNode& document, const std::string& url, const std::string& port);
// "allowlan": computers on the local network may use the proxy too.
bool IsLocalNetworkAllowed(const CXmlNode& document);
// Sets "allowlan" to "yes" or "no"; the element is appended to "lumbra" only when
// switching on, so a file that never had it keeps not having it.
void SetLocalNetworkAllowed(CXmlNode& document, bool allowed);
int GetRuleCount(const CXmlNode& document);
// The "filterrules" element holding the rules, or none.
CXmlNode* GetRulesNode(const CXmlNode& document);
// Points `rule` at child `index` of "filterrules" when 0 <= index < GetRuleCount;
// otherwise leaves it as it was.
void GetRule(const CXmlNode& document, int index, CXmlNode*& rule);
bool HasEnabledRule(const CXmlNode& document);
long GetConfigVersion(const CXmlNode& document);
