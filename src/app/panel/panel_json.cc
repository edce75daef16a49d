// JSON helpers of the control panel: texts between the program's character set
// and UTF-8, safe output, and typed reads of request bodies.
#include "app/panel/panel_json.h"

#include "core/code_page.h"

using nlohmann::json;

namespace {

// Request bodies are flat objects; a deeper nesting is refused before parsing, so
// no body can make any step walk it deeply.
constexpr int kMaxJsonDepth = 8;

bool IsNestedAtMost(std::string_view text, int limit) {
  int depth = 0;
  bool inString = false;
  bool escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    if (c == '"') inString = true;
    if (c == '{' || c == '[') ++depth;
    if (c == '}' || c == ']') --depth;
    if (depth > limit) return false;
  }
  return true;
}

}  // namespace

std::string ToJsonText(std::string_view narrow) { return NarrowToUtf8(narrow); }

json ToJsonTexts(const std::vector<std::string>& narrowTexts) {
  json list = json::array();
  for (const std::string& text : narrowTexts) list.push_back(ToJsonText(text));
  return list;
}

std::string DumpJson(const json& value) {
  const std::string text = value.dump(-1, ' ', false, json::error_handler_t::replace);
  std::string safe;
  safe.reserve(text.size());
  // Outside strings these characters never occur in JSON, so escaping them
  // everywhere only touches string contents.
  for (char c : text) {
    if (c == '<') {
      safe += "\\u003c";
    } else if (c == '>') {
      safe += "\\u003e";
    } else if (c == '&') {
      safe += "\\u0026";
    } else {
      safe.push_back(c);
    }
  }
  return safe;
}

std::optional<json> ParseJsonObject(std::string_view body) {
  if (!IsNestedAtMost(body, kMaxJsonDepth)) return std::nullopt;
  json value = json::parse(body, nullptr, false);
  if (value.is_discarded() || !value.is_object()) return std::nullopt;
  return value;
}

std::optional<std::string> GetJsonText(const json& object, const char* name) {
  const auto member = object.find(name);
  if (member == object.end() || !member->is_string()) return std::nullopt;
  return Utf8ToNarrow(member->get_ref<const std::string&>());
}

std::optional<bool> GetJsonBool(const json& object, const char* name) {
  const auto member = object.find(name);
  if (member == object.end() || !member->is_boolean()) return std::nullopt;
  return member->get<bool>();
}

std::optional<long long> GetJsonInteger(const json& object, const char* name) {
  const auto member = object.find(name);
  if (member == object.end() || !member->is_number_integer()) return std::nullopt;
  return member->get<long long>();
}

std::optional<std::vector<std::string>> GetJsonTexts(const json& object, const char* name) {
  const auto member = object.find(name);
  if (member == object.end() || !member->is_array()) return std::nullopt;
  std::vector<std::string> texts;
  for (const json& item : *member) {
    if (!item.is_string()) return std::nullopt;
    texts.push_back(Utf8ToNarrow(item.get_ref<const std::string&>()));
  }
  return texts;
}
