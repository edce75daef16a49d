#include "proxy/message_framing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Event = CMessageStream::Event;
using Side = CMessageStream::Side;

// How a test feeds bytes to a stream.
struct CFeed {
  std::size_t step = 0;                     // bytes added per receive; 0: all at once
  bool close = false;                       // the sender closes after the last byte
  std::vector<RequestKind> answersTo = {};  // answers side: the request of each final answer
  std::size_t maxHead = 4096;
};

std::string Describe(const CMessageStream& stream, CMessageStream::CEvent event) {
  static const char* const kEvents[] = {"more", "skip ",  "head ", "body ",
                                        "end",  "tunnel", "error "};
  static const char* const kErrors[] = {
      "none",        "start line",         "bare CR",           "folded",
      "header line", "length and chunked", "transfer encoding", "content length",
      "chunk",       "too large",          "cut short"};
  const std::string type = kEvents[static_cast<int>(event.type)];
  if (event.type == Event::kError) return type + kErrors[static_cast<int>(stream.GetError())];
  return type.back() == ' ' ? type + std::to_string(event.length) : type;
}

// The events of a stream over `bytes` received as `feed` says, "|"-separated; a receiver
// gives every call all bytes not yet taken by an event. Adjacent body events are merged
// so that runs over different splits compare equal.
std::string Frame(Side side, std::string_view bytes, const CFeed& feed = {}) {
  CMessageStream stream(side);
  std::string log;
  std::size_t read = 0, received = 0, body = 0, answers = 0;
  const auto note = [&](const std::string& entry) {
    if (body > 0) log += (log.empty() ? "body " : "|body ") + std::to_string(body);
    body = 0;
    if (!entry.empty()) log += (log.empty() ? "" : "|") + entry;
  };
  const auto expectNext = [&] {
    if (answers < feed.answersTo.size()) stream.ExpectAnswerTo(feed.answersTo[answers++]);
  };
  expectNext();
  for (std::size_t guard = 0; guard < 4 * bytes.size() + 16; ++guard) {
    const CMessageStream::CEvent event =
        stream.Next(bytes.substr(read, received - read), feed.maxHead);
    if (event.type == Event::kNeedMore && received < bytes.size()) {
      received = feed.step == 0 ? bytes.size() : std::min(bytes.size(), received + feed.step);
      continue;
    }
    EXPECT_LE(event.length, received - read);
    read += event.length;
    if (event.type == Event::kBody) {
      body += event.length;
      continue;
    }
    if (event.type != Event::kNeedMore) note(Describe(stream, event));
    if (event.type == Event::kNeedMore || event.type == Event::kError) {
      note(feed.close ? "close " + Describe(stream, stream.Close()) : "");
      return log;
    }
    if (event.type == Event::kEnd && side == Side::kAnswers && !stream.GetResponseHead().interim)
      expectNext();
  }
  ADD_FAILURE() << "the stream makes no progress";
  return log;
}

std::string Request(const std::string& fields) {
  return "POST /form HTTP/1.1\r\nHost: example.com\r\n" + fields + "\r\n";
}

// A chunked body with extensions (a quoted one with a ";" inside) and trailers.
const std::string kChunkedBody =
    "5;name=value\r\nhello\r\n"
    "1A ; q=\"a;b\"\r\nabcdefghijklmnopqrstuvwxyz\r\n"
    "0;last\r\nExpires: never\r\nX-Sum: 1\r\n\r\n";

