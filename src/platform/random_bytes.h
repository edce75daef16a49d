// Random bytes from the system's generator, for secrets such as the panel's token.
#pragma once

#include <cstddef>
#include <string>

// Fills `buffer` with `size` bytes from /dev/urandom; false when it cannot be read.
bool ReadRandomBytes(void* buffer, std::size_t size);

// `byteCount` random bytes as lower-case hex (twice as many characters); empty
// when the generator cannot be read.
std::string MakeRandomHexToken(std::size_t byteCount);
