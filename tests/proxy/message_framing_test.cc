#include "proxy/message_framing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Event = CMessageStream::Event;
using Side = CMessageStream::Side;

std::string ErrorName(FramingError error) {
  switch (error) {
    case FramingError::kNone:
      return "none";
    case FramingError::kBadStartLine:
      return "start line";
    case FramingError::kBareCr:
      return "bare CR";
    case FramingError::kFoldedLine:
      return "folded";
    case FramingError::kBadHeaderLine:
      return "header line";
    case FramingError::kLengthAndChunked:
      return "length and chunked";
    case FramingError::kBadTransferEncoding:
      return "transfer encoding";
    case FramingError::kBadContentLength:
      return "content length";
    case FramingError::kBadChunk:
      return "chunk";
    case FramingError::kHeadTooLarge:
      return "too large";
    case FramingError::kCutShort:
      return "cut short";
  }
  return "?";
}

// How a test feeds bytes to a stream.
struct CFeed {
  std::size_t step = 0;                // bytes added per receive; 0: all at once
  bool close = false;                  // the sender closes after the last byte
  std::vector<RequestKind> answersTo;  // answers side: the request of each final answer
  std::size_t maxHead = 4096;
};

// The events of a stream over `bytes` received as `feed` says, as a receiver does it:
// every call gets all bytes not yet taken by an event. Adjacent body events are
// merged so that runs over different splits compare equal; "|"-separated.
class CFramer {
 public:
  CFramer(Side side, const CFeed& feed) : m_stream(side), m_side(side), m_feed(feed) {}

  std::string Run(std::string_view bytes) {
    ExpectNext();
    std::size_t read = 0;
    std::size_t received = 0;
    for (std::size_t guard = 0; guard < 4 * bytes.size() + 16; ++guard) {
      const CMessageStream::CEvent event =
          m_stream.Next(bytes.substr(read, received - read), m_feed.maxHead);
      if (event.type == Event::kNeedMore) {
        if (received == bytes.size()) return Finish();
        received = m_feed.step == 0 ? bytes.size() : std::min(bytes.size(), received + m_feed.step);
        continue;
      }
      EXPECT_LE(event.length, received - read);
      read += event.length;
      Note(event);
      if (event.type == Event::kError) return Finish();
      if (event.type == Event::kEnd && m_side == Side::kAnswers &&
          !m_stream.GetResponseHead().interim)
        ExpectNext();
    }
    ADD_FAILURE() << "the stream makes no progress";
    return m_log;
  }

  const CMessageStream& Stream() const { return m_stream; }

 private:
  void ExpectNext() {
    if (m_nextKind < m_feed.answersTo.size())
      m_stream.ExpectAnswerTo(m_feed.answersTo[m_nextKind++]);
  }

  void Note(const CMessageStream::CEvent& event) {
    if (event.type == Event::kBody) {
      m_body += event.length;
      return;
    }
    FlushBody();
    Add(Describe(event));
  }

  std::string Describe(const CMessageStream::CEvent& event) const {
    switch (event.type) {
      case Event::kNeedMore:
        return "more";
      case Event::kSkip:
        return "skip " + std::to_string(event.length);
      case Event::kHead:
        return "head " + std::to_string(event.length);
      case Event::kBody:
        return "body " + std::to_string(event.length);
      case Event::kEnd:
        return "end";
      case Event::kTunnel:
        return "tunnel";
      case Event::kError:
        return "error " + ErrorName(m_stream.GetError());
    }
    return "?";
  }

  std::string Finish() {
    FlushBody();
    if (m_feed.close) Add("close " + Describe(m_stream.Close()));
    return m_log;
  }

  void FlushBody() {
    if (m_body > 0) Add("body " + std::to_string(m_body));
    m_body = 0;
  }

  void Add(const std::string& entry) { m_log += (m_log.empty() ? "" : "|") + entry; }

  CMessageStream m_stream;
  Side m_side;
  CFeed m_feed;
  std::size_t m_nextKind = 0;
  std::size_t m_body = 0;
  std::string m_log;
};

std::string Frame(Side side, std::string_view bytes, const CFeed& feed = {}) {
  return CFramer(side, feed).Run(bytes);
}