TEST(MessageFramingHeadEnd, FindsEveryFormOfEmptyLineAndNothingElse) {
  EXPECT_EQ(FindHeadEnd("GET / HTTP/1.1\r\nHost: a\r\n\r\nBODY"), 27u);
  EXPECT_EQ(FindHeadEnd("GET / HTTP/1.1\nHost: a\n\nBODY"), 24u);
  EXPECT_EQ(FindHeadEnd("GET / HTTP/1.1\nHost: a\n\r\nBODY"), 25u);
  EXPECT_EQ(FindHeadEnd("GET / HTTP/1.1\r\nHost: a\r\n\nBODY"), 26u);
  // Incomplete: a CR alone after a line end, or no empty line at all.
  for (const char* incomplete : {"GET / HTTP/1.1\r\nHost: a\r\n\r", "GET / HTTP/1.1\r\nHost: a\r\n",
                                 "GET / HTTP/1.1\r\n\r \r\n"})
    EXPECT_EQ(FindHeadEnd(incomplete), 0u) << incomplete;
  // A NUL inside does not end the search.
  const std::string withNul("GET / HTTP/1.1\r\nX: a\0b\r\n\r\n", 26);
  EXPECT_EQ(FindHeadEnd(withNul), withNul.size());
}

TEST(MessageFramingRequestHead, StartLineNeedsMethodTargetAndHttp1Version) {
  for (const char* good :
       {"GET / HTTP/1.1\r\n\r\n", "GET http://x/?a=b HTTP/1.0\n\n", "M-SEARCH * HTTP/1.9\r\n\r\n"})
    EXPECT_EQ(ReadRequestHead(good).error, FramingError::kNone) << good;
  for (const char* bad :
       {"GET / HTTP/2.0\r\n\r\n", "GET / HTTP/1.10\r\n\r\n", "GET / http/1.1\r\n\r\n",
        "GET  / HTTP/1.1\r\n\r\n", "GET / HTTP/1.1 \r\n\r\n", "GET /\r\n\r\n",
        " GET / HTTP/1.1\r\n\r\n", "G(T / HTTP/1.1\r\n\r\n", "GET /a\x01 HTTP/1.1\r\n\r\n",
        "GET /\tx HTTP/1.1\r\n\r\n", "\r\n\r\n"})
    EXPECT_EQ(ReadRequestHead(bad).error, FramingError::kBadStartLine) << bad;
  // The method's kind is exact and case-sensitive.
  EXPECT_EQ(ReadRequestHead("HEAD / HTTP/1.1\r\n\r\n").kind, RequestKind::kHead);
  EXPECT_EQ(ReadRequestHead("CONNECT a:443 HTTP/1.1\r\n\r\n").kind, RequestKind::kConnect);
  for (const char* other :
       {"head / HTTP/1.1\r\n\r\n", "HEADER / HTTP/1.1\r\n\r\n", "connect a:443 HTTP/1.1\r\n\r\n"})
    EXPECT_EQ(ReadRequestHead(other).kind, RequestKind::kOther) << other;
}

