// The HTTP framing checked against Debian's http_parser, an independent, widely used
// parser: generated streams of requests and of answers must be cut at the same places.
#include <gtest/gtest.h>
#include <http_parser.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "proxy/message_framing.h"

namespace {

using Side = CMessageStream::Side;
using Event = CMessageStream::Event;

constexpr std::size_t kMaxHead = 64 * 1024;

// Where one message lies in the stream (offsets from its start): its header block
// ends at `headEnd`, the whole message at `end`. A message that opens a tunnel ends
// with its header block.
struct CFrame {
  std::size_t headEnd = 0;
  std::size_t end = 0;
  bool operator==(const CFrame&) const = default;
};

struct CFraming {
  bool accepted = true;
  std::vector<CFrame> frames;
  std::vector<std::uint64_t> payloads;  // http_parser only: body bytes without chunk framing
  std::string why;                      // why it was refused
  std::size_t at = 0;                   // where: the refused byte, or the refused message
};

std::string Describe(const CFraming& framing) {
  std::string text = framing.accepted
                         ? "accepted:"
                         : "refused (" + framing.why + " at " + std::to_string(framing.at) + "):";
  for (const CFrame& frame : framing.frames)
    text += " [" + std::to_string(frame.headEnd) + "," + std::to_string(frame.end) + ")";
  return text;
}

// A generated stream and what its parts are.
struct CStream {
  Side side = Side::kRequests;
  std::string bytes;
  std::vector<RequestKind> answersTo;  // answers: the request of each final answer
  std::vector<CFrame> frames;
  std::vector<std::uint64_t> payloads;
};

// Our stream over `bytes`, received in pieces that end at `cuts` (ascending).
class COurFramer {
 public:
  COurFramer(const CStream& stream, std::vector<std::size_t> cuts)
      : m_stream(stream.side), m_in(stream), m_cuts(std::move(cuts)) {
    m_cuts.push_back(stream.bytes.size());
  }

  CFraming Run() {
    ExpectNext();
    for (std::size_t guard = 0; guard < 4 * m_in.bytes.size() + 64; ++guard) {
      const CMessageStream::CEvent event = m_stream.Next(Unread(), kMaxHead);
      if (event.type == Event::kNeedMore) {
        if (m_cut == m_cuts.size()) return Closed();
        m_received = std::max(m_received, m_cuts[m_cut++]);
        continue;
      }
      m_read += event.length;
      if (!Note(event)) return m_result;
    }
    ADD_FAILURE() << "no progress";
    return m_result;
  }

 private:
  std::string_view Unread() const {
    return std::string_view(m_in.bytes).substr(m_read, m_received - m_read);
  }

  void ExpectNext() {
    if (m_nextKind < m_in.answersTo.size()) m_stream.ExpectAnswerTo(m_in.answersTo[m_nextKind++]);
  }

  // False when the stream is over for the framing: refused, or a tunnel from here.
  bool Note(const CMessageStream::CEvent& event) {
    switch (event.type) {
      case Event::kHead:
        m_headEnd = m_read;
        return true;
      case Event::kEnd:
        m_result.frames.push_back({m_headEnd, m_read});
        return EndMessage();
      case Event::kTunnel:
        m_result.frames.push_back({m_headEnd, m_headEnd});
        return false;
      case Event::kError:
        Refused();
        return false;
      default:
        return true;
    }
  }

  bool EndMessage() {
    if (m_in.side == Side::kRequests)
      return m_stream.GetRequestHead().kind != RequestKind::kConnect;  // a tunnel follows
    if (!m_stream.GetResponseHead().interim) ExpectNext();
    return true;
  }

  CFraming Closed() {
    const CMessageStream::CEvent event = m_stream.Close();
    if (event.type == Event::kEnd) m_result.frames.push_back({m_headEnd, m_in.bytes.size()});
    if (event.type == Event::kError) Refused();
    return m_result;
  }

  void Refused() {
    m_result.accepted = false;
    m_result.why = "framing error " + std::to_string(static_cast<int>(m_stream.GetError()));
    m_result.at = m_read;
  }