// The same bytes fed whole and one byte at a time give the same events.
std::string FrameBothWays(Side side, std::string_view bytes, CFeed feed = {}) {
  const std::string whole = Frame(side, bytes, feed);
  feed.step = 1;
  EXPECT_EQ(Frame(side, bytes, feed), whole) << "fed one byte at a time";
  return whole;
}

FramingError RequestError(const std::string& head) { return ReadRequestHead(head).error; }

FramingError AnswerError(const std::string& head) {
  return ReadResponseHead(head, RequestKind::kOther).error;
}

std::string Request(const std::string& fields) {
  return "POST /form HTTP/1.1\r\nHost: example.com\r\n" + fields + "\r\n";
}

std::string Answer(const std::string& statusLine, const std::string& fields) {
  return statusLine + "\r\n" + fields + "\r\n";
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
  EXPECT_EQ(FindHeadEnd("GET / HTTP/1.1\r\nHost: a\r\n\r"), 0u);
  EXPECT_EQ(FindHeadEnd("GET / HTTP/1.1\r\nHost: a\r\n"), 0u);
  EXPECT_EQ(FindHeadEnd("GET / HTTP/1.1\r\n\r \r\n"), 0u);
  EXPECT_EQ(FindHeadEnd(""), 0u);
  // A NUL inside does not end the search.
  const std::string withNul("GET / HTTP/1.1\r\nX: a\0b\r\n\r\n", 26);
  EXPECT_EQ(FindHeadEnd(withNul), withNul.size());
}

TEST(MessageFramingRequestHead, StartLineNeedsMethodTargetAndHttp1Version) {
  EXPECT_EQ(RequestError("GET / HTTP/1.1\r\n\r\n"), FramingError::kNone);
  EXPECT_EQ(RequestError("GET http://x/?a=b HTTP/1.0\n\n"), FramingError::kNone);
  EXPECT_EQ(RequestError("M-SEARCH * HTTP/1.9\r\n\r\n"), FramingError::kNone);
  for (const char* bad :
       {"GET / HTTP/2.0\r\n\r\n", "GET / HTTP/1.10\r\n\r\n", "GET / http/1.1\r\n\r\n",
        "GET  / HTTP/1.1\r\n\r\n", "GET / HTTP/1.1 \r\n\r\n", "GET /\r\n\r\n",
        " GET / HTTP/1.1\r\n\r\n", "G(T / HTTP/1.1\r\n\r\n", "GET /a\x01 HTTP/1.1\r\n\r\n",
        "GET /\tx HTTP/1.1\r\n\r\n", "\r\n\r\n"})
    EXPECT_EQ(RequestError(bad), FramingError::kBadStartLine) << bad;
}

TEST(MessageFramingRequestHead, MethodKindIsExactAndCaseSensitive) {
  EXPECT_EQ(ReadRequestHead("HEAD / HTTP/1.1\r\n\r\n").kind, RequestKind::kHead);
  EXPECT_EQ(ReadRequestHead("CONNECT a:443 HTTP/1.1\r\n\r\n").kind, RequestKind::kConnect);
  EXPECT_EQ(ReadRequestHead("head / HTTP/1.1\r\n\r\n").kind, RequestKind::kOther);
  EXPECT_EQ(ReadRequestHead("HEADER / HTTP/1.1\r\n\r\n").kind, RequestKind::kOther);
  EXPECT_EQ(ReadRequestHead("connect a:443 HTTP/1.1\r\n\r\n").kind, RequestKind::kOther);
}

