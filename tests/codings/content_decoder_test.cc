#include "codings/content_decoder.h"

#include <brotli/encode.h>
#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

#include <string>

namespace {

std::string Page() {
  std::string page = "<html><body>";
  for (int i = 0; i < 2000; ++i) page += "<p class=\"ad\">item " + std::to_string(i * 7919) + "</p>";
  return page + "</body></html>";
}

// windowBits as deflateInit2 takes them: 15 zlib-wrapped, -15 raw, 31 gzip.
std::string Deflate(std::string_view text, int windowBits) {
  z_stream stream{};
  deflateInit2(&stream, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, text.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

std::string Brotli(std::string_view text) {
  std::size_t size = BrotliEncoderMaxCompressedSize(text.size());
  std::string out(size, '\0');
  BrotliEncoderCompress(5, 22, BROTLI_MODE_TEXT, text.size(),
                        reinterpret_cast<const std::uint8_t*>(text.data()), &size,
                        reinterpret_cast<std::uint8_t*>(out.data()));
  out.resize(size);
  return out;
}

// A zstd frame with the given window, its content size left out of the header
// so that the decoder must honour the window.
std::string Zstd(std::string_view text, int windowLog) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, windowLog);
  ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, 0);
  std::string out(ZSTD_compressBound(text.size()), '\0');
  ZSTD_outBuffer output{out.data(), out.size(), 0};
  ZSTD_inBuffer input{text.data(), text.size(), 0};
  while (ZSTD_compressStream2(context, &output, &input, ZSTD_e_end) != 0) {
  }
  out.resize(output.pos);
  ZSTD_freeCCtx(context);
  return out;
}

struct Decoded {
  std::string text;
  bool failed = false;
  bool complete = false;
};

// Offers the input `inStep` bytes at a time into an output of `capacity` bytes,
// checking that the decoder never writes or takes more than it was given.
Decoded DecodeAll(ContentCoding coding, std::string_view input, std::size_t inStep,
                  std::size_t capacity) {
  const std::unique_ptr<CContentDecoder> decoder = MakeContentDecoder(coding);
  Decoded decoded;
  std::string buffer(capacity, '\0');
  std::size_t at = 0;
  for (int calls = 0; calls < 10'000'000; ++calls) {
    const std::string_view offered = input.substr(at, std::min(inStep, input.size() - at));
    const CContentDecoder::Step step = decoder->Decode(offered, buffer.data(), capacity);
    EXPECT_LE(step.consumed, offered.size());
    EXPECT_LE(step.produced, capacity);
    decoded.text.append(buffer.data(), step.produced);
    at += step.consumed;
    if (step.failed) {
      decoded.failed = true;
      break;
    }
    if (step.produced < capacity && step.consumed == 0) {
      EXPECT_EQ(at, input.size()) << "the decoder took nothing while it had room";
      break;
    }
  }
  decoded.complete = decoder->IsComplete();
  return decoded;
}

TEST(ContentCoding, ReadsOneCodingAndRefusesTheRest) {
  EXPECT_EQ(ReadContentCoding(" GZip "), ContentCoding::kGzip);
  EXPECT_EQ(ReadContentCoding("x-gzip"), ContentCoding::kGzip);
  EXPECT_EQ(ReadContentCoding("deflate"), ContentCoding::kDeflate);
  EXPECT_EQ(ReadContentCoding("br"), ContentCoding::kBrotli);
  EXPECT_EQ(ReadContentCoding("zstd"), ContentCoding::kZstd);
  EXPECT_EQ(ReadContentCoding(""), ContentCoding::kIdentity);
  EXPECT_EQ(ReadContentCoding("identity"), ContentCoding::kIdentity);
  for (const std::string_view other : {"gzip, br", "dcb", "dcz", "compress", "gzip;q=1"})
    EXPECT_EQ(ReadContentCoding(other), ContentCoding::kOther) << other;
  EXPECT_EQ(MakeContentDecoder(ContentCoding::kOther), nullptr);
  // Requests offer the decodable codings the browser takes too, never others.
  EXPECT_EQ(DecodableCodingsAccepted("gzip, deflate, br, zstd, dcb, dcz"), "gzip, deflate, br, zstd");
  EXPECT_EQ(DecodableCodingsAccepted("GZIP;q=0.8, br;q=0, compress"), "gzip");
  EXPECT_EQ(DecodableCodingsAccepted("*;q=0.1"), "gzip, deflate, br, zstd");
  EXPECT_EQ(DecodableCodingsAccepted("identity"), "identity");
}

