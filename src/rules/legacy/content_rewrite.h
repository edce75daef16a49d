// The filter as it was before the rules were compiled, kept while the two are compared.
// Length-preserving rewriting of traffic by a rule's content elements.
#pragma once

#include <string_view>

#include "rules/legacy/filter_rule.h"
#include "rules/legacy/request_matching.h"

namespace legacy {
// What a content element does with what it selects.
enum class ContentAction { kComment, kReplace, kRemove };

// "comment" exactly, else anything containing "replace", else remove.
ContentAction GetContentAction(std::string_view lowerAction);
// The raw action without its first seven bytes ("replace") and the colons after.
std::string_view GetReplacementText(std::string_view rawAction);

// Runs every content child of `rule` on the piece, in document order; true when
// at least one of them reports a match.
bool ApplyContent(const CFilterRule& rule, TrafficPiece& piece);

}  // namespace legacy
