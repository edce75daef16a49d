// Runs every request-text function over arbitrary bytes held the way the proxy
// holds a received chunk: exactly the received bytes followed by one NUL.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "proxy/request_text.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::vector<char> Chunk(const uint8_t* data, std::size_t size) {
  std::vector<char> chunk(size + 1);
  if (size > 0) std::memcpy(chunk.data(), data, size);
  chunk[size] = 0;
  return chunk;
}

void ParseAll(const std::vector<char>& chunk, std::size_t size) {
  std::string host;
  int port = 80;
  bool isConnect = false;
  ParseHostAndPort(chunk.data(), size, host, port, isConnect);
  Check(port >= 1 && port <= 65535);
  Check(host.find('\0') == std::string::npos);

  GetRequestUrl(chunk.data(), size, true);
  GetRequestUrl(chunk.data(), size, false);
  std::string method;
  std::string target;
  SplitRequestLine(chunk.data(), size, method, target);
  Check(method.size() + target.size() <= size);

  std::vector<std::string> names;
  std::vector<std::string> values;
  ParseHeaderLine(chunk.data(), size, names, values);
  ParseFormBody(chunk.data(), size, names, values);
  Check(names.size() == values.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::vector<char> chunk = Chunk(data, size);
  ParseAll(chunk, size);

  std::size_t length = size;
  NormalizeRequest(chunk.data(), length);
  Check(length <= size);
  Check(chunk[length] == 0);

  // A normalized request has nothing left to normalize.
  const std::string once(chunk.data(), length);
  std::size_t again = length;
  NormalizeRequest(chunk.data(), again);
  Check(again == length && std::memcmp(chunk.data(), once.data(), length) == 0);
  return 0;
}
