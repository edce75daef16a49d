// One maker per compression library, for MakeContentDecoder.
#pragma once

#include <memory>

#include "codings/content_decoder.h"

std::unique_ptr<CContentDecoder> MakeZlibDecoder(ContentCoding coding);
std::unique_ptr<CContentDecoder> MakeBrotliDecoder();
std::unique_ptr<CContentDecoder> MakeZstdDecoder();