TEST(MessageFramingRequestHead, MalformedHeaderLinesAreRefused) {
  EXPECT_EQ(RequestError(Request("X-A: 1\r\n  continued\r\n")), FramingError::kFoldedLine);
  EXPECT_EQ(RequestError("GET / HTTP/1.1\r\n\tX-A: 1\r\n\r\n"), FramingError::kFoldedLine);
  EXPECT_EQ(RequestError(Request("X-A: 1\r2\r\n")), FramingError::kBareCr);
  EXPECT_EQ(RequestError(Request("X-A: 1\r\r\n")), FramingError::kBareCr);
  EXPECT_EQ(RequestError("GET / HTTP/1.1\rX: 1\r\n\r\n"), FramingError::kBareCr);
  EXPECT_EQ(RequestError(Request("No colon here\r\n")), FramingError::kBadHeaderLine);
  EXPECT_EQ(RequestError(Request(": empty name\r\n")), FramingError::kBadHeaderLine);
  EXPECT_EQ(RequestError(Request("Content-Length : 5\r\n")), FramingError::kBadHeaderLine);
  EXPECT_EQ(RequestError(Request("Transfer-Encoding\t: chunked\r\n")),
            FramingError::kBadHeaderLine);
  EXPECT_EQ(RequestError(Request(std::string("X\0Y: 1\r\n", 8))), FramingError::kBadHeaderLine);
  // Other readers of the head stop at a NUL; the framing must not read past it unnoticed.
  EXPECT_EQ(RequestError(Request(std::string("X: a\0\r\n", 7))), FramingError::kBadHeaderLine);
  // Blanks after the colon and an empty value are fine.
  EXPECT_EQ(RequestError(Request("X-A:\r\nX-B:   2  \r\n")), FramingError::kNone);
}

TEST(MessageFramingRequestHead, TransferEncodingMustEndInChunkedAndStandAlone) {
  CRequestHead head = ReadRequestHead(Request("tRANSFER-eNCODING:  Chunked \r\n"));
  EXPECT_EQ(head.error, FramingError::kNone);
  EXPECT_EQ(head.body, BodyFraming::kChunked);
  // The list goes on over several lines; the final coding decides.
  head = ReadRequestHead(Request("Transfer-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n"));
  EXPECT_EQ(head.body, BodyFraming::kChunked);
  EXPECT_EQ(ReadRequestHead(Request("Transfer-Encoding: gzip , chunked,\r\n")).body,
            BodyFraming::kChunked);

  EXPECT_EQ(RequestError(Request("Transfer-Encoding: gzip\r\n")),
            FramingError::kBadTransferEncoding);
  EXPECT_EQ(RequestError(Request("Transfer-Encoding: chunked, gzip\r\n")),
            FramingError::kBadTransferEncoding);
  EXPECT_EQ(RequestError(Request("Transfer-Encoding: chunked\r\nTransfer-Encoding: gzip\r\n")),
            FramingError::kBadTransferEncoding);
  EXPECT_EQ(RequestError(Request("Transfer-Encoding: chunkedx\r\n")),
            FramingError::kBadTransferEncoding);
  EXPECT_EQ(RequestError(Request("Transfer-Encoding:\r\n")), FramingError::kBadTransferEncoding);
  // An HTTP/1.0 server would not read the chunks, and would take them for the next request.
  EXPECT_EQ(RequestError("POST / HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n"),
            FramingError::kBadTransferEncoding);
  head = ReadRequestHead(Request("Transfer-Encoding: chunked\r\nContent-Length: 5\r\n"));
  EXPECT_EQ(head.error, FramingError::kLengthAndChunked);
  EXPECT_EQ(head.body, BodyFraming::kNone);
  EXPECT_EQ(RequestError(Request("Content-Length: 5\r\nTransfer-Encoding: chunked\r\n")),
            FramingError::kLengthAndChunked);
}

TEST(MessageFramingRequestHead, ContentLengthIsOneDecimalNumber) {
  CRequestHead head = ReadRequestHead(Request("content-length: 5, 5\r\n"));
  EXPECT_EQ(head.error, FramingError::kNone);
  EXPECT_EQ(head.body, BodyFraming::kContentLength);
  EXPECT_EQ(head.contentLength, 5u);
  head = ReadRequestHead(Request("Content-Length: 7\r\nContent-Length: 7\r\n"));
  EXPECT_EQ(head.contentLength, 7u);
  head = ReadRequestHead(Request("Content-Length: 0\r\n"));
  EXPECT_EQ(head.body, BodyFraming::kContentLength);
  EXPECT_EQ(head.contentLength, 0u);
  head = ReadRequestHead(Request("Content-Length: 9223372036854775807\r\n"));
  EXPECT_EQ(head.contentLength, 9223372036854775807u);

  for (const char* bad : {"12, 13", "+5", "-5", "", "5a", "0x10", "5 5", "5,", ",5",
                          "9223372036854775808", "99999999999999999999999"})
    EXPECT_EQ(RequestError(Request(std::string("Content-Length: ") + bad + "\r\n")),
              FramingError::kBadContentLength)
        << bad;
  EXPECT_EQ(RequestError(Request("Content-Length: 5\r\nContent-Length: 6\r\n")),
            FramingError::kBadContentLength);
  EXPECT_EQ(ReadRequestHead(Request("X-Length: 5\r\n")).body, BodyFraming::kNone);
}

