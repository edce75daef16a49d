// Streaming decoders for compressed answer bodies: bytes in as they arrive,
// decoded bytes out into a buffer of the caller's size, so that memory stays
// bounded however far a body expands.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "codings/content_coding.h"

class CContentDecoder {
 public:
  struct Step {
    std::size_t consumed = 0;  // input bytes taken; the caller offers the rest again
    std::size_t produced = 0;  // bytes written to the output
    bool failed = false;       // the input is not a valid stream of the coding
  };

  virtual ~CContentDecoder() = default;

  // Decodes from the start of `input` into `output` (at most `capacity` bytes).
  // A full output may leave decoded bytes waiting: call again, with the input not
  // yet taken or none, until less than `capacity` comes out. Bytes after the end
  // of the compressed stream are taken and dropped.
  virtual Step Decode(std::string_view input, char* output, std::size_t capacity) = 0;

  // Whether the input so far ends a whole stream (a body cut short does not).
  virtual bool IsComplete() const = 0;
};

// A decoder for gzip, deflate (zlib-wrapped or raw, as servers send it), br or
// zstd (windows above 8 MiB refused); nullptr for any other coding.
std::unique_ptr<CContentDecoder> MakeContentDecoder(ContentCoding coding);
