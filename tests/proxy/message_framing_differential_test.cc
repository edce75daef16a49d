// The HTTP framing checked against Debian's http_parser, an independent, widely used
// parser: generated streams of requests and of answers must be cut at the same places.
#include <gtest/gtest.h>
#include <http_parser.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "proxy/message_framing.h"

namespace {

using Side = CMessageStream::Side;
using Event = CMessageStream::Event;

// Where one message lies in the stream: its header block ends at `headEnd`, the whole
// message at `end`. A message that opens a tunnel ends with its header block.
struct CFrame {
  std::size_t headEnd = 0;
  std::size_t end = 0;
  bool operator==(const CFrame&) const = default;
};

struct CFraming {
  bool accepted = true;
  bool tunnel = false;  // the stream goes on as a tunnel after the last message
  std::vector<CFrame> frames;
  std::string why;  // why it was refused
};

std::string Describe(const CFraming& framing) {
  std::string text = framing.accepted ? "accepted:" : "refused (" + framing.why + "):";
  for (const CFrame& frame : framing.frames)
    text += " [" + std::to_string(frame.headEnd) + "," + std::to_string(frame.end) + ")";
  return text;
}

// A stream of messages and, when generated, where each lies.
struct CStream {
  Side side = Side::kRequests;
  std::string bytes;
  std::vector<RequestKind> answersTo;  // answers: the request of each final answer
  std::vector<CFrame> frames;
};

// Our framing of `in`, received in pieces that end at `cuts` (ascending).
CFraming Ours(const CStream& in, std::vector<std::size_t> cuts = {}) {
  CMessageStream stream(in.side);
  CFraming result;
  std::size_t read = 0, received = 0, headEnd = 0, cut = 0, answers = 0;
  const auto expectNext = [&] {
    if (answers < in.answersTo.size()) stream.ExpectAnswerTo(in.answersTo[answers++]);
  };
  cuts.push_back(in.bytes.size());
  expectNext();
  for (std::size_t guard = 0; guard < 4 * in.bytes.size() + 64; ++guard) {
    auto event = stream.Next(std::string_view(in.bytes).substr(read, received - read), 65536);
    const bool closed = event.type == Event::kNeedMore && cut == cuts.size();
    if (closed) event = stream.Close();
    if (event.type == Event::kNeedMore && !closed) received = std::max(received, cuts[cut++]);
    read += event.length;
    if (event.type == Event::kHead) headEnd = read;
    if (event.type == Event::kEnd || event.type == Event::kTunnel)
      result.frames.push_back({headEnd, event.type == Event::kEnd ? read : headEnd});
    if (event.type == Event::kError) {
      result.accepted = false;
      result.why = "error " + std::to_string(static_cast<int>(stream.GetError()));
    }
    // After a CONNECT request, too, a tunnel follows.
    const bool tunnel =
        event.type == Event::kTunnel || (event.type == Event::kEnd && in.side == Side::kRequests &&
                                         stream.GetRequestHead().kind == RequestKind::kConnect);
    result.tunnel = tunnel;
    if (closed || tunnel || event.type == Event::kError) return result;
    if (event.type == Event::kEnd && in.side == Side::kAnswers && !stream.GetResponseHead().interim)
      expectNext();
  }
  ADD_FAILURE() << "no progress";
  return result;
}

// http_parser over the same bytes, one byte at a time so that every callback knows
// the offset of the byte that caused it.
CFraming Theirs(const CStream& in) {
  struct CState {
    const CStream& in;
    std::size_t pos = 0, headEnd = 0, answers = 0;
    CFraming result = {};
  } state{in};
  http_parser parser;
  http_parser_init(&parser, in.side == Side::kRequests ? HTTP_REQUEST : HTTP_RESPONSE);
  parser.data = &state;
  http_parser_settings settings;
  http_parser_settings_init(&settings);
  // For answers, what the request was: 1 for no body (HEAD), 2 for no body and a tunnel
  // after it (CONNECT).
  settings.on_headers_complete = [](http_parser* parser) {
    CState& s = *static_cast<CState*>(parser->data);
    s.headEnd = s.pos + 1;
    const unsigned status = parser->status_code;
    if (s.in.side == Side::kRequests || (status / 100 == 1 && status != 101)) return 0;
    const RequestKind request =
        s.answers < s.in.answersTo.size() ? s.in.answersTo[s.answers++] : RequestKind::kOther;
    if (request == RequestKind::kHead) return 1;
    return request == RequestKind::kConnect && status / 100 == 2 ? 2 : 0;
  };
  settings.on_message_complete = [](http_parser* parser) {
    CState& s = *static_cast<CState*>(parser->data);
    s.result.frames.push_back({s.headEnd, s.pos + 1});
    return 0;
  };
  const auto run = [&](const char* data, std::size_t length) {
    http_parser_execute(&parser, &settings, data, length);
    if (HTTP_PARSER_ERRNO(&parser) == HPE_OK) return true;
    state.result.accepted = false;
    state.result.why = http_errno_name(HTTP_PARSER_ERRNO(&parser));
    return false;
  };
  for (; state.pos < in.bytes.size(); ++state.pos)
    if (!run(in.bytes.data() + state.pos, 1) || parser.upgrade) return state.result;
  state.pos = in.bytes.size() - 1;  // the end of the stream ends a body that runs until close
  run(nullptr, 0);
  return state.result;
}

// Well-formed streams from a fixed seed, so that every run checks the same ones.
class CGenerator {
 public:
  explicit CGenerator(std::uint64_t seed) : m_random(seed) {}