TEST(MessageFramingRequestHead, ConnectHasNoBodyAndUpgradeIsNoted) {
  CRequestHead head = ReadRequestHead(
      "CONNECT a:443 HTTP/1.1\r\nContent-Length: 5\r\nTransfer-Encoding: gzip\r\n\r\n");
  EXPECT_EQ(head.error, FramingError::kNone);
  EXPECT_EQ(head.body, BodyFraming::kNone);
  EXPECT_EQ(RequestError("CONNECT a:443 HTTP/1.1\r\nBad line\r\n\r\n"),
            FramingError::kBadHeaderLine);

  EXPECT_TRUE(ReadRequestHead(Request("upgrade: websocket\r\n")).asksUpgrade);
  EXPECT_FALSE(ReadRequestHead(Request("X-Upgrade: websocket\r\n")).asksUpgrade);
}

TEST(MessageFramingAnswerHead, StatusLineNeedsVersionAndThreeDigits) {
  EXPECT_EQ(ReadResponseHead("HTTP/1.1 404 Not Found\r\n\r\n", RequestKind::kOther).status, 404);
  EXPECT_EQ(AnswerError("HTTP/1.0 200 \r\n\r\n"), FramingError::kNone);
  EXPECT_EQ(AnswerError("HTTP/1.1 200\r\n\r\n"), FramingError::kNone);
  for (const char* bad :
       {"HTTP/1.1 20 OK\r\n\r\n", "HTTP/1.1 2000\r\n\r\n", "HTTP/1.1 200OK\r\n\r\n",
        "HTTP/2 200 OK\r\n\r\n", "ICY 200 OK\r\n\r\n", "HTTP/1.1  200 OK\r\n\r\n",
        "HTTP/1.1 099 Low\r\n\r\n", "HTTP/1.1 2x0 OK\r\n\r\n", "\r\n\r\n"})
    EXPECT_EQ(AnswerError(bad), FramingError::kBadStartLine) << bad;
  EXPECT_EQ(AnswerError("HTTP/1.1 200 OK\r\n folded\r\n\r\n"), FramingError::kFoldedLine);
  EXPECT_EQ(AnswerError("HTTP/1.1 200 O\rK\r\n\r\n"), FramingError::kBareCr);
  EXPECT_EQ(AnswerError(std::string("HTTP/1.1 200 O\0K\r\n\r\n", 21)), FramingError::kBadStartLine);
  EXPECT_EQ(AnswerError("HTTP/1.1 200 OK\r\nServer : x\r\n\r\n"), FramingError::kBadHeaderLine);
}