TEST(ContentDecoder, EveryCodingDecodesInAnyPiecesAndNoticesACutBody) {
  const std::string page = Page();
  const struct {
    ContentCoding coding;
    std::string encoded;
  } cases[] = {{ContentCoding::kGzip, Deflate(page, 31)},
               {ContentCoding::kDeflate, Deflate(page, 15)},
               {ContentCoding::kDeflate, Deflate(page, -15)},
               {ContentCoding::kBrotli, Brotli(page)},
               {ContentCoding::kZstd, Zstd(page, 20)}};
  for (const auto& [coding, encoded] : cases) {
    SCOPED_TRACE(static_cast<int>(coding));
    for (const auto& [inStep, capacity] : {std::pair<std::size_t, std::size_t>{1, 7},
                                          {3, 1}, {16384, 16384}, {encoded.size(), 100}}) {
      const Decoded decoded = DecodeAll(coding, encoded, inStep, capacity);
      EXPECT_FALSE(decoded.failed);
      EXPECT_TRUE(decoded.complete);
      EXPECT_EQ(decoded.text, page);
    }
    const Decoded cut = DecodeAll(coding, std::string_view(encoded).substr(0, encoded.size() - 1),
                                  512, 512);
    EXPECT_FALSE(cut.complete);
    EXPECT_TRUE(page.starts_with(cut.text));
  }
}

TEST(ContentDecoder, FollowsGzipMembersDropsTrailingBytesAndFailsOnGarbage) {
  const Decoded members =
      DecodeAll(ContentCoding::kGzip, Deflate("first ", 31) + Deflate("second", 31), 5, 64);
  EXPECT_EQ(members.text, "first second");
  EXPECT_TRUE(members.complete);
  for (const ContentCoding coding : {ContentCoding::kGzip, ContentCoding::kBrotli}) {
    const std::string encoded = coding == ContentCoding::kGzip ? Deflate("page", 31) : Brotli("page");
    const Decoded trailing = DecodeAll(coding, encoded + "\r\n<junk>", 4, 64);
    EXPECT_FALSE(trailing.failed);
    EXPECT_EQ(trailing.text, "page");
  }
  for (const ContentCoding coding : {ContentCoding::kGzip, ContentCoding::kDeflate,
                                     ContentCoding::kBrotli, ContentCoding::kZstd})
    EXPECT_TRUE(DecodeAll(coding, "<html>not compressed at all</html>", 8, 64).failed)
        << static_cast<int>(coding);
}

TEST(ContentDecoder, RefusesLargeZstdWindowsAndExpandsABombInBoundedSteps) {
  const std::string zeros(16 << 20, '\0');
  EXPECT_TRUE(DecodeAll(ContentCoding::kZstd, Zstd(zeros, 24), 4096, 16384).failed);
  EXPECT_FALSE(DecodeAll(ContentCoding::kZstd, Zstd(zeros, 23), 4096, 16384).failed);
  const std::string bomb = Deflate(zeros, 31);
  ASSERT_LT(bomb.size(), 64u << 10);
  const Decoded decoded = DecodeAll(ContentCoding::kGzip, bomb, 16384, 16384);
  EXPECT_EQ(decoded.text.size(), zeros.size());
  EXPECT_TRUE(decoded.complete);
}

}  // namespace