  std::size_t Below(std::size_t n) { return static_cast<std::size_t>(m_random() % n); }
  bool OneIn(std::size_t n) { return Below(n) == 0; }

  // Pipelined requests, or answers; the last may open a tunnel, or run until close.
  CStream Generate(Side side) {
    const bool answers = side == Side::kAnswers;
    CStream stream{side, "", {}, {}};
    for (std::size_t i = 0, count = 1 + Below(5); i < count; ++i) {
      const bool last = i + 1 == count;
      if (!answers && OneIn(8)) stream.bytes += OneIn(2) ? "\r\n" : "\n";  // skipped
      if (last && OneIn(answers ? 10 : 15)) {  // a tunnel after CONNECT or a 101
        const bool connect = !answers || OneIn(2);
        if (answers)
          stream.answersTo.push_back(connect ? RequestKind::kConnect : RequestKind::kOther);
        Add(stream,
            !answers ? "CONNECT example.com:443 HTTP/1.1\r\n" + Fields({"Host: example.com\r\n"})
            : connect
                ? StatusLine(200) + "\r\n"
                : StatusLine(101) + Fields({"Upgrade: websocket\r\n", "Connection: Upgrade\r\n"}),
            "", true);
        stream.bytes += Payload(Below(50));  // the tunnel's first bytes
        break;
      }
      const bool head = answers && OneIn(4);  // an answer to HEAD: no body, whatever it says
      const bool old = !answers && OneIn(8);  // HTTP/1.0, kept alive
      std::vector<std::string> fields = {answers ? "Date: Mon, 01 Jan 2024 00:00:00 GMT\r\n"
                                                 : "Host: example.com\r\n"};
      if (old) fields.push_back("Connection: keep-alive\r\n");
      std::string line = Pick({"GET", "POST"}) + " " + Pick({"/", "http://example.com/a?b"}) +
                         (old ? " HTTP/1.0\r\n" : " HTTP/1.1\r\n");
      std::size_t kind = Below(answers && !last ? 2 : 3);
      if (answers) {
        stream.answersTo.push_back(head ? RequestKind::kHead : RequestKind::kOther);
        if (OneIn(6))
          Add(stream,
              OneIn(2) ? StatusLine(100) + "\r\n" : StatusLine(103) + Fields({"Link: </a>\r\n"}),
              "", false);
        const int status = std::vector<int>{200, 200, 204, 304, 404}[Below(5)];
        line = StatusLine(status);
        if (status == 204 || status == 304) kind = 3;  // never a body
      }
      std::string body;
      if (kind == 0) {
        body = Payload(BodySize());
        fields.push_back(Field("Content-length", std::to_string(body.size()), false));
      } else if (kind == 1 && !old) {
        fields.push_back(Field("transfer-Encoding", OneIn(6) ? "GZIP, chunked" : "Chunked", false));
        body = ChunkedBody();
      } else if (kind == 2 && answers) {
        body = Payload(BodySize());  // runs until the server closes
      }
      Add(stream, line + Fields(fields), head ? "" : body, false);
    }
    return stream;
  }

  // Up to `most` ascending offsets inside `size` where the stream is cut.
  std::vector<std::size_t> Cuts(std::size_t size, std::size_t most) {
    std::vector<std::size_t> cuts(size == 0 ? 0 : Below(most + 1));
    for (std::size_t& cut : cuts) cut = Below(size);
    std::sort(cuts.begin(), cuts.end());
    return cuts;
  }

