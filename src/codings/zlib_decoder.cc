// gzip and deflate bodies, decoded with zlib.
#include <zlib.h>

#include <algorithm>
#include <array>

#include "codings/decoder_factories.h"

namespace {

constexpr int kGzipWindowBits = 16 + MAX_WBITS;
constexpr unsigned char kGzipFirstByte = 0x1f;
constexpr std::size_t kMaxInflateInput = 1u << 30;  // well inside zlib's 32-bit counts

// Whether two bytes open a zlib stream (RFC 1950), as "deflate" means; many
// servers send a raw deflate stream under that name instead.
bool OpensZlibStream(unsigned char first, unsigned char second) {
  return (first & 0x0f) == Z_DEFLATED && (first >> 4) <= 7 && ((first << 8) | second) % 31 == 0;
}

class CZlibDecoder final : public CContentDecoder {
 public:
  explicit CZlibDecoder(ContentCoding coding) : m_gzip(coding == ContentCoding::kGzip) {}
  CZlibDecoder(const CZlibDecoder&) = delete;
  CZlibDecoder& operator=(const CZlibDecoder&) = delete;
  ~CZlibDecoder() override {
    if (m_started) inflateEnd(&m_stream);
  }

  Step Decode(std::string_view input, char* output, std::size_t capacity) override;
  bool IsComplete() const override { return m_ended; }

 private:
  // Chooses the stream format once the first bytes are known; false when zlib
  // cannot start.
  bool Start(std::string_view input, Step& step);
  // Runs inflate over `bytes` into the output left; the bytes it took.
  std::size_t Inflate(const unsigned char* bytes, std::size_t size, char* output,
                      std::size_t capacity, Step& step);

  z_stream m_stream{};
  bool m_gzip;
  bool m_started = false;
  bool m_ended = false;     // a whole stream (for gzip: member) has ended
  bool m_dropping = false;  // what follows the end is not another gzip member
  std::array<unsigned char, 2> m_head{};
  std::size_t m_headSize = 0;
  std::size_t m_headFed = 0;
};

CContentDecoder::Step CZlibDecoder::Decode(std::string_view input, char* output,
                                           std::size_t capacity) {
  Step step;
  if (!m_started && !Start(input, step)) return step;
  if (!m_started) return step;
  // The bytes held back to tell the deflate formats apart go in first.
  m_headFed += Inflate(m_head.data() + m_headFed, m_headSize - m_headFed, output, capacity, step);
  if (m_headFed < m_headSize || step.failed) return step;
  const auto* bytes = reinterpret_cast<const unsigned char*>(input.data());
  // Even without input, inflate may still owe output from a long match.
  while (!step.failed && step.produced < capacity) {
    if (m_dropping) {
      step.consumed = input.size();
      break;
    }
    const std::size_t produced = step.produced;
    const std::size_t taken = Inflate(bytes + step.consumed, input.size() - step.consumed,
                                      output, capacity, step);
    step.consumed += taken;
    if (taken == 0 && step.produced == produced) break;
  }
  return step;
}

bool CZlibDecoder::Start(std::string_view input, Step& step) {
  int windowBits = kGzipWindowBits;
  if (!m_gzip) {
    while (m_headSize < m_head.size() && step.consumed < input.size())
      m_head[m_headSize++] = static_cast<unsigned char>(input[step.consumed++]);
    if (m_headSize < m_head.size()) return true;
    windowBits = OpensZlibStream(m_head[0], m_head[1]) ? MAX_WBITS : -MAX_WBITS;
  }
  if (inflateInit2(&m_stream, windowBits) != Z_OK) {
    step.failed = true;
    return false;
  }
  m_started = true;
  return true;
}

std::size_t CZlibDecoder::Inflate(const unsigned char* bytes, std::size_t size, char* output,
                                  std::size_t capacity, Step& step) {
  if (m_ended) {
    if (size == 0) return 0;
    // After a gzip member another may follow; anything else is dropped.
    if (!m_gzip || bytes[0] != kGzipFirstByte || inflateReset(&m_stream) != Z_OK) {
      m_dropping = true;
      return size;
    }
    m_ended = false;
  }
  m_stream.next_in = const_cast<unsigned char*>(bytes);
  m_stream.avail_in = static_cast<uInt>(std::min<std::size_t>(size, kMaxInflateInput));
  m_stream.next_out = reinterpret_cast<unsigned char*>(output + step.produced);
  m_stream.avail_out = static_cast<uInt>(capacity - step.produced);
  const int result = inflate(&m_stream, Z_NO_FLUSH);
  const std::size_t taken = size - m_stream.avail_in;
  step.produced = capacity - m_stream.avail_out;
  if (result == Z_STREAM_END)
    m_ended = true;
  else if (result != Z_OK && result != Z_BUF_ERROR)
    step.failed = true;
  return taken;
}

}  // namespace

std::unique_ptr<CContentDecoder> MakeZlibDecoder(ContentCoding coding) {
  return std::make_unique<CZlibDecoder>(coding);
}
