// The filter as it was before the rules were compiled, kept while the two are compared.
// The allow and block decision for one piece of traffic, driving its rewriting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "rules/legacy/filter_rule.h"
#include "rules/legacy/traffic_fields.h"
#include "rules/traffic_text.h"
#include "xml/xml_node.h"
namespace legacy {

// Result of FilterTraffic. `modified`: a top-level content element of some rule
// reported a match. `blocked`: a request or response condition of an enabled rule
// matched.
struct FilterVerdict {
  std::int32_t modified = 0;
  std::int32_t blocked = 0;
};

// One piece of traffic under evaluation, handed down through nested rules.
struct TrafficPiece {
  // `headers`, when given, holds values already read from the same unchanged bytes.
  TrafficPiece(CTrafficText& text, bool firstChunk, std::string_view requestUrl,
               CHeaderValueReader* headers = nullptr)
      : text(text),
        firstChunk(firstChunk),
        requestUrl(requestUrl),
        headerReader(headers != nullptr ? *headers : m_ownHeaderReader) {}
  TrafficPiece(const TrafficPiece&) = delete;
  TrafficPiece& operator=(const TrafficPiece&) = delete;

  CTrafficText& text;
  // The piece begins a request (request line and headers), or belongs to a response.
  bool firstChunk;
  // Request-target of the request (for a response: of the request it answers).
  std::string_view requestUrl;
  // How many nested rules enclose the one being evaluated.
  int nestingLevel = 0;
  // Texts derived from the piece, kept for the rules that follow.
  CRequestUrlReader urlReader;
  std::optional<std::string> lowerRequestUrl;

 private:
  // Declared before headerReader, which refers to it when no reader is handed in.
  CHeaderValueReader m_ownHeaderReader;

 public:
  CHeaderValueReader& headerReader;
};

// Nested rules deeper than this never hold, so that a configuration file nested
// without limit cannot exhaust a worker thread's stack.
inline constexpr int kMaxNestingLevel = 32;

// `text` holds `length` bytes followed by a 0 byte (text[length] == 0). True when
// an enabled rule exempts the request from filtering.
bool IsRequestAllowed(char* text, std::size_t length, std::string_view requestUrl,
                      CXmlNode& document);

// Evaluates the enabled rules in document order: blocks the piece, or rewrites it
// in place at the same length. `allowed` is IsRequestAllowed's answer for the
// request (a response inherits its request's answer).
FilterVerdict FilterTraffic(char* text, std::size_t length, bool firstChunk, bool isRequest,
                            bool allowed, std::string_view requestUrl, CXmlNode& document);
// The same over a piece in hand, with header values already read from it while
// unchanged (the response relay's image test reads "content-type"), so that
// neither the text's end nor a header is searched for twice.
FilterVerdict FilterTraffic(CTrafficText& text, bool firstChunk, bool isRequest, bool allowed,
                            std::string_view requestUrl, CXmlNode& document,
                            CHeaderValueReader& headers);

bool MatchAllow(const CFilterRule& rule, TrafficPiece& piece);
bool MatchRequest(const CFilterRule& rule, TrafficPiece& piece);
bool MatchResponse(const CFilterRule& rule, TrafficPiece& piece);
// True when the index-th child of that kind carries no nested rule, or its
// nested rule holds.
bool CheckNested(ConditionKind kind, const CFilterRule& rule, int index, TrafficPiece& piece);
// The same for a condition element in hand.
bool CheckNestedOf(CXmlNode* condition, TrafficPiece& piece);

}  // namespace legacy
