// Where HTTP/1.1 messages begin and end: header blocks, body framing and the order
// of messages on one connection.
#include "proxy/message_framing.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "core/ascii.h"

namespace {

constexpr std::size_t kNotFound = std::string_view::npos;
// Content-Length values must fit a signed 64-bit count, as most peers hold them.
constexpr std::uint64_t kMaxContentLength = std::numeric_limits<std::int64_t>::max();
// 16 hex digits hold every 64-bit chunk size; a longer size line is refused.
constexpr int kMaxChunkSizeDigits = 16;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// tchar (RFC 9110 section 5.6.2).
bool IsTokenChar(char c) {
  if (IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
  return c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool IsToken(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), IsTokenChar);
}

// Visible bytes only: no blanks and no control bytes (bytes 128 to 255 pass).
bool IsTarget(std::string_view text) {
  return !text.empty() && std::none_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte == 0x7f;
  });
}

int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  const char lower = AsciiToLower(c);
  if (lower >= 'a' && lower <= 'f') return lower - 'a' + 10;
  return -1;
}

std::string_view TrimOws(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The line that starts at `pos`, without its line end ("\r\n" or a bare "\n");
// `pos` moves past the line end.
std::string_view NextLine(std::string_view text, std::size_t& pos) {
  const std::size_t lf = text.find('\n', pos);
  const std::size_t end = lf == kNotFound ? text.size() : lf;
  std::string_view line = text.substr(pos, end - pos);
  pos = lf == kNotFound ? text.size() : lf + 1;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// A CR that does not end a line (RFC 9112 section 2.2).
bool HasBareCr(std::string_view head) {
  for (std::size_t cr = head.find('\r'); cr != kNotFound; cr = head.find('\r', cr + 1))
    if (cr + 1 == head.size() || head[cr + 1] != '\n') return true;
  return false;
}

// "HTTP/1." and a digit: 1.0, 1.1 and later minor versions (RFC 9112 section 2.3).
bool IsHttp1Version(std::string_view text) {
  return text.size() == 8 && text.substr(0, 7) == "HTTP/1." && IsDigit(text[7]);
}

// method SP request-target SP HTTP-version (RFC 9112 section 3); the method is
// case-sensitive (RFC 9110 section 9.1).
bool ReadRequestLine(std::string_view line, RequestKind& kind) {
  const std::size_t methodEnd = line.find(' ');
  if (methodEnd == kNotFound) return false;
  const std::size_t targetEnd = line.find(' ', methodEnd + 1);
  if (targetEnd == kNotFound) return false;
  const std::string_view method = line.substr(0, methodEnd);
  if (!IsToken(method) || !IsTarget(line.substr(methodEnd + 1, targetEnd - methodEnd - 1)) ||
      !IsHttp1Version(line.substr(targetEnd + 1)))
    return false;
  kind = RequestKind::kOther;
  if (method == "HEAD") kind = RequestKind::kHead;
  if (method == "CONNECT") kind = RequestKind::kConnect;
  return true;
}

// HTTP-version SP 3DIGIT [SP reason-phrase] (RFC 9112 section 4); the blank before
// an empty reason may be missing. Codes below 100 have no class and are refused, and
// so is a NUL in the reason.
bool ReadStatusLine(std::string_view line, int& status) {
  if (line.size() < 12 || !IsHttp1Version(line.substr(0, 8)) || line[8] != ' ') return false;
  const std::string_view code = line.substr(9, 3);
  if (!std::all_of(code.begin(), code.end(), IsDigit) || code[0] == '0') return false;
  if (line.size() > 12 && (line[12] != ' ' || line.find('\0') != kNotFound)) return false;
  status = (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
  return true;
}

// What the start line and the header lines say about the framing of the body.
struct CFramingFields {
  bool http10 = false;  // an HTTP/1.0 message, where Transfer-Encoding frames nothing
  bool transferEncoding = false;
  std::string_view finalCoding;  // the last coding named over all Transfer-Encoding lines
  bool contentLength = false;
  bool badContentLength = false;
  std::uint64_t length = 0;
  bool upgrade = false;
};

// 1*DIGIT that fits kMaxContentLength.
bool ParseDecimal(std::string_view digits, std::uint64_t& value) {
  if (digits.empty()) return false;
  value = 0;
  for (char c : digits) {
    if (!IsDigit(c)) return false;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (kMaxContentLength - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

// One number, or a list of the same number over one line or several; anything else
// leaves the length unknown (RFC 9112 section 6.3).
void NoteContentLength(std::string_view value, CFramingFields& fields) {
  for (;;) {
    const std::size_t comma = value.find(',');
    std::uint64_t number = 0;
    const bool valid = ParseDecimal(TrimOws(value.substr(0, comma)), number);
    if (!valid || (fields.contentLength && number != fields.length)) {
      fields.contentLength = true;
      fields.badContentLength = true;
      return;
    }
    fields.contentLength = true;
    fields.length = number;
    if (comma == kNotFound) return;
    value.remove_prefix(comma + 1);
  }
}

// The codings of a Transfer-Encoding line, a list that may go on over several lines;
// empty list elements count for nothing (RFC 9110 section 5.6.1).
void NoteCodings(std::string_view value, CFramingFields& fields) {
  fields.transferEncoding = true;
  for (;;) {
    const std::size_t comma = value.find(',');
    const std::string_view coding = TrimOws(value.substr(0, comma));
    if (!coding.empty()) fields.finalCoding = coding;
    if (comma == kNotFound) return;
    value.remove_prefix(comma + 1);
  }
}

// One header line: field-name ":" OWS field-value OWS (RFC 9112 section 5.1).
FramingError ReadField(std::string_view line, CFramingFields& fields) {
  if (IsBlank(line.front())) return FramingError::kFoldedLine;
  const std::size_t colon = line.find(':');
  if (colon == kNotFound) return FramingError::kBadHeaderLine;
  const std::string_view name = line.substr(0, colon);
  if (!IsToken(name)) return FramingError::kBadHeaderLine;
  const std::string_view value = TrimOws(line.substr(colon + 1));
  // A NUL would end the text for readers that stop there (RFC 9110 section 5.5).
  if (value.find('\0') != kNotFound) return FramingError::kBadHeaderLine;
  if (EqualsNoCase(name, "Transfer-Encoding")) NoteCodings(value, fields);
  if (EqualsNoCase(name, "Content-Length")) NoteContentLength(value, fields);
  if (EqualsNoCase(name, "Upgrade")) fields.upgrade = true;
  return FramingError::kNone;
}

// The header lines after the start line, up to the empty line.
FramingError ReadFields(std::string_view head, std::size_t pos, CFramingFields& fields) {
  while (pos < head.size()) {
    const std::string_view line = NextLine(head, pos);
    if (line.empty()) break;
    const FramingError error = ReadField(line, fields);
    if (error != FramingError::kNone) return error;
  }
  return FramingError::kNone;
}

bool IsChunked(std::string_view coding) { return EqualsNoCase(coding, "chunked"); }

// A request's body (RFC 9112 section 6.3): chunked only as the final coding, and
// never together with a length, which could be read two ways. In HTTP/1.0 a
// Transfer-Encoding makes the framing faulty (section 6.1): a server of that version
// would not read the chunks.
FramingError SetRequestBody(const CFramingFields& fields, CRequestHead& head) {
  if (fields.transferEncoding) {
    if (fields.contentLength) return FramingError::kLengthAndChunked;
    if (fields.http10 || !IsChunked(fields.finalCoding)) return FramingError::kBadTransferEncoding;
    head.body = BodyFraming::kChunked;
    return FramingError::kNone;
  }
  if (!fields.contentLength) return FramingError::kNone;
  if (fields.badContentLength) return FramingError::kBadContentLength;
  head.body = BodyFraming::kContentLength;
  head.contentLength = fields.length;
  return FramingError::kNone;
}

// An answer's body (RFC 9112 section 6.3). Interim answers come first: a 100 to a
// HEAD request is still followed by the final answer. An HTTP/1.0 answer with a
// Transfer-Encoding has faulty framing (section 6.1) and runs until the server closes.
void SetResponseBody(const CFramingFields& fields, RequestKind request, CResponseHead& head) {
  const int status = head.status;
  if (status == 101) {
    head.body = BodyFraming::kTunnel;
    return;
  }
  head.interim = status < 200;
  if (head.interim || request == RequestKind::kHead || status == 204 || status == 304) return;
  if (request == RequestKind::kConnect && status < 300) {
    head.body = BodyFraming::kTunnel;
    return;
  }
  if (fields.transferEncoding) {
    if (fields.contentLength) head.error = FramingError::kLengthAndChunked;
    const bool chunked = !fields.http10 && IsChunked(fields.finalCoding);
    head.body = chunked ? BodyFraming::kChunked : BodyFraming::kUntilClose;
    return;
  }
  if (!fields.contentLength) {
    head.body = BodyFraming::kUntilClose;
    return;
  }
  if (fields.badContentLength) head.error = FramingError::kBadContentLength;
  head.body = BodyFraming::kContentLength;
  head.contentLength = fields.length;
}

// Empty lines ("\r\n" or a bare "\n") at the start of `input`: their length.
std::size_t LeadingEmptyLines(std::string_view input) {
  std::size_t at = 0;
  for (;;) {
    if (input.substr(at, 1) == "\n") {
      at += 1;
    } else if (input.substr(at, 2) == "\r\n") {
      at += 2;
    } else {
      return at;
    }
  }
}

}  // namespace

std::size_t FindHeadEnd(std::string_view bytes) {
  const char* data = bytes.data();
  const std::size_t size = bytes.size();
  std::size_t from = 0;
  while (from < size) {
    const void* hit = std::memchr(data + from, '\n', size - from);
    if (hit == nullptr) return 0;
    const auto lf = static_cast<std::size_t>(static_cast<const char*>(hit) - data);
    if (lf + 1 < size && data[lf + 1] == '\n') return lf + 2;
    if (lf + 2 < size && data[lf + 1] == '\r' && data[lf + 2] == '\n') return lf + 3;
    from = lf + 1;
  }
  return 0;
}

CRequestHead ReadRequestHead(std::string_view head) {
  CRequestHead result;
  std::size_t pos = 0;
  const std::string_view startLine = NextLine(head, pos);
  if (HasBareCr(head)) {
    result.error = FramingError::kBareCr;
  } else if (!ReadRequestLine(startLine, result.kind)) {
    result.error = FramingError::kBadStartLine;
  }
  if (result.error != FramingError::kNone) return result;
  CFramingFields fields;
  fields.http10 = startLine.ends_with("HTTP/1.0");
  result.error = ReadFields(head, pos, fields);
  result.asksUpgrade = fields.upgrade;
  // A CONNECT request has no content; the tunnel starts after its head (RFC 9110 9.3.6).
  if (result.error != FramingError::kNone || result.kind == RequestKind::kConnect) return result;
  result.error = SetRequestBody(fields, result);
  if (result.error != FramingError::kNone) result.body = BodyFraming::kNone;
  return result;
}

CResponseHead ReadResponseHead(std::string_view head, RequestKind request) {
  CResponseHead result;
  std::size_t pos = 0;
  const std::string_view statusLine = NextLine(head, pos);
  if (HasBareCr(head)) {
    result.error = FramingError::kBareCr;
  } else if (!ReadStatusLine(statusLine, result.status)) {
    result.error = FramingError::kBadStartLine;
  }
  if (result.error != FramingError::kNone) return result;
  CFramingFields fields;
  fields.http10 = statusLine.starts_with("HTTP/1.0");
  result.error = ReadFields(head, pos, fields);
  if (result.error != FramingError::kNone) return result;
  SetResponseBody(fields, request, result);
  if (result.error != FramingError::kNone) {
    result.body = BodyFraming::kNone;
    result.contentLength = 0;
  }
  return result;
}

CBodyReader::CBodyReader(BodyFraming framing, std::uint64_t contentLength, bool crlfOnly)
    : m_framing(framing),
      m_left(framing == BodyFraming::kContentLength ? contentLength : 0),
      m_crlfOnly(crlfOnly) {}

bool CBodyReader::IsDone() const {
  switch (m_framing) {
    case BodyFraming::kNone:
      return true;
    case BodyFraming::kContentLength:
      return m_left == 0;
    case BodyFraming::kChunked:
      return m_chunk == ChunkState::kDone;
    case BodyFraming::kUntilClose:
    case BodyFraming::kTunnel:
      return false;
  }
  return false;
}

std::uint64_t CBodyReader::ContentAhead() const {
  switch (m_framing) {
    case BodyFraming::kContentLength:
      return m_left;
    case BodyFraming::kChunked:
      return m_chunk == ChunkState::kData ? m_left : 0;
    case BodyFraming::kUntilClose:
      return kUnbounded;
    case BodyFraming::kNone:
    case BodyFraming::kTunnel:
      return 0;
  }
  return 0;
}

void CBodyReader::SkipContent(std::uint64_t count) {
  if (count == 0 || m_framing == BodyFraming::kUntilClose) return;
  m_left -= std::min(count, m_left);
  if (m_framing == BodyFraming::kChunked && m_left == 0) m_chunk = ChunkState::kDataCr;
}

CBodyReader::CStep CBodyReader::Consume(std::string_view bytes) {
  switch (m_framing) {
    case BodyFraming::kNone:
      return {0, true, FramingError::kNone};
    case BodyFraming::kContentLength: {
      const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(m_left, bytes.size()));
      m_left -= take;
      return {take, m_left == 0, FramingError::kNone};
    }
    case BodyFraming::kChunked:
      return ConsumeChunked(bytes);
    case BodyFraming::kUntilClose:
    case BodyFraming::kTunnel:
      return {bytes.size(), false, FramingError::kNone};
  }
  return {};
}

// chunked-body (RFC 9112 section 7.1), one piece at a time: chunk data is taken
// whole, the lines around it byte by byte.
CBodyReader::CStep CBodyReader::ConsumeChunked(std::string_view bytes) {
  if (m_chunk == ChunkState::kData) {
    const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(m_left, bytes.size()));
    m_left -= take;
    if (m_left == 0) m_chunk = ChunkState::kDataCr;
    return {take, false, FramingError::kNone, true};
  }
  std::size_t at = 0;
  while (at < bytes.size() && m_chunk != ChunkState::kDone && m_chunk != ChunkState::kData) {
    if (!StepChunkByte(bytes[at])) return {at, false, FramingError::kBadChunk, false};
    ++at;
  }
  return {at, m_chunk == ChunkState::kDone, FramingError::kNone, false};
}

// A bare LF ends every line as well as CRLF does (RFC 9112 section 2.2), unless
// only CRLF is allowed; a CR must be followed by LF. Chunk extensions and trailer
// lines pass unread.
bool CBodyReader::StepChunkByte(char c) {
  const bool lfExpected = m_chunk == ChunkState::kSizeLf || m_chunk == ChunkState::kDataLf ||
                          m_chunk == ChunkState::kTrailerLf || m_chunk == ChunkState::kLastLf;
  if (c == '\n' && m_crlfOnly && !lfExpected) return false;
  switch (m_chunk) {
    case ChunkState::kSize:
      return StepSizeByte(c);
    case ChunkState::kSizeBlanks:
      return StepSizeBlank(c);
    case ChunkState::kExtension:
      if (c == '\r') m_chunk = ChunkState::kSizeLf;
      if (c == '\n') EndSizeLine();
      return true;
    case ChunkState::kSizeLf:
      if (c != '\n') return false;
      EndSizeLine();
      return true;
    case ChunkState::kDataCr:
      if (c != '\r' && c != '\n') return false;
      m_chunk = c == '\r' ? ChunkState::kDataLf : ChunkState::kSize;
      return true;
    case ChunkState::kTrailerStart:
      m_chunk = c == '\r'   ? ChunkState::kLastLf
                : c == '\n' ? ChunkState::kDone
                            : ChunkState::kTrailerLine;
      return true;
    case ChunkState::kTrailerLine:
      if (c == '\r') m_chunk = ChunkState::kTrailerLf;
      if (c == '\n') m_chunk = ChunkState::kTrailerStart;
      return true;
    case ChunkState::kDataLf:
    case ChunkState::kTrailerLf:
    case ChunkState::kLastLf:
      if (c != '\n') return false;
      m_chunk = m_chunk == ChunkState::kDataLf      ? ChunkState::kSize
                : m_chunk == ChunkState::kTrailerLf ? ChunkState::kTrailerStart
                                                    : ChunkState::kDone;
      return true;
    case ChunkState::kData:
    case ChunkState::kDone:
      break;
  }
  return false;
}

// chunk-size: 1*HEXDIG, then extensions after ";" or blanks, then the line end.
bool CBodyReader::StepSizeByte(char c) {
  const int digit = HexValue(c);
  if (digit >= 0) {
    if (m_sizeDigits == kMaxChunkSizeDigits) return false;
    m_left = (m_left << 4) | static_cast<std::uint64_t>(digit);
    ++m_sizeDigits;
    return true;
  }
  if (m_sizeDigits == 0) return false;
  if (c == ';' || (IsBlank(c) && !m_crlfOnly)) {
    m_chunk = ChunkState::kExtension;
  } else if (IsBlank(c)) {
    m_chunk = ChunkState::kSizeBlanks;
  } else if (c == '\r') {
    m_chunk = ChunkState::kSizeLf;
  } else if (c == '\n') {
    EndSizeLine();
  } else {
    return false;
  }
  return true;
}

// In a request only blanks may follow the size before ";" or the line end: a
// server may not read "5 junk" as the size 5.
bool CBodyReader::StepSizeBlank(char c) {
  if (IsBlank(c)) return true;
  if (c == ';')
    m_chunk = ChunkState::kExtension;
  else if (c == '\r')
    m_chunk = ChunkState::kSizeLf;
  else
    return false;
  return true;
}

// A size of 0 is the last chunk: the trailer section follows.
void CBodyReader::EndSizeLine() {
  m_chunk = m_left == 0 ? ChunkState::kTrailerStart : ChunkState::kData;
  m_sizeDigits = 0;
}

CMessageStream::CEvent CMessageStream::Next(std::string_view input, std::size_t maxHead) {
  if (m_error != FramingError::kNone) return {Event::kError, 0};
  if (m_tunnel) return input.empty() ? CEvent{} : CEvent{Event::kBody, input.size()};
  if (m_inMessage) return NextInMessage(input);
  return NextHead(input, maxHead);
}

CMessageStream::CEvent CMessageStream::NextHead(std::string_view input, std::size_t maxHead) {
  if (m_side == Side::kRequests) {
    // Empty lines before a request line are ignored (RFC 9112 section 2.2); a lone
    // CR may begin one, so it is neither a header block nor too large.
    const std::size_t skip = LeadingEmptyLines(input);
    if (skip > 0) {
      m_headScanned = 0;
      return {Event::kSkip, skip};
    }
    if (input == "\r") return {};
  }
  const std::size_t limit = std::min(input.size(), maxHead);
  if (m_headScanned > limit) m_headScanned = 0;
  // The bytes searched before hold no end, but their last two may begin one.
  const std::size_t from = m_headScanned > 2 ? m_headScanned - 2 : 0;
  const std::size_t found = FindHeadEnd(input.substr(from, limit - from));
  if (found != 0) return ReadHead(input.substr(0, from + found));
  if (input.size() >= maxHead) return Fail(FramingError::kHeadTooLarge);
  m_headScanned = limit;
  return {};
}

CMessageStream::CEvent CMessageStream::ReadHead(std::string_view head) {
  m_headScanned = 0;
  FramingError error = FramingError::kNone;
  if (m_side == Side::kRequests) {
    m_request = ReadRequestHead(head);
    error = m_request.error;
    m_body = CBodyReader(m_request.body, m_request.contentLength, true);
  } else {
    m_response = ReadResponseHead(head, m_answerTo);
    error = m_response.error;
    m_body = CBodyReader(m_response.body, m_response.contentLength);
  }
  if (error != FramingError::kNone) return Fail(error);
  m_inMessage = true;
  return {Event::kHead, head.size()};
}

CMessageStream::CEvent CMessageStream::NextInMessage(std::string_view input) {
  if (CurrentFraming() == BodyFraming::kTunnel) {
    m_inMessage = false;
    m_tunnel = true;
    return {Event::kTunnel, 0};
  }
  // An interim answer has no body, so it ends here; m_answerTo stays for the final one.
  if (m_body.IsDone()) return EndMessage();
  if (input.empty()) return {};
  const CBodyReader::CStep step = m_body.Consume(input);
  if (step.error != FramingError::kNone) return Fail(step.error);
  return {Event::kBody, step.consumed, step.content};
}

std::uint64_t CMessageStream::ContentAhead() const {
  if (!m_inMessage || m_error != FramingError::kNone) return 0;
  return m_body.ContentAhead();
}

void CMessageStream::SkipContent(std::uint64_t count) {
  if (m_inMessage) m_body.SkipContent(count);
}

CMessageStream::CEvent CMessageStream::EndMessage() {
  m_inMessage = false;
  return {Event::kEnd, 0};
}

CMessageStream::CEvent CMessageStream::Fail(FramingError error) {
  m_error = error;
  return {Event::kError, 0};
}

BodyFraming CMessageStream::CurrentFraming() const {
  return m_side == Side::kRequests ? m_request.body : m_response.body;
}

CMessageStream::CEvent CMessageStream::Close() {
  if (m_error != FramingError::kNone) return {Event::kError, 0};
  if (m_inMessage) {
    const BodyFraming framing = CurrentFraming();
    if (framing == BodyFraming::kUntilClose || framing == BodyFraming::kTunnel || m_body.IsDone())
      return EndMessage();
    return Fail(FramingError::kCutShort);
  }
  if (m_headScanned > 0) return Fail(FramingError::kCutShort);
  return {};
}