  CMessageStream m_stream;
  const CStream& m_in;
  std::vector<std::size_t> m_cuts;
  std::size_t m_cut = 0;
  std::size_t m_received = 0;
  std::size_t m_read = 0;
  std::size_t m_headEnd = 0;
  std::size_t m_nextKind = 0;
  CFraming m_result;
};

// http_parser over the same bytes, given one byte at a time so that every callback
// knows the offset of the byte that caused it.
class CReferenceFramer {
 public:
  explicit CReferenceFramer(const CStream& stream) : m_in(stream) {
    http_parser_init(&m_parser, stream.side == Side::kRequests ? HTTP_REQUEST : HTTP_RESPONSE);
    m_parser.data = this;
    http_parser_settings_init(&m_settings);
    m_settings.on_headers_complete = OnHeadersComplete;
    m_settings.on_body = OnBody;
    m_settings.on_message_complete = OnMessageComplete;
  }

  CFraming Run() {
    const std::string& bytes = m_in.bytes;
    for (m_pos = 0; m_pos < bytes.size(); ++m_pos) {
      http_parser_execute(&m_parser, &m_settings, bytes.data() + m_pos, 1);
      if (HTTP_PARSER_ERRNO(&m_parser) != HPE_OK) return Refused();
      if (m_parser.upgrade) return m_result;
    }
    m_pos = bytes.size() - 1;  // the end of the stream completes a body that runs until close
    http_parser_execute(&m_parser, &m_settings, nullptr, 0);
    if (HTTP_PARSER_ERRNO(&m_parser) != HPE_OK) return Refused();
    return m_result;
  }

  http_errno Error() const { return HTTP_PARSER_ERRNO(&m_parser); }

 private:
  CFraming Refused() {
    m_result.accepted = false;
    m_result.why = http_errno_name(Error());
    m_result.at = m_pos;
    return m_result;
  }

  static CReferenceFramer& Of(http_parser* parser) {
    return *static_cast<CReferenceFramer*>(parser->data);
  }

  // For answers the caller says what the request was: 1 for no body (HEAD), 2 for
  // no body and a tunnel after it (CONNECT).
  static int OnHeadersComplete(http_parser* parser) {
    CReferenceFramer& self = Of(parser);
    self.m_headEnd = self.m_pos + 1;
    if (self.m_in.side == Side::kRequests) return 0;
    const unsigned status = parser->status_code;
    if (status / 100 == 1 && status != 101) return 0;  // the final answer follows
    RequestKind request = RequestKind::kOther;
    if (self.m_nextKind < self.m_in.answersTo.size())
      request = self.m_in.answersTo[self.m_nextKind++];
    if (request == RequestKind::kHead) return 1;
    if (request == RequestKind::kConnect && status / 100 == 2) return 2;
    return 0;
  }

  static int OnBody(http_parser* parser, const char*, std::size_t length) {
    Of(parser).m_payload += length;
    return 0;
  }

  static int OnMessageComplete(http_parser* parser) {
    CReferenceFramer& self = Of(parser);
    self.m_result.frames.push_back({self.m_headEnd, self.m_pos + 1});
    self.m_result.payloads.push_back(self.m_payload);
    self.m_payload = 0;
    return 0;
  }

  const CStream& m_in;
  http_parser m_parser{};
  http_parser_settings m_settings{};
  std::size_t m_pos = 0;
  std::size_t m_headEnd = 0;
  std::uint64_t m_payload = 0;
  std::size_t m_nextKind = 0;
  CFraming m_result;
};

// Well-formed streams from a fixed seed, so that every run checks the same ones.
class CGenerator {
 public:
  explicit CGenerator(std::uint64_t seed) : m_random(seed) {}

  std::size_t Below(std::size_t n) { return static_cast<std::size_t>(m_random() % n); }
  bool OneIn(std::size_t n) { return Below(n) == 0; }

  CStream Requests() {
    CStream stream;
    stream.side = Side::kRequests;
    const std::size_t count = 1 + Below(5);
    for (std::size_t i = 0; i < count; ++i) {
      if (OneIn(8)) stream.bytes += OneIn(2) ? "\r\n" : "\n";
      AddRequest(stream, i + 1 == count && OneIn(15));
    }
    return stream;
  }

  CStream Answers() {
    CStream stream;
    stream.side = Side::kAnswers;
    const std::size_t count = 1 + Below(5);
    for (std::size_t i = 0; i < count; ++i) AddAnswer(stream, i + 1 == count);
    return stream;
  }