TEST(MessageFramingAnswerHead, BodyDependsOnStatusAndRequest) {
  struct CCase {
    std::string head;
    RequestKind request;
    BodyFraming body;
    bool interim;
  };
  const std::string length = "Content-Length: 5\r\n";
  const std::string chunked = "Transfer-Encoding: chunked\r\n";
  const std::vector<CCase> cases = {
      {Answer("HTTP/1.1 200 OK", length), RequestKind::kHead, BodyFraming::kNone, false},
      {Answer("HTTP/1.1 200 OK", length + chunked), RequestKind::kHead, BodyFraming::kNone, false},
      {Answer("HTTP/1.1 100 Continue", ""), RequestKind::kOther, BodyFraming::kNone, true},
      {Answer("HTTP/1.1 103 Early Hints", length), RequestKind::kHead, BodyFraming::kNone, true},
      {Answer("HTTP/1.1 101 Switching", "Upgrade: ws\r\n"), RequestKind::kOther,
       BodyFraming::kTunnel, false},
      {Answer("HTTP/1.1 204 No Content", length), RequestKind::kOther, BodyFraming::kNone, false},
      {Answer("HTTP/1.1 304 Not Modified", chunked), RequestKind::kOther, BodyFraming::kNone,
       false},
      {Answer("HTTP/1.1 200 Connected", length), RequestKind::kConnect, BodyFraming::kTunnel,
       false},
      {Answer("HTTP/1.1 407 Auth", length), RequestKind::kConnect, BodyFraming::kContentLength,
       false},
      {Answer("HTTP/1.1 200 OK", chunked), RequestKind::kOther, BodyFraming::kChunked, false},
      {Answer("HTTP/1.1 200 OK", "Transfer-Encoding: chunked, gzip\r\n"), RequestKind::kOther,
       BodyFraming::kUntilClose, false},
      {Answer("HTTP/1.1 200 OK", length), RequestKind::kOther, BodyFraming::kContentLength, false},
      {Answer("HTTP/1.0 200 OK", ""), RequestKind::kOther, BodyFraming::kUntilClose, false},
      {Answer("HTTP/1.0 200 OK", chunked), RequestKind::kOther, BodyFraming::kUntilClose, false},
  };
  for (const CCase& c : cases) {
    const CResponseHead head = ReadResponseHead(c.head, c.request);
    EXPECT_EQ(head.error, FramingError::kNone) << c.head;
    EXPECT_EQ(head.body, c.body) << c.head;
    EXPECT_EQ(head.interim, c.interim) << c.head;
  }
  EXPECT_EQ(AnswerError(Answer("HTTP/1.1 200 OK", length + chunked)),
            FramingError::kLengthAndChunked);
  EXPECT_EQ(AnswerError(Answer("HTTP/1.1 200 OK", "Content-Length: 1, 2\r\n")),
            FramingError::kBadContentLength);
  EXPECT_EQ(
      ReadResponseHead(Answer("HTTP/1.1 200 OK", "Content-Length: 0\r\n"), RequestKind::kOther)
          .body,
      BodyFraming::kContentLength);
}

TEST(MessageFramingBodyReader, LengthCountsDownAndLeavesTheRest) {
  CBodyReader reader(BodyFraming::kContentLength, 5);
  EXPECT_FALSE(reader.IsDone());
  CBodyReader::CStep step = reader.Consume("abc");
  EXPECT_EQ(step.consumed, 3u);
  EXPECT_FALSE(step.done);
  step = reader.Consume("deGET / HTTP/1.1\r\n");
  EXPECT_EQ(step.consumed, 2u);
  EXPECT_TRUE(step.done);
  EXPECT_TRUE(reader.IsDone());
  EXPECT_EQ(reader.Consume("more").consumed, 0u);

  EXPECT_TRUE(CBodyReader(BodyFraming::kNone, 0).IsDone());
  EXPECT_EQ(CBodyReader(BodyFraming::kNone, 0).Consume("abc").consumed, 0u);
  CBodyReader untilClose(BodyFraming::kUntilClose, 0);
  EXPECT_EQ(untilClose.Consume("abc").consumed, 3u);
  EXPECT_FALSE(untilClose.IsDone());
}

// Feeds `body` one byte at a time; the total consumed until done, or the error.
CBodyReader::CStep ChunkedByteByByte(const std::string& body) {
  CBodyReader reader(BodyFraming::kChunked, 0);
  CBodyReader::CStep total;
  for (char c : body) {
    const CBodyReader::CStep step = reader.Consume(std::string_view(&c, 1));
    total.consumed += step.consumed;
    total.error = step.error;
    total.done = step.done;
    if (step.done || step.error != FramingError::kNone) break;
  }
  return total;
}

// Consumes `bytes` step by step, as long as the reader takes any: chunk data and
// chunk framing come in separate steps.
CBodyReader::CStep ConsumeAll(CBodyReader& reader, std::string_view bytes) {
  CBodyReader::CStep total;
  for (;;) {
    const CBodyReader::CStep step = reader.Consume(bytes.substr(total.consumed));
    total.consumed += step.consumed;
    total.error = step.error;
    total.done = step.done;
    if (step.done || step.error != FramingError::kNone || step.consumed == 0) return total;
  }
}