 private:
  std::string Pick(const std::vector<std::string>& choices) {
    return choices[Below(choices.size())];
  }

  std::string Token() {
    static const std::string kChars =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJ0123456789-_.!#$%&'*+^`|~";
    std::string token(1 + Below(10), ' ');
    for (char& c : token) c = kChars[Below(kChars.size())];
    return token;
  }

  // http_parser refuses a tab after a length or a coding (see the strictness cases).
  std::string Field(const std::string& name, const std::string& value, bool tabAfter = true) {
    return name + ":" + Pick({"", " ", "  ", "\t"}) + value +
           Pick({"", " ", tabAfter ? "\t" : "  "}) + "\r\n";
  }

  // Body bytes: random bytes with pieces that look like framing mixed in.
  std::string Payload(std::size_t size) {
    std::string payload;
    while (payload.size() < size) {
      payload += OneIn(20) ? Pick({"GET http://x/ HTTP/1.1\r\nHost: x\r\n\r\n",
                                   "HTTP/1.1 200 OK\r\n\r\n", "0\r\n\r\n", "\r\n\r\n", "\n\n"})
                           : std::string(1, static_cast<char>(Below(256)));
    }
    payload.resize(size);
    return payload;
  }

  std::size_t BodySize() { return OneIn(10) ? Below(4000) : Below(200); }

  // The header lines and a few others in random order, then the empty line.
  std::string Fields(std::vector<std::string> fields) {
    for (std::size_t extra = Below(4); extra > 0; --extra)
      fields.push_back(Field("X-" + Token(), Token() + Pick({" ", ", ", "; "}) + Token()));
    for (std::size_t i = fields.size(); i > 1; --i) std::swap(fields[i - 1], fields[Below(i)]);
    std::string text;
    for (const std::string& field : fields) text += field;
    return text + "\r\n";
  }

  // Random chunk sizes (leading zeros, either case of hex), extensions and trailers.
  std::string ChunkedBody() {
    static const char* const kHex[] = {"%zx", "%zX"};
    std::string body;
    for (std::size_t chunks = Below(5); chunks > 0; --chunks) {
      const std::size_t size = 1 + BodySize();
      char hex[32];
      std::snprintf(hex, sizeof hex, kHex[Below(2)], size);
      body += std::string(Below(3), '0') + hex + Extension() + "\r\n" + Payload(size) + "\r\n";
    }
    body += "0" + Extension() + "\r\n";
    if (OneIn(3)) body += Field("X-Trailer-" + Token(), Token());
    return body + "\r\n";
  }

  std::string Extension() { return Pick({"", "", ";a", ";name=value", ";q=\"x;y=z\""}); }

  std::string StatusLine(int status) {
    return "HTTP/1.1 " + std::to_string(status) + Pick({" OK", " ", ""}) + "\r\n";
  }

  void Add(CStream& stream, const std::string& head, const std::string& body, bool tunnel) {
    const std::size_t headEnd = stream.bytes.size() + head.size();
    stream.bytes += head + body;
    stream.frames.push_back({headEnd, tunnel ? headEnd : stream.bytes.size()});
  }

  std::mt19937_64 m_random;
};

// Both parsers and the generator agree on every boundary of pipelined, well-formed
// streams, however the bytes arrive: cut at random places, or byte by byte.
TEST(MessageFramingDifferential, GeneratedStreamsAreFramedAlike) {
  CGenerator generator(20240611);
  for (int i = 0; i < 4000; ++i) {
    const CStream stream = generator.Generate(i % 2 == 0 ? Side::kRequests : Side::kAnswers);
    SCOPED_TRACE("stream " + std::to_string(i) + ":\n" + stream.bytes);
    const CFraming theirs = Theirs(stream);
    ASSERT_TRUE(theirs.accepted && theirs.frames == stream.frames) << Describe(theirs);
    std::vector<std::size_t> cuts = generator.Cuts(stream.bytes.size(), 8);
    if (i % 10 == 0) {
      cuts.resize(stream.bytes.size());
      for (std::size_t at = 0; at < cuts.size(); ++at) cuts[at] = at;
    }
    const CFraming ours = Ours(stream, cuts);
    ASSERT_TRUE(ours.accepted && ours.frames == stream.frames) << Describe(ours);
  }
}

}  // namespace
