// Runs the ClientHello reader over arbitrary bytes, as a browser's first bytes
// on a CONNECT tunnel, and checks that what it reports is consistent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "tls/client_hello.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // An exact-size copy, so that AddressSanitizer sees any read past the input.
  const std::vector<char> exact(data, data + size);
  const std::string_view bytes(exact.data(), exact.size());
  const CClientHello hello = ReadClientHello(bytes);
  Check(size < kMaxClientHelloInput || hello.kind != ClientHelloKind::kNeedMore);
  if (hello.kind != ClientHelloKind::kHello) {
    Check(hello.serverName.empty() && hello.alpnProtocols.empty());
    return 0;
  }
  Check(hello.serverName.size() <= 255);
  for (const std::string& protocol : hello.alpnProtocols) Check(!protocol.empty());
  // More bytes after a complete hello never change what it says.
  const CClientHello again =
      ReadClientHello(std::string(bytes) + std::string("\x17\x03\x03\x00\x01x", 6));
  Check(again.kind == ClientHelloKind::kHello && again.serverName == hello.serverName &&
        again.alpnProtocols == hello.alpnProtocols && again.highestVersion == hello.highestVersion);
  return 0;
}