TEST(MessageFramingRequestHead, HeaderLinesAndFramingFields) {
  using E = FramingError;
  const std::vector<std::pair<std::string, E>> cases = {
      {Request("X-A: 1\r\n  continued\r\n"), E::kFoldedLine},
      {"GET / HTTP/1.1\r\n\tX-A: 1\r\n\r\n", E::kFoldedLine},
      {Request("X-A: 1\r2\r\n"), E::kBareCr},
      {Request("X-A: 1\r\r\n"), E::kBareCr},
      {"GET / HTTP/1.1\rX: 1\r\n\r\n", E::kBareCr},
      {Request("No colon here\r\n"), E::kBadHeaderLine},
      {Request(": empty name\r\n"), E::kBadHeaderLine},
      {Request("Content-Length : 5\r\n"), E::kBadHeaderLine},
      {Request("Transfer-Encoding\t: chunked\r\n"), E::kBadHeaderLine},
      {Request(std::string("X\0Y: 1\r\n", 8)), E::kBadHeaderLine},
      // Other readers of the head stop at a NUL; the framing must not read past it.
      {Request(std::string("X: a\0\r\n", 7)), E::kBadHeaderLine},
      {"CONNECT a:443 HTTP/1.1\r\nBad line\r\n\r\n", E::kBadHeaderLine},
      // The final coding must be chunked, and HTTP/1.0 servers would not read chunks.
      {Request("Transfer-Encoding: gzip\r\n"), E::kBadTransferEncoding},
      {Request("Transfer-Encoding: chunked, gzip\r\n"), E::kBadTransferEncoding},
      {Request("Transfer-Encoding: chunked\r\nTransfer-Encoding: gzip\r\n"),
       E::kBadTransferEncoding},
      {Request("Transfer-Encoding: chunkedx\r\n"), E::kBadTransferEncoding},
      {Request("Transfer-Encoding:\r\n"), E::kBadTransferEncoding},
      {"POST / HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n", E::kBadTransferEncoding},
      {Request("Transfer-Encoding: chunked\r\nContent-Length: 5\r\n"), E::kLengthAndChunked},
      {Request("Content-Length: 5\r\nTransfer-Encoding: chunked\r\n"), E::kLengthAndChunked},
      {Request("Content-Length: 5\r\nContent-Length: 6\r\n"), E::kBadContentLength}};
  for (const auto& [head, error] : cases) {
    EXPECT_EQ(ReadRequestHead(head).error, error) << head;
    EXPECT_EQ(ReadRequestHead(head).body, BodyFraming::kNone) << head;
  }
  for (const char* bad : {"12, 13", "+5", "-5", "", "5a", "0x10", "5 5", "5,", ",5",
                          "9223372036854775808", "99999999999999999999999"})
    EXPECT_EQ(ReadRequestHead(Request(std::string("Content-Length: ") + bad + "\r\n")).error,
              E::kBadContentLength)
        << bad;
}

TEST(MessageFramingRequestHead, BodyFramingOfSoundHeads) {
  using B = BodyFraming;
  const std::vector<std::tuple<std::string, B, std::uint64_t>> cases = {
      {Request("X-A:\r\nX-B:   2  \r\nX-Length: 5\r\n"), B::kNone, 0},
      {Request("tRANSFER-eNCODING:  Chunked \r\n"), B::kChunked, 0},
      // The list goes on over several lines; the final coding decides.
      {Request("Transfer-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n"), B::kChunked, 0},
      {Request("content-length: 5, 5\r\n"), B::kContentLength, 5},
      {Request("Content-Length: 7\r\nContent-Length: 7\r\n"), B::kContentLength, 7},
      {Request("Content-Length: 9223372036854775807\r\n"), B::kContentLength, 9223372036854775807u},
      // CONNECT has no body whatever its head says.
      {"CONNECT a:443 HTTP/1.1\r\nContent-Length: 5\r\nTransfer-Encoding: gzip\r\n\r\n", B::kNone,
       0}};
  for (const auto& [text, body, length] : cases) {
    const CRequestHead head = ReadRequestHead(text);
    EXPECT_EQ(head.error, FramingError::kNone) << text;
    EXPECT_EQ(head.body, body) << text;
    EXPECT_EQ(head.contentLength, length) << text;
  }
  EXPECT_TRUE(ReadRequestHead(Request("upgrade: websocket\r\n")).asksUpgrade);
  EXPECT_FALSE(ReadRequestHead(Request("X-Upgrade: websocket\r\n")).asksUpgrade);
}

