// Reading one line of a block list: hosts-file, plain-domain and adblock-style lines.
#include "blocklists/block_list_line.h"

#include <array>

#include "core/address_text.h"
#include "core/ascii.h"

namespace {

constexpr std::size_t kMaxLabelLength = 63;

// The only adblock option taken: third-party requests are all a proxy sees of a
// name that has no page of its own, so the rule is kept for every request.
constexpr std::string_view kThirdPartyOption = "$third-party";

// Names that hosts files map to themselves and that must never be refused. The
// others such files carry (localhost, local, broadcasthost, ip6-localhost...)
// hold no dot, and 0.0.0.0 ends in digits, so the name rules already skip them.
constexpr std::array<std::string_view, 1> kNeverBlockedNames = {"localhost.localdomain"};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsLabelByte(char c) {
  const char lower = AsciiToLower(c);
  return (lower >= 'a' && lower <= 'z') || IsDigit(c) || c == '-' || c == '_';
}

constexpr std::string_view kBlanks = " \t\r\f\v";

std::string_view TrimLineBlanks(std::string_view text) { return TrimBlanks(text, kBlanks); }

std::string_view WithoutTrailingDot(std::string_view name) {
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  return name;
}

bool IsAllDigits(std::string_view text) {
  for (const char c : text)
    if (!IsDigit(c)) return false;
  return true;
}

// The next blank-separated field of `rest`, which moves past it.
std::string_view NextField(std::string_view& rest) {
  rest = TrimLineBlanks(rest);
  std::size_t end = 0;
  while (end < rest.size() && !IsBlank(rest[end])) ++end;
  const std::string_view field = rest.substr(0, end);
  rest.remove_prefix(end);
  return field;
}

bool IsAddress(std::string_view field) { return IsIpv4Address(field) || IsIpv6Address(field); }

bool IsNeverBlocked(std::string_view name) {
  for (const std::string_view reserved : kNeverBlockedNames)
    if (EqualsNoCase(name, reserved)) return true;
  return false;
}

// Where a hosts-file or plain-domain line ends: at a `#` that starts a field
// (hosts(5) comments). A `#` inside a field, as in cosmetic rules, is kept and
// makes the field an invalid name.
std::string_view WithoutComment(std::string_view line) {
  for (std::size_t i = 0; i < line.size(); ++i)
    if (line[i] == '#' && (i == 0 || IsBlank(line[i - 1]))) return line.substr(0, i);
  return line;
}

// Hands `field` to `take` when it is a name; says whether it was.
bool TakeName(std::string_view field, BlockListLineKind kind, CNameCallback take) {
  const std::string_view name = WithoutTrailingDot(field);
  if (!IsBlockListName(name)) return false;
  take(kind, name);
  return true;
}

// `0.0.0.0 a.example b.example`: every name after the address.
BlockListLineKind ReadHostsLine(std::string_view names, CNameCallback take) {
  bool tookAny = false;
  for (std::string_view field = NextField(names); !field.empty(); field = NextField(names))
    tookAny = TakeName(field, BlockListLineKind::kBlock, take) || tookAny;
  return tookAny ? BlockListLineKind::kBlock : BlockListLineKind::kSkipped;
}

// `||name^` or `||name^$third-party`, already without `@@`; `taken` is the kind
// a valid rule gives.
BlockListLineKind ReadAdblockRule(std::string_view rule, BlockListLineKind taken,
                                  CNameCallback take) {
  constexpr std::string_view kAnchor = "||";
  if (!rule.starts_with(kAnchor)) return BlockListLineKind::kSkipped;
  rule.remove_prefix(kAnchor.size());
  const std::size_t separator = rule.find('^');
  if (separator == std::string_view::npos) return BlockListLineKind::kSkipped;
  const std::string_view after = rule.substr(separator + 1);
  if (!after.empty() && after != kThirdPartyOption) return BlockListLineKind::kSkipped;
  return TakeName(rule.substr(0, separator), taken, take) ? taken : BlockListLineKind::kSkipped;
}

BlockListLineKind ReadHostsOrPlainLine(std::string_view line, CNameCallback take) {
  std::string_view rest = WithoutComment(line);
  const std::string_view first = NextField(rest);
  if (first.empty()) return BlockListLineKind::kSkipped;
  if (TrimLineBlanks(rest).empty())
    return TakeName(first, BlockListLineKind::kBlock, take) ? BlockListLineKind::kBlock
                                                            : BlockListLineKind::kSkipped;
  if (!IsAddress(first)) return BlockListLineKind::kSkipped;
  return ReadHostsLine(rest, take);
}

}  // namespace

bool IsBlockListName(std::string_view name) {
  if (name.empty() || name.size() > kMaxDomainNameLength) return false;
  std::size_t labelStart = 0;
  bool hasDot = false;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && IsLabelByte(name[i])) continue;
    if (i < name.size() && name[i] != '.') return false;
    const std::size_t labelLength = i - labelStart;
    if (labelLength == 0 || labelLength > kMaxLabelLength) return false;
    hasDot = hasDot || i < name.size();
    labelStart = i + 1;
  }
  // The last label starts at the byte after the last dot.
  const std::string_view lastLabel = name.substr(name.rfind('.') + 1);
  return hasDot && !IsAllDigits(lastLabel) && !IsNeverBlocked(name);
}

BlockListLineKind ReadBlockListLine(std::string_view line, CNameCallback take) {
  line = TrimLineBlanks(line);
  if (line.empty()) return BlockListLineKind::kNothing;
  // `!` adblock comments, `[Adblock Plus 2.0]` headers and `#` comments.
  if (line.front() == '!' || line.front() == '[' || line.front() == '#')
    return BlockListLineKind::kSkipped;
  if (line.starts_with("@@"))
    return ReadAdblockRule(line.substr(2), BlockListLineKind::kException, take);
  if (line.starts_with("||")) return ReadAdblockRule(line, BlockListLineKind::kBlock, take);
  return ReadHostsOrPlainLine(line, take);
}
