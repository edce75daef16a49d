// Fuzzes the body decoders as the relay drives them: input offered in pieces of
// changing size into a small output buffer. A decoder must never take or write
// more than it was given, and must always either progress or wait for input.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "codings/content_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  constexpr ContentCoding kCodings[] = {ContentCoding::kGzip, ContentCoding::kDeflate,
                                        ContentCoding::kBrotli, ContentCoding::kZstd};
  const std::unique_ptr<CContentDecoder> decoder = MakeContentDecoder(kCodings[data[0] % 4]);
  const std::size_t inStep = 1 + data[1] % 64;
  const std::size_t capacity = 1 + data[1] / 4;
  const std::string_view input(reinterpret_cast<const char*>(data) + 2, size - 2);
  std::string output(capacity, '\0');
  std::size_t at = 0;
  std::size_t produced = 0;
  // A bomb may expand without end; 64 MiB of output is enough to show it streams.
  while (produced < (64u << 20)) {
    const std::string_view offered = input.substr(at, std::min(inStep, input.size() - at));
    const CContentDecoder::Step step = decoder->Decode(offered, output.data(), capacity);
    if (step.consumed > offered.size() || step.produced > capacity) std::abort();
    at += step.consumed;
    produced += step.produced;
    if (step.failed) break;
    if (step.produced < capacity && step.consumed == 0) {
      if (at != input.size()) std::abort();
      break;
    }
  }
  return 0;
}
