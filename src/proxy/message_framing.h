// Where HTTP/1.1 messages begin and end (RFC 9112 section 6): the one place that
// reads framing, for requests from browsers and answers from servers alike.
// Knows nothing of sockets: bytes go in, events come out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// How the body of a message is delimited.
enum class BodyFraming {
  kNone,           // no body: the message ends with its header block
  kContentLength,  // exactly `contentLength` bytes
  kChunked,        // chunked transfer coding, chunk extensions and trailers included
  kUntilClose,     // the body runs until the sender closes (answers only)
  kTunnel,         // after this header block the connection carries other bytes
};

// Why a message cannot be framed safely; a proxy refuses it rather than guess.
enum class FramingError {
  kNone,
  kBadStartLine,         // no method, target and HTTP/1.x version; no status code
  kBareCr,               // a CR that does not end a line (RFC 9112 section 2.2)
  kFoldedLine,           // a header line continued on the next (obs-fold, section 5.2)
  kBadHeaderLine,        // no colon, a name that is empty or not a token (blanks
                         // included), or a NUL in the value
  kLengthAndChunked,     // both Content-Length and Transfer-Encoding (section 6.1)
  kBadTransferEncoding,  // a request whose final coding is not chunked (section 6.3),
                         // or an HTTP/1.0 request with any (section 6.1)
  kBadContentLength,     // not a number, or differing values (section 6.3)
  kBadChunk,             // a chunk size line or chunk end that is not well-formed
  kHeadTooLarge,         // no end of the header block within the size allowed
  kCutShort,             // the sender closed inside a message
};

// The method of a request, as far as the framing of its answer depends on it.
enum class RequestKind { kOther, kHead, kConnect };

// What a request's header block says about the request and its body.
struct CRequestHead {
  FramingError error = FramingError::kNone;
  RequestKind kind = RequestKind::kOther;
  BodyFraming body = BodyFraming::kNone;  // never kUntilClose or kTunnel
  std::uint64_t contentLength = 0;
  // An "Upgrade" header line is present: a 101 answer turns the connection into a tunnel.
  bool asksUpgrade = false;
};

// What an answer's header block says about the answer and its body.
struct CResponseHead {
  FramingError error = FramingError::kNone;
  int status = 0;
  // A 1xx answer other than 101: a final answer to the same request follows.
  bool interim = false;
  BodyFraming body = BodyFraming::kNone;
  std::uint64_t contentLength = 0;
};

// Where the header block at the start of `bytes` ends: the length of the block
// including its empty line ("\r\n\r\n", also a bare "\n\n"), or 0 when it does not
// end within `bytes`. NUL bytes do not end the search.
std::size_t FindHeadEnd(std::string_view bytes);

// Reads a request's whole header block (as FindHeadEnd measured it).
CRequestHead ReadRequestHead(std::string_view head);

// Reads an answer's whole header block; `request` is the kind of the request it
// answers (no body after HEAD; a 2xx after CONNECT starts a tunnel).
CResponseHead ReadResponseHead(std::string_view head, RequestKind request);

// Follows one message's body through the bytes that arrive after its header block.
class CBodyReader {
 public:
  CBodyReader() = default;
  // `crlfOnly`: chunk lines must end with CRLF. A request body goes on to a server
  // that may not take a bare LF as a line end, so for requests only one reading is
  // safe; answers, read by the browser, may end lines with a bare LF too.
  CBodyReader(BodyFraming framing, std::uint64_t contentLength, bool crlfOnly = false);

  // How many of the leading `bytes` belong to the body (chunk sizes, extensions,
  // and trailers included): they pass on as they are.
  // Chunk data and the chunk framing around it (sizes, extensions, line ends,
  // trailers) come in separate steps, so that a caller can tell them apart.
  struct CStep {
    std::size_t consumed = 0;
    bool done = false;  // the body ended after `consumed` bytes
    FramingError error = FramingError::kNone;
    bool content = true;  // the bytes are the body's content, not chunk framing
  };
  CStep Consume(std::string_view bytes);

  // The body has ended (at once for kNone; never for kUntilClose and kTunnel).
  bool IsDone() const;