  // A few bytes changed, inserted or removed, mostly inside header blocks and chunk
  // lines, where the framing is read.
  void Mutate(CStream& stream) {
    static const std::string kBytes = "\r\n \t:;,0159aAfF-\"\x7f\x80\xff";
    const std::size_t edits = 1 + Below(3);
    for (std::size_t i = 0; i < edits && !stream.bytes.empty(); ++i) {
      const std::size_t at = Where(stream);
      const char byte = OneIn(4) ? static_cast<char>(Below(256)) : kBytes[Below(kBytes.size() + 1)];
      switch (Below(3)) {
        case 0:
          stream.bytes[at] = byte;
          break;
        case 1:
          stream.bytes.insert(stream.bytes.begin() + static_cast<std::ptrdiff_t>(at), byte);
          break;
        default:
          stream.bytes.erase(at, 1);
      }
    }
  }

  // Up to `most` ascending offsets inside `size` where the stream is cut.
  std::vector<std::size_t> Cuts(std::size_t size, std::size_t most) {
    std::vector<std::size_t> cuts;
    if (size == 0) return cuts;
    const std::size_t count = Below(most + 1);
    for (std::size_t i = 0; i < count; ++i) cuts.push_back(Below(size));
    std::sort(cuts.begin(), cuts.end());
    return cuts;
  }

 private:
  std::string Pick(const std::vector<std::string>& choices) {
    return choices[Below(choices.size())];
  }

  std::string Token(std::size_t least, std::size_t most) {
    static const std::string kChars =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_.!#$%&'*+^`|~";
    std::string token;
    const std::size_t length = least + Below(most - least + 1);
    for (std::size_t i = 0; i < length; ++i) token += kChars[Below(kChars.size())];
    return token;
  }

