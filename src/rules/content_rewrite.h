// Length-preserving rewriting of traffic by a rule's content elements.
#pragma once

#include <vector>

#include "rules/request_matching.h"
#include "rules/rule_set.h"

// Runs every content element of a rule on the piece, in document order; true when
// at least one of them reports a match.
bool ApplyContent(const std::vector<ContentElement>& contents, TrafficPiece& piece);