  // Content bytes next in line that need no reading to find the body's end: what is
  // left of a Content-Length body or of the chunk data begun, kUnbounded for a body
  // that runs until close, 0 where framing comes next.
  static constexpr std::uint64_t kUnbounded = ~std::uint64_t{0};
  std::uint64_t ContentAhead() const;
  // `count` of those bytes (at most ContentAhead) passed on without being read.
  void SkipContent(std::uint64_t count);

 private:
  enum class ChunkState {
    kSize,          // hex digits of a chunk size
    kSizeBlanks,    // blanks after the size, before ";" or the line end (requests)
    kExtension,     // after the size: chunk extensions up to the line end
    kSizeLf,        // the LF after a size line's CR
    kData,          // chunk data
    kDataCr,        // the CR after chunk data
    kDataLf,        // the LF after chunk data
    kTrailerStart,  // the start of a trailer line or of the final empty line
    kTrailerLine,   // inside a trailer line
    kTrailerLf,     // the LF after a trailer line's CR
    kLastLf,        // the LF of the final empty line
    kDone,
  };
  CStep ConsumeChunked(std::string_view bytes);
  // One byte of the chunked framing outside chunk data; false when it is not well-formed.
  bool StepChunkByte(char c);
  bool StepSizeByte(char c);
  bool StepSizeBlank(char c);
  void EndSizeLine();

  BodyFraming m_framing = BodyFraming::kNone;
  std::uint64_t m_left = 0;  // bytes left of the body or of the current chunk
  ChunkState m_chunk = ChunkState::kSize;
  int m_sizeDigits = 0;
  bool m_crlfOnly = false;
};

// Both of the above for a stream of messages on one connection, in order.
class CMessageStream {
 public:
  enum class Side { kRequests, kAnswers };
  explicit CMessageStream(Side side) : m_side(side) {}

  // Answers only: the kind of the request the next answer is for (kOther until set).
  void ExpectAnswerTo(RequestKind request) { m_answerTo = request; }

  enum class Event {
    kNeedMore,  // no complete event within the input: come back with more bytes in front
    kSkip,      // requests only: the first `length` bytes are empty lines between messages,
                // to drop (RFC 9112 section 2.2)
    kHead,      // the first `length` bytes are a whole header block (see the heads below)
    kBody,      // the first `length` bytes belong to the body, to pass on as they are
    kEnd,       // the message ended here (length 0); the next bytes begin the next one
    kTunnel,    // the message ended and the connection now carries a tunnel (length 0)
    kError,     // the framing is broken (see GetError); nothing more is read
  };
  struct CEvent {
    Event type = Event::kNeedMore;
    std::size_t length = 0;
    // kBody only: false for chunk framing, which passes on but is no page text.
    bool content = true;
  };

  // The next event over `input`, the unread bytes that follow the previous event.
  // `maxHead`: a header block that does not end within that many bytes is an error.
  CEvent Next(std::string_view input, std::size_t maxHead);
  // The sender closed: the end of a body that runs until close (kEnd), else kError
  // when a message was cut short (kCutShort; a header block begun counts), else
  // kNeedMore (a clean end between messages). A message whose end was reached but
  // not yet reported ends with kEnd.
  CEvent Close();

  // The last head read (the request's for kRequests, the answer's for kAnswers).
  const CRequestHead& GetRequestHead() const { return m_request; }
  const CResponseHead& GetResponseHead() const { return m_response; }
  FramingError GetError() const { return m_error; }
  // True between a head and the end of its message.
  bool InMessage() const { return m_inMessage; }
  // The current body's CBodyReader::ContentAhead (0 outside a body), and the same
  // bytes passed on without being read, so that a caller can move them itself.
  std::uint64_t ContentAhead() const;
  void SkipContent(std::uint64_t count);

 private:
  CEvent NextHead(std::string_view input, std::size_t maxHead);
  CEvent ReadHead(std::string_view head);
  CEvent NextInMessage(std::string_view input);
  CEvent EndMessage();
  CEvent Fail(FramingError error);
  BodyFraming CurrentFraming() const;

  Side m_side;
  RequestKind m_answerTo = RequestKind::kOther;
  CRequestHead m_request;
  CResponseHead m_response;
  CBodyReader m_body;
  FramingError m_error = FramingError::kNone;
  bool m_inMessage = false;
  bool m_tunnel = false;
  // Bytes at the start of the input already searched for the end of a header block
  // that has begun but not ended (the input after kNeedMore starts with the same bytes).
  std::size_t m_headScanned = 0;
};
