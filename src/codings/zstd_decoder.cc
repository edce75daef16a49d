// zstd bodies, decoded with libzstd.
#include <zstd.h>

#include "codings/decoder_factories.h"

namespace {

// Frames that need a larger window are refused rather than given the memory:
// 8 MiB is what browsers accept for web content too.
constexpr int kMaxWindowLog = 23;

class CZstdDecoder final : public CContentDecoder {
 public:
  CZstdDecoder() : m_context(ZSTD_createDCtx()) {
    if (m_context && ZSTD_isError(ZSTD_DCtx_setParameter(m_context, ZSTD_d_windowLogMax,
                                                         kMaxWindowLog))) {
      ZSTD_freeDCtx(m_context);
      m_context = nullptr;
    }
  }
  CZstdDecoder(const CZstdDecoder&) = delete;
  CZstdDecoder& operator=(const CZstdDecoder&) = delete;
  ~CZstdDecoder() override { ZSTD_freeDCtx(m_context); }

  Step Decode(std::string_view input, char* output, std::size_t capacity) override {
    Step step;
    if (!m_context || m_failed) {
      step.failed = true;
      return step;
    }
    ZSTD_inBuffer in{input.data(), input.size(), 0};
    ZSTD_outBuffer out{output, capacity, 0};
    // Frames may follow one another; each call goes on until the input is taken
    // or the output is full.
    while (in.pos < in.size || out.pos < out.size) {
      const std::size_t inBefore = in.pos;
      const std::size_t outBefore = out.pos;
      const std::size_t result = ZSTD_decompressStream(m_context, &out, &in);
      if (ZSTD_isError(result)) {
        m_failed = true;
        step.failed = true;
        break;
      }
      // A call that moved nothing says only what the next frame would need.
      if (in.pos == inBefore && out.pos == outBefore) break;
      m_frameEnded = result == 0;
    }
    step.consumed = in.pos;
    step.produced = out.pos;
    return step;
  }

  bool IsComplete() const override { return m_frameEnded; }

 private:
  ZSTD_DCtx* m_context;
  bool m_frameEnded = false;
  bool m_failed = false;
};

}  // namespace

std::unique_ptr<CContentDecoder> MakeZstdDecoder() { return std::make_unique<CZstdDecoder>(); }
