// br bodies, decoded with libbrotli.
#include <brotli/decode.h>

#include "codings/decoder_factories.h"

namespace {

class CBrotliDecoder final : public CContentDecoder {
 public:
  CBrotliDecoder() : m_state(BrotliDecoderCreateInstance(nullptr, nullptr, nullptr)) {}
  CBrotliDecoder(const CBrotliDecoder&) = delete;
  CBrotliDecoder& operator=(const CBrotliDecoder&) = delete;
  ~CBrotliDecoder() override {
    if (m_state) BrotliDecoderDestroyInstance(m_state);
  }

  Step Decode(std::string_view input, char* output, std::size_t capacity) override {
    Step step;
    if (!m_state) {
      step.failed = true;
      return step;
    }
    if (m_ended) {
      step.consumed = input.size();
      return step;
    }
    std::size_t availableIn = input.size();
    const auto* nextIn = reinterpret_cast<const std::uint8_t*>(input.data());
    std::size_t availableOut = capacity;
    auto* nextOut = reinterpret_cast<std::uint8_t*>(output);
    const BrotliDecoderResult result = BrotliDecoderDecompressStream(
        m_state, &availableIn, &nextIn, &availableOut, &nextOut, nullptr);
    step.consumed = input.size() - availableIn;
    step.produced = capacity - availableOut;
    if (result == BROTLI_DECODER_RESULT_ERROR) step.failed = true;
    if (result == BROTLI_DECODER_RESULT_SUCCESS) {
      m_ended = true;
      step.consumed = input.size();
    }
    return step;
  }

  bool IsComplete() const override { return m_ended; }

 private:
  BrotliDecoderState* m_state;
  bool m_ended = false;
};

}  // namespace

std::unique_ptr<CContentDecoder> MakeBrotliDecoder() { return std::make_unique<CBrotliDecoder>(); }
