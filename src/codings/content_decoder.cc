// Streaming decoders for compressed answer bodies.
#include "codings/content_decoder.h"

#include "codings/decoder_factories.h"

std::unique_ptr<CContentDecoder> MakeContentDecoder(ContentCoding coding) {
  switch (coding) {
    case ContentCoding::kGzip:
    case ContentCoding::kDeflate:
      return MakeZlibDecoder(coding);
    case ContentCoding::kBrotli:
      return MakeBrotliDecoder();
    case ContentCoding::kZstd:
      return MakeZstdDecoder();
    case ContentCoding::kIdentity:
    case ContentCoding::kOther:
      break;
  }
  return nullptr;
}