TEST(MessageFramingBodyReader, ChunkedEndsExactlyAfterTrailersInAnyPieces) {
  const std::string after = "GET / HTTP/1.1\r\n\r\n";
  CBodyReader whole(BodyFraming::kChunked, 0);
  const CBodyReader::CStep step = ConsumeAll(whole, kChunkedBody + after);
  EXPECT_EQ(step.error, FramingError::kNone);
  EXPECT_TRUE(step.done);
  EXPECT_EQ(step.consumed, kChunkedBody.size());

  const CBodyReader::CStep byByte = ChunkedByteByByte(kChunkedBody + after);
  EXPECT_TRUE(byByte.done);
  EXPECT_EQ(byByte.consumed, kChunkedBody.size());

  // Chunk data comes apart from the framing around it, which a filter must not touch.
  CBodyReader parts(BodyFraming::kChunked, 0);
  std::string_view rest = "3;x=y\r\nabc\r\n0\r\nT: 1\r\n\r\n";
  std::string seen;
  while (!rest.empty()) {
    const CBodyReader::CStep part = parts.Consume(rest);
    ASSERT_GT(part.consumed, 0u);
    seen += (part.content ? "[" : "<") + std::string(rest.substr(0, part.consumed)) +
            (part.content ? "]" : ">");
    rest.remove_prefix(part.consumed);
  }
  EXPECT_EQ(seen, "<3;x=y\r\n>[abc]<\r\n0\r\nT: 1\r\n\r\n>");

  // Bare LF line ends, no trailers, and a size of 16 hex digits.
  const std::string bareLf = "3\nabc\n0\n\n";
  EXPECT_EQ(ChunkedByteByByte(bareLf + "x").consumed, bareLf.size());
  CBodyReader big(BodyFraming::kChunked, 0);
  const CBodyReader::CStep bigStep = ConsumeAll(big, "FFFFFFFFFFFFFFFF\r\nabc");
  EXPECT_EQ(bigStep.error, FramingError::kNone);
  EXPECT_EQ(bigStep.consumed, 21u);
  EXPECT_FALSE(bigStep.done);
}