TEST(MessageFramingAnswerHead, StatusAndHeaderLines) {
  EXPECT_EQ(ReadResponseHead("HTTP/1.1 404 Not Found\r\n\r\n", RequestKind::kOther).status, 404);
  for (const char* good : {"HTTP/1.0 200 \r\n\r\n", "HTTP/1.1 200\r\n\r\n"})
    EXPECT_EQ(ReadResponseHead(good, RequestKind::kOther).error, FramingError::kNone) << good;
  for (const std::string& bad : std::vector<std::string>{
           "HTTP/1.1 20 OK\r\n\r\n", "HTTP/1.1 2000\r\n\r\n", "HTTP/1.1 200OK\r\n\r\n",
           "HTTP/2 200 OK\r\n\r\n", "ICY 200 OK\r\n\r\n", "HTTP/1.1  200 OK\r\n\r\n",
           "HTTP/1.1 099 Low\r\n\r\n", "HTTP/1.1 2x0 OK\r\n\r\n", "\r\n\r\n",
           std::string("HTTP/1.1 200 O\0K\r\n\r\n", 21)})
    EXPECT_EQ(ReadResponseHead(bad, RequestKind::kOther).error, FramingError::kBadStartLine) << bad;
  using E = FramingError;
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  for (const auto& [head, error] : std::vector<std::pair<std::string, E>>{
           {"HTTP/1.1 200 O\rK\r\n\r\n", E::kBareCr},
           {ok + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n", E::kLengthAndChunked},
           {ok + "Content-Length: 1, 2\r\n\r\n", E::kBadContentLength}})
    EXPECT_EQ(ReadResponseHead(head, RequestKind::kOther).error, error) << head;
}

TEST(MessageFramingAnswerHead, BodyDependsOnStatusAndRequest) {
  using B = BodyFraming;
  using K = RequestKind;
  const std::string length = "Content-Length: 5\r\n\r\n";
  const std::string chunked = "Transfer-Encoding: chunked\r\n\r\n";
  const std::vector<std::tuple<std::string, K, B, bool>> cases = {
      // The status line and header lines; the request; the body; interim or not.
      {"HTTP/1.1 200 OK\r\n" + length, K::kHead, B::kNone, false},
      {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n" + chunked, K::kHead, B::kNone, false},
      {"HTTP/1.1 100 Continue\r\n\r\n", K::kOther, B::kNone, true},
      {"HTTP/1.1 103 Early Hints\r\n" + length, K::kHead, B::kNone, true},
      {"HTTP/1.1 101 Switching\r\nUpgrade: ws\r\n\r\n", K::kOther, B::kTunnel, false},
      {"HTTP/1.1 204 No Content\r\n" + length, K::kOther, B::kNone, false},
      {"HTTP/1.1 304 Not Modified\r\n" + chunked, K::kOther, B::kNone, false},
      {"HTTP/1.1 200 Connected\r\n" + length, K::kConnect, B::kTunnel, false},
      {"HTTP/1.1 407 Auth\r\n" + length, K::kConnect, B::kContentLength, false},
      {"HTTP/1.1 200 OK\r\n" + chunked, K::kOther, B::kChunked, false},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, gzip\r\n\r\n", K::kOther, B::kUntilClose,
       false},
      {"HTTP/1.1 200 OK\r\n" + length, K::kOther, B::kContentLength, false},
      {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", K::kOther, B::kContentLength, false},
      {"HTTP/1.0 200 OK\r\n\r\n", K::kOther, B::kUntilClose, false},
      {"HTTP/1.0 200 OK\r\n" + chunked, K::kOther, B::kUntilClose, false}};
  for (const auto& [text, request, body, interim] : cases) {
    const CResponseHead head = ReadResponseHead(text, request);
    EXPECT_EQ(head.error, FramingError::kNone) << text;
    EXPECT_EQ(head.body, body) << text;
    EXPECT_EQ(head.interim, interim) << text;
  }
}

// Reads `bytes` as a chunked body as long as the reader takes any: chunk data as
// [data], the chunk framing around it as <framing>, then how the body stopped.
std::string ReadChunked(std::string_view bytes) {
  CBodyReader reader(BodyFraming::kChunked, 0);
  std::string seen;
  for (std::size_t at = 0;;) {
    const CBodyReader::CStep step = reader.Consume(bytes.substr(at));
    const std::string piece(bytes.substr(at, step.consumed));
    at += step.consumed;
    if (!piece.empty()) seen += step.content ? "[" + piece + "]" : "<" + piece + ">";
    if (step.error != FramingError::kNone) return seen + " error at " + std::to_string(at);
    if (step.done || step.consumed == 0) return seen + (step.done ? " done" : "");
  }
}

TEST(MessageFramingBodyReader, ChunkedEndsExactlyAfterTrailers) {
  // Chunk data comes apart from the framing around it, which a filter must not touch.
  EXPECT_EQ(ReadChunked(kChunkedBody + "GET / HTTP/1.1\r\n\r\n"),
            "<5;name=value\r\n>[hello]<\r\n1A ; q=\"a;b\"\r\n>[abcdefghijklmnopqrstuvwxyz]"
            "<\r\n0;last\r\nExpires: never\r\nX-Sum: 1\r\n\r\n> done");
  // Bare LF line ends and no trailers; a size of 16 hex digits.
  EXPECT_EQ(ReadChunked("3\nabc\n0\n\nx"), "<3\n>[abc]<\n0\n\n> done");
  EXPECT_EQ(ReadChunked("FFFFFFFFFFFFFFFF\r\nabc"), "<FFFFFFFFFFFFFFFF\r\n>[abc]");
}

TEST(MessageFramingBodyReader, MalformedChunksAreRefusedWhereTheyGoWrong) {
  const std::vector<std::pair<std::string, std::size_t>> cases = {
      // The body, and the bytes consumed before the fault.
      {"zz\r\n", 0},
      {"\r\nabc", 0},
      {";ext\r\n", 0},
      {"1FFFFFFFFFFFFFFFF\r\n", 16},       // 17 digits
      {"00000000000000001\r\n", 16},       // 17 digits, even with leading zeros
      {"3\r\nabcX\r\n0\r\n\r\n", 6},       // no line end after the data
      {"3\r\nabc\rX0\r\n\r\n", 7},         // a CR alone after the data
      {"3;a=\rb\r\nabc\r\n0\r\n\r\n", 5},  // a CR alone in an extension
      {"3x\r\nabc\r\n0\r\n\r\n", 1},       // not a hex digit, not an extension
      {"0\r\nX: 1\rY\r\n\r\n", 8},         // a CR alone in a trailer
      {"0\r\n\rX", 4},                     // a CR alone in the final line
  };
  for (const auto& [body, goodBytes] : cases) {
    const std::string read = ReadChunked(body);
    EXPECT_TRUE(read.ends_with(" error at " + std::to_string(goodBytes))) << body << ": " << read;
  }
}

TEST(MessageFramingStream, EventsOverEveryKindOfInput) {
  const Side kIn = Side::kRequests, kOut = Side::kAnswers;
  const std::string post = "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
  const std::string big = "GET / HTTP/1.1\r\nX: " + std::string(100, 'a') + "\r\n\r\n";
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  const CFeed close = {.close = true}, connect = {.answersTo = {RequestKind::kConnect}};
  const std::vector<std::tuple<Side, std::string, CFeed, std::string>> cases = {
      // Empty lines before a request are skipped; arriving one byte at a time, the CR of
      // one waits for its LF, and is no header block yet, however small the limit.
      {kIn,
       "\r\n\nGET / HTTP/1.1\r\n\r\n\r\nGET / HTTP/1.1\r\n\r\n",
       {},
       "skip 3|head 18|end|skip 2|head 18|end"},
      {kIn, "\r\nGET / HTTP/1.1\r\n\r\n", {.step = 1}, "skip 2|head 18|end"},
      {kIn, "\r\n\r\n", {.step = 1, .maxHead = 1}, "skip 2|skip 2"},
      {kOut, "\r\n" + ok + "\r\n", {}, "error start line"},  // answers have no such allowance
      // A header block may be as large as the limit, and no larger.
      {kIn, big, {.maxHead = 123}, "head 123|end"},
      {kIn, big, {.maxHead = 122}, "error too large"},
      {kIn, big, {.step = 10, .maxHead = 122}, "error too large"},
      // The good chunk passes; the broken size line after it is the error. A request's
      // chunk lines end with CRLF only: a server might not read a bare LF.
      {kIn, post + "3\r\nabc\r\nzz\r\n", {}, "head 47|body 6|error chunk"},
      {kIn, post + "3\nabc\r\n0\r\n\r\n", {}, "head 47|error chunk"},
      // Nor "5 junk" as the size 5; blanks before ";" are fine.
      {kIn, post + "3 junk\r\nabc\r\n0\r\n\r\n", {}, "head 47|error chunk"},
      {kIn, post + "3 ;a=b\r\nabc\r\n0\r\n\r\n", {}, "head 47|body 18|end"},
      // CONNECT ends with its head; what follows is for the caller to tunnel.
      {kIn, "CONNECT a:443 HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", {}, "head 45|end"},
      {kIn, "GET / HTTP/1.1\r\n\r\n", close, "head 18|end|close more"},
      {kIn, "GET / HTTP/1.1\r\n", close, "close error cut short"},
      {kIn, "POST / HTTP/1.1\r\nContent-Length: 4\r\n\r\nabc", close,
       "head 38|body 3|close error cut short"},
      // After a 101, or a 2xx to CONNECT, every byte is tunnelled.
      {kOut,
       "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n\r\n\x81\x05hello" + ok +
           "Content-Length: 1\r\n\r\nxyz",
       close, "head 56|tunnel|body 48|close more"},
      {kOut, "HTTP/1.1 200 Connection established\r\n\r\n\x16\x03\x01", connect,
       "head 39|tunnel|body 3"},
      {kOut, "HTTP/1.1 407 Auth\r\nContent-Length: 2\r\n\r\nnoxx\r\n\r\n", connect,
       "head 40|body 2|end|error start line"},
      // A body that runs until close ends only with the close; others are cut short.
      {kOut, "HTTP/1.0 200 OK\r\n\r\n" + ok + "\r\n", close, "head 19|body 19|close end"},
      {kOut, ok + "Transfer-Encoding: gzip\r\n\r\nxy", close, "head 44|body 2|close end"},
      {kOut, ok + "Content-Length: 10\r\n\r\n12345", close, "head 39|body 5|close error cut short"},
      {kOut, ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nab", close,
       "head 47|body 5|close error cut short"}};
  for (const auto& [side, bytes, feed, events] : cases)
    EXPECT_EQ(Frame(side, bytes, feed), events) << bytes;

  // An error sticks.
  CMessageStream stream(Side::kRequests);
  EXPECT_EQ(stream.Next("GET / HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\n", 4096).type,
            Event::kError);
  EXPECT_EQ(stream.GetError(), FramingError::kBadTransferEncoding);
  EXPECT_EQ(stream.Next("GET / HTTP/1.1\r\n\r\n", 4096).type, Event::kError);
  EXPECT_EQ(stream.Close().type, Event::kError);
  // The body's last byte came but its end was not reported yet.
  CMessageStream answer(Side::kAnswers);
  EXPECT_EQ(answer.Next(ok + "Content-Length: 1\r\n\r\nx", 4096).length, 38u);
  EXPECT_EQ(answer.Next("x", 4096).length, 1u);
  EXPECT_EQ(answer.Close().type, Event::kEnd);
}

TEST(MessageFramingStream, InterimAndBodilessAnswersPrecedeTheNext) {
  const std::string input =
      "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\n"
      "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n"                     // after HEAD
      "HTTP/1.1 204 No Content\r\nContent-Length: 3\r\n\r\n"             // never a body
      "HTTP/1.1 304 Not Modified\r\nTransfer-Encoding: chunked\r\n\r\n"  // never a body
      "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi";
  CFeed feed = {.answersTo = {RequestKind::kHead, RequestKind::kOther, RequestKind::kOther,
                              RequestKind::kOther}};
  const std::string events =
      "head 25|end|head 40|end|head 38|end|head 46|end|head 57|end|head 38|body 2|end";
  EXPECT_EQ(Frame(Side::kAnswers, input, feed), events);
  feed.step = 1;
  EXPECT_EQ(Frame(Side::kAnswers, input, feed), events);
}

}  // namespace
