// JSON helpers of the control panel: texts between the program's character set
// and UTF-8, safe output, and typed reads of request bodies.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A text of the program (narrow character set) as a JSON string value (UTF-8).
std::string ToJsonText(std::string_view narrow);
nlohmann::json ToJsonTexts(const std::vector<std::string>& narrowTexts);
// Serialises without ever failing: bytes that are not UTF-8 become U+FFFD, and
// '<', '>' and '&' are written as \u escapes, so no text of a request or of the
// traffic can become markup.
std::string DumpJson(const nlohmann::json& value);

// The request body as a JSON object; nullopt when it is not one.
std::optional<nlohmann::json> ParseJsonObject(std::string_view body);
// Members of an object by type; nullopt when absent or of another type. Texts
// come back in the program's character set.
std::optional<std::string> GetJsonText(const nlohmann::json& object, const char* name);
std::optional<bool> GetJsonBool(const nlohmann::json& object, const char* name);
std::optional<long long> GetJsonInteger(const nlohmann::json& object, const char* name);
// An array of texts; nullopt when absent, not an array, or holding anything else.
std::optional<std::vector<std::string>> GetJsonTexts(const nlohmann::json& object,
                                                     const char* name);