TEST(MessageFramingBodyReader, MalformedChunksAreRefusedWhereTheyGoWrong) {
  struct CCase {
    std::string body;
    std::size_t goodBytes;  // bytes consumed before the fault
  };
  const std::vector<CCase> cases = {
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
  for (const CCase& c : cases) {
    CBodyReader reader(BodyFraming::kChunked, 0);
    const CBodyReader::CStep step = ConsumeAll(reader, c.body);
    EXPECT_EQ(step.error, FramingError::kBadChunk) << c.body;
    EXPECT_EQ(step.consumed, c.goodBytes) << c.body;
    EXPECT_EQ(ChunkedByteByByte(c.body).error, FramingError::kBadChunk) << c.body;
  }
}

TEST(MessageFramingRequests, PipelinedMessagesSplitExactly) {
  const std::string get = "GET /a HTTP/1.1\r\nHost: x\r\n\r\n";
  const std::string post = "POST /b HTTP/1.1\r\nContent-Length: 5\r\n\r\n";
  const std::string chunked = "POST /c HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
  const std::string input = get + post + "hello" + chunked + kChunkedBody + get;
  const std::string expected =
      "head " + std::to_string(get.size()) + "|end|head " + std::to_string(post.size()) +
      "|body 5|end|head " + std::to_string(chunked.size()) + "|body " +
      std::to_string(kChunkedBody.size()) + "|end|head " + std::to_string(get.size()) + "|end";
  EXPECT_EQ(FrameBothWays(Side::kRequests, input), expected);
  CFeed feed;
  feed.step = 7;
  EXPECT_EQ(Frame(Side::kRequests, input, feed), expected);
}

TEST(MessageFramingRequests, BodyThatLooksLikeARequestStaysBody) {
  const std::string smuggled = "GET http://x/ HTTP/1.1\r\nHost: x\r\n\r\n";
  const std::string post =
      "POST / HTTP/1.1\r\nContent-Length: " + std::to_string(smuggled.size()) + "\r\n\r\n";
  EXPECT_EQ(
      FrameBothWays(Side::kRequests, post + smuggled),
      "head " + std::to_string(post.size()) + "|body " + std::to_string(smuggled.size()) + "|end");
  const std::string chunkedPost = "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
  const std::string body = "23\r\n" + smuggled + "\r\n0\r\n\r\n";
  ASSERT_EQ(smuggled.size(), 0x23u);
  EXPECT_EQ(FrameBothWays(Side::kRequests, chunkedPost + body),
            "head " + std::to_string(chunkedPost.size()) + "|body " + std::to_string(body.size()) +
                "|end");
}

TEST(MessageFramingRequests, EmptyLinesBetweenRequestsAreSkipped) {
  EXPECT_EQ(Frame(Side::kRequests, "\r\n\nGET / HTTP/1.1\r\n\r\n\r\nGET / HTTP/1.1\r\n\r\n"),
            "skip 3|head 18|end|skip 2|head 18|end");
  // Arriving one byte at a time, the CR of an empty line waits for its LF.
  CFeed feed;
  feed.step = 1;
  EXPECT_EQ(Frame(Side::kRequests, "\r\nGET / HTTP/1.1\r\n\r\n", feed), "skip 2|head 18|end");
  // That CR is no header block yet, however small the limit.
  feed.maxHead = 1;
  EXPECT_EQ(Frame(Side::kRequests, "\r\n\r\n", feed), "skip 2|skip 2");
  // Answers have no such allowance.
  EXPECT_EQ(Frame(Side::kAnswers, "\r\nHTTP/1.1 200 OK\r\n\r\n"), "error start line");
}

TEST(MessageFramingRequests, ErrorsStickAndHeadsHaveALimit) {
  CFramer framer(Side::kRequests, {});
  EXPECT_EQ(framer.Run("GET / HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\n"),
            "error transfer encoding");
  CMessageStream stream = framer.Stream();
  EXPECT_EQ(stream.Next("GET / HTTP/1.1\r\n\r\n", 4096).type, Event::kError);
  EXPECT_EQ(stream.Close().type, Event::kError);

  const std::string head = "GET / HTTP/1.1\r\nX: " + std::string(100, 'a') + "\r\n\r\n";
  CFeed feed;
  feed.maxHead = head.size();
  EXPECT_EQ(Frame(Side::kRequests, head, feed), "head " + std::to_string(head.size()) + "|end");
  feed.maxHead = head.size() - 1;
  EXPECT_EQ(Frame(Side::kRequests, head, feed), "error too large");
  feed.step = 10;
  EXPECT_EQ(Frame(Side::kRequests, head, feed), "error too large");
  // A header block still short of the limit waits.
  CMessageStream waiting(Side::kRequests);
  EXPECT_EQ(waiting.Next("GET / HTTP/1.1\r\n", 4096).type, Event::kNeedMore);
  EXPECT_FALSE(waiting.InMessage());
}

TEST(MessageFramingRequests, BrokenBodyAndConnectAndClose) {
  const std::string post = "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
  // The good chunk passes; the broken size line after it is the error.
  EXPECT_EQ(Frame(Side::kRequests, post + "3\r\nabc\r\nzz\r\n"),
            "head " + std::to_string(post.size()) + "|body 6|error chunk");
  // A request's chunk lines end with CRLF only: a server might not read a bare LF.
  EXPECT_EQ(Frame(Side::kRequests, post + "3\nabc\r\n0\r\n\r\n"),
            "head " + std::to_string(post.size()) + "|error chunk");
  // CONNECT ends with its head; what follows is for the caller to tunnel.
  CMessageStream connect(Side::kRequests);
  const std::string head = "CONNECT a:443 HTTP/1.1\r\nContent-Length: 3\r\n\r\n";
  EXPECT_EQ(connect.Next(head + "abc", 4096).type, Event::kHead);
  EXPECT_TRUE(connect.InMessage());
  EXPECT_EQ(connect.Next("abc", 4096).type, Event::kEnd);
  EXPECT_FALSE(connect.InMessage());

  CFeed feed;
  feed.close = true;
  EXPECT_EQ(Frame(Side::kRequests, "GET / HTTP/1.1\r\n\r\n", feed), "head 18|end|close more");
  EXPECT_EQ(Frame(Side::kRequests, "GET / HTTP/1.1\r\n", feed), "close error cut short");
  EXPECT_EQ(Frame(Side::kRequests, "POST / HTTP/1.1\r\nContent-Length: 4\r\n\r\nabc", feed),
            "head 38|body 3|close error cut short");
}

TEST(MessageFramingAnswers, NoBodyAfterHeadAnd204And304) {
  const std::string headAnswer = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n";
  const std::string next = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi";
  CFeed feed;
  feed.answersTo = {RequestKind::kHead, RequestKind::kOther};
  EXPECT_EQ(FrameBothWays(Side::kAnswers, headAnswer + next, feed),
            "head 38|end|head 38|body 2|end");
  feed.answersTo = {};
  EXPECT_EQ(Frame(Side::kAnswers, "HTTP/1.1 204 No Content\r\nContent-Length: 3\r\n\r\n" + next),
            "head 46|end|head 38|body 2|end");
  EXPECT_EQ(Frame(Side::kAnswers, "HTTP/1.1 304 Not Modified\r\n\r\n" + next),
            "head 29|end|head 38|body 2|end");
}

TEST(MessageFramingAnswers, InterimAnswersPrecedeTheFinalOne) {
  const std::string input =
      "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\n"
      "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";
  CFeed feed;
  // The answer-to kind stays for the final answer: no body after HEAD.
  feed.answersTo = {RequestKind::kHead};
  EXPECT_EQ(FrameBothWays(Side::kAnswers, input, feed), "head 25|end|head 40|end|head 38|end");
  feed.answersTo = {RequestKind::kOther};
  EXPECT_EQ(FrameBothWays(Side::kAnswers, input, feed),
            "head 25|end|head 40|end|head 38|body 5|end");
}

TEST(MessageFramingAnswers, SwitchAndConnectStartATunnel) {
  CMessageStream stream(Side::kAnswers);
  const std::string head = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n\r\n";
  EXPECT_EQ(stream.Next(head + "\x81\x05hello", 4096).type, Event::kHead);
  EXPECT_EQ(stream.Next("\x81\x05hello", 4096).type, Event::kTunnel);
  EXPECT_FALSE(stream.InMessage());
  const std::string raw = "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nxyz";
  const CMessageStream::CEvent body = stream.Next(raw, 4096);
  EXPECT_EQ(body.type, Event::kBody);
  EXPECT_EQ(body.length, raw.size());
  EXPECT_EQ(stream.Next("", 4096).type, Event::kNeedMore);
  EXPECT_EQ(stream.Close().type, Event::kNeedMore);

  CFeed feed;
  feed.answersTo = {RequestKind::kConnect};
  EXPECT_EQ(Frame(Side::kAnswers, "HTTP/1.1 200 Connection established\r\n\r\n\x16\x03\x01", feed),
            "head 39|tunnel|body 3");
  EXPECT_EQ(
      Frame(Side::kAnswers, "HTTP/1.1 407 Auth\r\nContent-Length: 2\r\n\r\nnoxx\r\n\r\n", feed),
      "head 40|body 2|end|error start line");
}

TEST(MessageFramingAnswers, UntilCloseEndsOnlyWithClose) {
  CFeed feed;
  feed.close = true;
  EXPECT_EQ(Frame(Side::kAnswers, "HTTP/1.0 200 OK\r\n\r\nHTTP/1.1 200 OK\r\n\r\n", feed),
            "head 19|body 19|close end");
  EXPECT_EQ(Frame(Side::kAnswers, "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\nxy", feed),
            "head 44|body 2|close end");
  EXPECT_EQ(Frame(Side::kAnswers, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n12345", feed),
            "head 39|body 5|close error cut short");
  EXPECT_EQ(
      Frame(Side::kAnswers, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab", feed),
      "head 47|body 5|close error cut short");
  // The body's last byte came but its end was not reported yet.
  CMessageStream stream(Side::kAnswers);
  EXPECT_EQ(stream.Next("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx", 4096).length, 38u);
  EXPECT_EQ(stream.Next("x", 4096).length, 1u);
  EXPECT_EQ(stream.Close().type, Event::kEnd);
}

}  // namespace