  // Any case of the letters, as peers write names and codings.
  std::string Cased(std::string text) {
    for (char& c : text) {
      if (OneIn(3)) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (OneIn(3)) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
  }

  std::string Blanks() { return Pick({"", "", " ", "  ", "\t", " \t"}); }

  std::string Field(const std::string& name, const std::string& value) {
    return name + ":" + Blanks() + value + Blanks() + "\r\n";
  }

  // http_parser refuses a tab after a length or a coding (see the strictness cases).
  std::string FramingField(const std::string& name, const std::string& value) {
    return name + ":" + Blanks() + value + Pick({"", "", " ", "  "}) + "\r\n";
  }

  // A value of visible characters with blanks inside.
  std::string Value() {
    std::string value = Token(1, 12);
    while (OneIn(2)) value += Pick({" ", "\t", ", ", "; "}) + Token(1, 12);
    return value;
  }

  // Body bytes: random bytes with pieces that look like framing mixed in.
  std::string Payload(std::size_t size) {
    static const std::vector<std::string> kLures = {"GET http://x/ HTTP/1.1\r\nHost: x\r\n\r\n",
                                                    "HTTP/1.1 200 OK\r\n\r\n", "0\r\n\r\n",
                                                    "\r\n\r\n", "\n\n"};
    std::string payload;
    while (payload.size() < size) {
      if (OneIn(20)) {
        payload += Pick(kLures);
      } else {
        payload += static_cast<char>(Below(256));
      }
    }
    payload.resize(size);
    return payload;
  }

  std::size_t BodySize() { return OneIn(10) ? Below(4000) : Below(200); }

  // The header lines in random order, then the empty line.
  std::string Fields(std::vector<std::string> fields) {
    const std::size_t extra = Below(4);
    for (std::size_t i = 0; i < extra; ++i) fields.push_back(Field("X-" + Token(1, 10), Value()));
    for (std::size_t i = fields.size(); i > 1; --i) std::swap(fields[i - 1], fields[Below(i)]);
    std::string text;
    for (const std::string& field : fields) text += field;
    return text + "\r\n";
  }

  std::string LengthField(std::size_t length) {
    return FramingField(Cased("Content-Length"), std::to_string(length));
  }

  std::string ChunkedField() {
    const std::string name = Cased("Transfer-Encoding");
    if (OneIn(6)) return FramingField(name, Cased("gzip") + ", " + Cased("chunked"));
    return FramingField(name, Cased("chunked"));
  }

  std::string Extension() {
    return Pick({"", "", "", ";a", ";name=value", ";q=\"x;y=z\"", ";a=1;b"});
  }

  // A chunked body with random chunk sizes, extensions and trailers; adds its
  // payload size to `payload`.
  std::string ChunkedBody(std::uint64_t& payload) {
    std::string body;
    const std::size_t chunks = Below(5);
    for (std::size_t i = 0; i < chunks; ++i) {
      const std::size_t size = 1 + BodySize();
      char hex[32];
      std::snprintf(hex, sizeof hex, OneIn(2) ? "%zx" : "%zX", size);
      body += std::string(Below(3), '0') + hex + Extension() + "\r\n" + Payload(size) + "\r\n";
      payload += size;
    }
    body += "0" + Extension() + "\r\n";
    const std::size_t trailers = OneIn(3) ? 1 + Below(2) : 0;
    for (std::size_t i = 0; i < trailers; ++i) body += Field("X-Trailer-" + Token(1, 6), Value());
    return body + "\r\n";
  }

  void AddMessage(CStream& stream, const std::string& head, const std::string& body,
                  std::uint64_t payload, bool tunnel) {
    const std::size_t start = stream.bytes.size();
    stream.bytes += head + body;
    stream.frames.push_back(
        {start + head.size(), tunnel ? start + head.size() : stream.bytes.size()});
    stream.payloads.push_back(payload);
  }

  void AddRequest(CStream& stream, bool connect) {
    if (connect) {
      AddMessage(stream,
                 "CONNECT example.com:443 HTTP/1.1\r\n" + Fields({"Host: example.com:443\r\n"}), "",
                 0, true);
      stream.bytes += Payload(Below(50));  // the tunnel's first bytes
      return;
    }
    const std::string method =
        Pick({"GET", "GET", "POST", "PUT", "DELETE", "OPTIONS", "PATCH", "HEAD"});
    const bool old = OneIn(8);
    const std::string target = Pick({"/", "/a/b?c=d", "http://example.com/x", "*", "/%20~"});
    std::vector<std::string> fields = {"Host: example.com\r\n"};
    if (old) fields.push_back("Connection: keep-alive\r\n");
    std::string body;
    std::uint64_t payload = 0;
    const std::size_t kind = method == "GET" || method == "HEAD" ? Below(6) : Below(3);
    if (kind == 0) {
      payload = BodySize();
      fields.push_back(LengthField(payload));
      body = Payload(payload);
    } else if (kind == 1 && !old) {
      fields.push_back(ChunkedField());
      body = ChunkedBody(payload);
    }
    const std::string line = method + " " + target + (old ? " HTTP/1.0\r\n" : " HTTP/1.1\r\n");
    AddMessage(stream, line + Fields(fields), body, payload, false);
  }

  std::string StatusLine(int status) {
    const std::string version = "HTTP/1.1 ";
    return version + std::to_string(status) + Pick({" OK", " Some Reason", " ", ""}) + "\r\n";
  }

  void AddInterim(CStream& stream) {
    if (OneIn(2)) {
      AddMessage(stream, StatusLine(100) + "\r\n", "", 0, false);
    } else {
      AddMessage(stream, StatusLine(103) + Fields({"Link: </style.css>; rel=preload\r\n"}), "", 0,
                 false);
    }
  }

  void AddAnswer(CStream& stream, bool last) {
    if (last && OneIn(10)) return AddTunnelAnswer(stream);
    const RequestKind request = OneIn(4) ? RequestKind::kHead : RequestKind::kOther;
    stream.answersTo.push_back(request);
    if (OneIn(6)) AddInterim(stream);
    const int status = std::vector<int>{200, 200, 201, 204, 206, 301, 304, 404, 500}[Below(9)];
    std::vector<std::string> fields = {"Date: Mon, 01 Jan 2024 00:00:00 GMT\r\n"};
    std::string body;
    std::uint64_t payload = 0;
    const std::size_t kind = Below(last ? 3 : 2);
    const bool mayHaveBody = status != 204 && status != 304;
    if (mayHaveBody && kind == 0) {
      const std::size_t size = BodySize();
      fields.push_back(LengthField(size));
      if (request != RequestKind::kHead) body = Payload(payload = size);
    } else if (mayHaveBody && kind == 1) {
      fields.push_back(ChunkedField());
      if (request != RequestKind::kHead) body = ChunkedBody(payload);
    } else if (mayHaveBody && request != RequestKind::kHead) {
      body = Payload(payload = BodySize());  // runs until the server closes
    }
    AddMessage(stream, StatusLine(status) + Fields(fields), body, payload, false);
  }

  void AddTunnelAnswer(CStream& stream) {
    if (OneIn(2)) {
      stream.answersTo.push_back(RequestKind::kConnect);
      AddMessage(stream, StatusLine(200) + "\r\n", "", 0, true);
    } else {
      stream.answersTo.push_back(RequestKind::kOther);
      AddMessage(stream,
                 StatusLine(101) + Fields({"Upgrade: websocket\r\n", "Connection: Upgrade\r\n"}),
                 "", 0, true);
    }
    stream.bytes += Payload(Below(50));
  }

  std::size_t Where(const CStream& stream) {
    if (stream.frames.empty() || OneIn(3)) return Below(stream.bytes.size());
    const std::size_t message = Below(stream.frames.size());
    const std::size_t start = message == 0 ? 0 : stream.frames[message - 1].end;
    const std::size_t end = std::min(stream.frames[message].headEnd + 8, stream.bytes.size());
    return start < end ? start + Below(end - start) : Below(stream.bytes.size());
  }

  std::mt19937_64 m_random;
};

CFraming Ours(const CStream& stream, std::vector<std::size_t> cuts = {}) {
  return COurFramer(stream, std::move(cuts)).Run();
}

CFraming Theirs(const CStream& stream) { return CReferenceFramer(stream).Run(); }

// Both parsers, and the generator, agree on every boundary of well-formed streams,
// however the bytes arrive.
void CheckAgreement(CGenerator& generator, const CStream& stream) {
  const CFraming theirs = Theirs(stream);
  ASSERT_TRUE(theirs.accepted) << Describe(theirs) << "\n" << stream.bytes;
  ASSERT_EQ(theirs.frames, stream.frames) << Describe(theirs) << "\n" << stream.bytes;
  ASSERT_EQ(theirs.payloads, stream.payloads) << stream.bytes;
  const std::vector<std::size_t> cuts =
      generator.OneIn(20) ? std::vector<std::size_t>{} : generator.Cuts(stream.bytes.size(), 8);
  const CFraming ours = Ours(stream, cuts);
  ASSERT_TRUE(ours.accepted) << Describe(ours) << "\n" << stream.bytes;
  ASSERT_EQ(ours.frames, theirs.frames) << Describe(ours) << "\n" << stream.bytes;
}

TEST(MessageFramingDifferential, GeneratedRequestsAreFramedAlike) {
  CGenerator generator(20240611);
  for (int i = 0; i < 2000; ++i) {
    SCOPED_TRACE("stream " + std::to_string(i));
    CheckAgreement(generator, generator.Requests());
    if (HasFatalFailure()) return;
  }
}

TEST(MessageFramingDifferential, GeneratedAnswersAreFramedAlike) {
  CGenerator generator(19970101);
  for (int i = 0; i < 2000; ++i) {
    SCOPED_TRACE("stream " + std::to_string(i));
    CheckAgreement(generator, generator.Answers());
    if (HasFatalFailure()) return;
  }
}

// One byte at a time, the finest split there is, for a smaller number of streams.
TEST(MessageFramingDifferential, ByteByByteArrivalChangesNothing) {
  CGenerator generator(42);
  for (int i = 0; i < 200; ++i) {
    const CStream stream = i % 2 == 0 ? generator.Requests() : generator.Answers();
    std::vector<std::size_t> everyByte(stream.bytes.size());
    for (std::size_t at = 0; at < everyByte.size(); ++at) everyByte[at] = at;
    ASSERT_EQ(Ours(stream, everyByte).frames, stream.frames) << stream.bytes;
  }
}

struct CStrictnessCase {
  const char* name;
  Side side;
  std::string bytes;
  bool weAccept;
  // Empty when both must agree; else why we differ from http_parser on purpose.
  const char* difference;
  std::vector<RequestKind> answersTo = {};
};

const char* const kSameAsReference = "";

// Inputs on the edge of the syntax. Where we differ from http_parser the reason is
// given; each difference is checked to still exist, so the list stays true.
std::vector<CStrictnessCase> StrictnessCases() {
  const std::string post = "POST / HTTP/1.1\r\nHost: a\r\n";
  const std::string chunked = post + "Transfer-Encoding: chunked\r\n\r\n";
  return {
      {"length and chunked", Side::kRequests,
       post + "Content-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", false,
       kSameAsReference},
      {"gzip only", Side::kRequests, post + "Transfer-Encoding: gzip\r\n\r\n", false,
       kSameAsReference},
      {"chunked then gzip", Side::kRequests, post + "Transfer-Encoding: chunked, gzip\r\n\r\n",
       false, kSameAsReference},
      {"two lengths", Side::kRequests, post + "Content-Length: 12, 13\r\n\r\n", false,
       kSameAsReference},
      {"signed length", Side::kRequests, post + "Content-Length: +5\r\n\r\nhello", false,
       kSameAsReference},
      {"differing length lines", Side::kRequests,
       post + "Content-Length: 5\r\nContent-Length: 6\r\n\r\nhello!", false, kSameAsReference},
      {"bare CR", Side::kRequests, post + "X: a\rb\r\n\r\n", false, kSameAsReference},
      {"bad chunk size", Side::kRequests, chunked + "zz\r\n", false, kSameAsReference},
      {"chunk size overflow", Side::kRequests, chunked + "10000000000000000\r\n", false,
       kSameAsReference},
      {"no line end after chunk data", Side::kRequests, chunked + "3\r\nabcX\r\n0\r\n\r\n", false,
       kSameAsReference},
      {"blank before chunk extension", Side::kRequests, chunked + "3 ;a=b\r\nabc\r\n0\r\n\r\n",
       true, kSameAsReference},
      {"identical length list", Side::kRequests, post + "Content-Length: 5, 5\r\n\r\nhello", true,
       "RFC 9112 section 6.3 lets a recipient take a list of identical values as one; "
       "http_parser refuses any list"},
      {"identical length lines", Side::kRequests,
       post + "Content-Length: 5\r\nContent-Length: 5\r\n\r\nhello", true,
       "the same as the list: http_parser refuses a second Content-Length line"},
      {"folded line", Side::kRequests, post + "X: a\r\n b\r\n\r\n", false,
       "obs-fold is refused (RFC 9112 section 5.2 lets a proxy refuse or replace it); "
       "http_parser joins the lines"},
      {"blank before colon", Side::kRequests, post + "Content-Length : 5\r\n\r\nhello", false,
       "RFC 9112 section 5.1 requires refusing it; http_parser takes the blank as part of the "
       "name, a name no other field has, and reads no body"},
      {"version 2.0 in a request line", Side::kRequests, "GET / HTTP/2.0\r\n\r\n", false,
       "only HTTP/1.x is framed here; http_parser takes any digits"},
      {"lower-case method", Side::kRequests, "get / HTTP/1.1\r\n\r\n", true,
       "a method is any token, case-sensitive (RFC 9110 section 9.1): \"get\" is an unknown "
       "method for the server to refuse; http_parser knows a fixed list"},
      {"chunk lines ended by bare LF", Side::kAnswers,
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\nabc\n0\n\n", true,
       "RFC 9112 section 2.2 lets a recipient take a bare LF as a line end, as both do in the "
       "header block; http_parser does not in chunk lines. Request bodies go on to servers "
       "that may read them like http_parser, so there both refuse"},
      {"leading zeros past 16 digits", Side::kRequests,
       chunked + "00000000000000003\r\nabc\r\n0\r\n\r\n", false,
       "a size line longer than 16 digits is refused outright; http_parser only checks "
       "the value"},
      {"status below 100", Side::kAnswers, "HTTP/1.1 099 Low\r\n\r\n", false,
       "a code below 100 has no class (RFC 9110 section 15); http_parser takes any 3 digits"},
      {"304 with a length", Side::kAnswers,
       "HTTP/1.1 304 Not Modified\r\nContent-Length: 5\r\n\r\n", true,
       "a 304 never has content whatever its length says (RFC 9112 section 6.3); http_parser "
       "waits for 5 bytes"},
      {"101 without Connection: upgrade", Side::kAnswers,
       "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n\r\nxyz", true,
       "the status alone switches protocols; http_parser expects another answer"},
      {"chunked in HTTP/1.0", Side::kRequests,
       "POST / HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", false,
       "RFC 9112 section 6.1: Transfer-Encoding in HTTP/1.0 is faulty framing; http_parser "
       "reads the chunks"},
      {"tab after a length", Side::kRequests, post + "Content-Length: 1\t\r\n\r\nx", true,
       "blanks around a value are space or tab (OWS, RFC 9110 section 5.6.3); http_parser "
       "refuses a tab after a length or a coding"},
      {"tab after a coding", Side::kRequests,
       post + "Transfer-Encoding: chunked\t\r\n\r\n0\r\n\r\n", true,
       "the same for Transfer-Encoding"},
      {"empty element after chunked", Side::kRequests,
       post + "Transfer-Encoding: chunked,\r\n\r\n0\r\n\r\n", true,
       "empty list elements count for nothing (RFC 9110 section 5.6.1); http_parser refuses"},
      {"empty element after chunked in an answer", Side::kAnswers,
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, \r\n\r\n0\r\n\r\nHTTP/1.1 204 OK\r\n\r\n",
       true, "the same; http_parser reads this answer until close"},
      {"malformed length after HEAD",
       Side::kAnswers,
       "HTTP/1.1 200 OK\r\nContent-Length: x\r\n\r\n",
       true,
       "an answer to HEAD has no content, so its length is not read; http_parser refuses it",
       {RequestKind::kHead}},
      {"answer with gzip only runs until close", Side::kAnswers,
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\nxyz", true, kSameAsReference},
      {"status without reason or blank", Side::kAnswers,
       "HTTP/1.1 200\r\nContent-Length: 1\r\n\r\nx", true, kSameAsReference},
      {"answer to HEAD with length and chunked",
       Side::kAnswers,
       "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n",
       true,
       "after HEAD neither header frames anything (RFC 9112 section 6.3); http_parser refuses "
       "the pair before it asks whether a body follows",
       {RequestKind::kHead}},
  };
}

TEST(MessageFramingDifferential, StrictnessDifferencesAreTheDocumentedOnes) {
  for (const CStrictnessCase& c : StrictnessCases()) {
    CStream stream;
    stream.side = c.side;
    stream.bytes = c.bytes;
    stream.answersTo = c.answersTo;
    const CFraming ours = Ours(stream);
    const CFraming theirs = Theirs(stream);
    EXPECT_EQ(ours.accepted, c.weAccept) << c.name << ": " << Describe(ours);
    const bool same =
        ours.accepted == theirs.accepted && (!ours.accepted || ours.frames == theirs.frames);
    if (std::string(c.difference).empty()) {
      EXPECT_TRUE(same) << c.name << ": ours " << Describe(ours) << ", http_parser "
                        << Describe(theirs);
    } else {
      EXPECT_FALSE(same) << c.name << ": the documented difference is gone: " << Describe(ours);
    }
  }
}

constexpr std::size_t kAgree = static_cast<std::size_t>(-1);

// The first message that the two framings read differently: one both read with other
// bounds, or, where both accept the whole stream, the first that only one of them has.
std::size_t FirstDifference(const CFraming& ours, const CFraming& theirs) {
  const std::size_t common = std::min(ours.frames.size(), theirs.frames.size());
  for (std::size_t i = 0; i < common; ++i)
    if (ours.frames[i] != theirs.frames[i]) return i;
  if (ours.accepted && theirs.accepted && ours.frames.size() != theirs.frames.size()) return common;
  return kAgree;
}

// The header block of our message `index`, without empty lines before a request.
std::string_view OurHead(const CStream& stream, const CFraming& ours, std::size_t index) {
  const std::size_t start = index == 0 ? 0 : ours.frames[index - 1].end;
  std::string_view head =
      std::string_view(stream.bytes).substr(start, ours.frames[index].headEnd - start);
  while (!head.empty() && (head.front() == '\r' || head.front() == '\n')) head.remove_prefix(1);
  return head;
}

// The stream with a CR put before every LF that lacks one.
CStream WithoutBareLf(const CStream& stream) {
  CStream result = stream;
  result.bytes.clear();
  for (std::size_t i = 0; i < stream.bytes.size(); ++i) {
    if (stream.bytes[i] == '\n' && (i == 0 || stream.bytes[i - 1] != '\r')) result.bytes += '\r';
    result.bytes += stream.bytes[i];
  }
  return result;
}

bool IsChunked(Side side, std::string_view head) {
  if (side == Side::kRequests) return ReadRequestHead(head).body == BodyFraming::kChunked;
  return ReadResponseHead(head, RequestKind::kOther).body == BodyFraming::kChunked;
}

// Why the framings part at message `index`, when it is one of the deliberate
// differences (see StrictnessCases); nullptr when it is not.
const char* KnownDifference(const CStream& stream, const CFraming& ours, std::size_t index) {
  if (index >= ours.frames.size()) {
    // We stop where http_parser reads on: a tunnel we opened and it did not.
    if (ours.frames.empty()) return nullptr;
    const std::string_view head = OurHead(stream, ours, ours.frames.size() - 1);
    if (stream.side == Side::kAnswers && ReadResponseHead(head, RequestKind::kOther).status == 101)
      return "a 101 switches protocols by its status alone";
    return nullptr;
  }
  const std::string_view head = OurHead(stream, ours, index);
  if (stream.side == Side::kAnswers) {
    const int status = ReadResponseHead(head, RequestKind::kOther).status;
    if (status == 101) return "a 101 switches protocols by its status alone";
    if (status / 100 == 1 || status == 204 || status == 304)
      return "no content after 1xx, 204, 304";
  }
  if (!IsChunked(stream.side, head)) return nullptr;
  static const std::regex kEmptyAfterChunked("chunked[ \t]*,[ \t,]*\r?\n", std::regex::icase);
  if (std::regex_search(head.begin(), head.end(), kEmptyAfterChunked))
    return "an empty list element after chunked";
  const CStream normalized = WithoutBareLf(stream);
  if (FirstDifference(Ours(normalized), Theirs(normalized)) == kAgree)
    return "a bare LF ending a chunk line";
  return nullptr;
}

// Why http_parser refuses streams that we frame; each is a deliberate difference.
const std::set<std::string> kRefusedOnlyByReference = {
    "HPE_INVALID_METHOD",        // a method outside its fixed list: any token is one here
    "HPE_INVALID_URL",           // a target it cannot parse; we only need it free of blanks
    "HPE_INVALID_HEADER_TOKEN",  // control or DEL bytes in a value, which framing never reads
    "HPE_INVALID_CHUNK_SIZE",    // a chunk line ended by a bare LF
    "HPE_INVALID_EOF_STATE",     // the same in the last chunk line; or a 101 we tunnel
    "HPE_INVALID_CONSTANT",      // the bytes after a 101 without "Connection: upgrade"
    // A tab after the value, or a length in an answer that has no content (after HEAD,
    // 1xx, 204, 304), which we do not read.
    "HPE_INVALID_CONTENT_LENGTH", "HPE_UNEXPECTED_CONTENT_LENGTH",
    "HPE_INVALID_TRANSFER_ENCODING",  // a tab after the coding, or "chunked," (empty element)
    "HPE_CLOSED_CONNECTION",  // a message after an HTTP/1.0 one: keeping alive is the caller's
};

// Streams with a few bytes changed, inserted or removed: wherever both parsers read a
// message, they read it alike, unless a documented difference explains it.
TEST(MessageFramingDifferential, MutatedStreamsAreNeverFramedTwoWays) {
  CGenerator generator(7);
  std::set<std::string> refusedOnlyByReference;
  for (int i = 0; i < 5000; ++i) {
    CStream stream = i % 2 == 0 ? generator.Requests() : generator.Answers();
    generator.Mutate(stream);
    const CFraming ours = Ours(stream, generator.Cuts(stream.bytes.size(), 4));
    const CFraming theirs = Theirs(stream);
    const std::size_t index = FirstDifference(ours, theirs);
    if (index != kAgree) {
      EXPECT_NE(KnownDifference(stream, ours, index), nullptr)
          << "message " << index << ": ours " << Describe(ours) << ", http_parser "
          << Describe(theirs) << "\n"
          << stream.bytes;
    }
    if (ours.accepted && !theirs.accepted) refusedOnlyByReference.insert(theirs.why);
  }
  for (const std::string& error : refusedOnlyByReference)
    EXPECT_EQ(kRefusedOnlyByReference.count(error), 1u) << error;
}

}  // namespace
