// The allow and block decision for one piece of traffic, driving its rewriting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "rules/filter_state.h"
#include "rules/rule_set.h"
#include "rules/traffic_fields.h"
#include "rules/traffic_text.h"

// Result of FilterTraffic. `modified`: a top-level content element of some rule
// reported a match. `blocked`: a request or response condition of an enabled rule
// matched.
struct FilterVerdict {
  std::int32_t modified = 0;
  std::int32_t blocked = 0;
};

// What the caller knows of a piece it hands to FilterTraffic.
struct PieceFlags {
  // The piece starts a message: a request's line and headers. Response conditions
  // are tested on every piece of a response, so each of those counts as one.
  // Allow, request and response conditions never match any other piece.
  bool startsMessage = false;
  bool isRequest = false;
  // IsRequestAllowed's answer for the request; a response inherits its request's.
  bool allowed = false;
};

// One piece of traffic under evaluation, handed down through nested rules.
struct TrafficPiece {
  TrafficPiece(CTrafficText& text, bool startsMessage, std::string_view requestUrl,
               CFilterState& state, CHeaderValueReader& headers)
      : text(text),
        startsMessage(startsMessage),
        requestUrl(requestUrl),
        state(state),
        headers(headers) {}

  CTrafficText& text;
  bool startsMessage;
  // Request-target of the request (for a response: of the request it answers).
  std::string_view requestUrl;
  CFilterState& state;
  CHeaderValueReader& headers;
  CRequestUrlReader url;
  // How many nested rules enclose the one being evaluated.
  int nestingLevel = 0;
};

// `text` holds `length` bytes followed by a 0 byte (text[length] == 0). True when
// an enabled rule exempts the request from filtering.
bool IsRequestAllowed(char* text, std::size_t length, std::string_view requestUrl,
                      const CRuleSet& rules, CFilterState& state);

// Evaluates the enabled rules in document order: blocks the piece, or rewrites it
// in place at the same length. `state` is the connection's own, carried from one
// of its pieces to the next.
FilterVerdict FilterTraffic(char* text, std::size_t length, const PieceFlags& flags,
                            std::string_view requestUrl, const CRuleSet& rules,
                            CFilterState& state);
// The same over a piece in hand, with header values already read from it while
// unchanged (the response relay's image test reads "content-type"), so that
// neither the text's end nor a header is searched for twice.
FilterVerdict FilterTraffic(CTrafficText& text, const PieceFlags& flags,
                            std::string_view requestUrl, const CRuleSet& rules, CFilterState& state,
                            CHeaderValueReader& headers);

// True when the element carries no nested rule, or its nested rule holds.
bool NestedRuleHolds(const NestedRule& nested, TrafficPiece& piece);
