// Reading the first message a browser sends on a TLS connection, the
// ClientHello (RFC 8446, section 4.1.2), before deciding what to do with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class ClientHelloKind {
  kNeedMore,   // a valid start; the hello is not complete yet
  kNotTls,     // the bytes do not start a TLS handshake record
  kMalformed,  // TLS records, but no ClientHello that a server could accept
  kHello,      // a complete ClientHello, read below
};

struct CClientHello {
  ClientHelloKind kind = ClientHelloKind::kNeedMore;
  std::string serverName;                  // the server_name host; empty when none was sent
  std::vector<std::string> alpnProtocols;  // in the browser's order
  std::uint16_t highestVersion = 0;        // e.g. 0x0304 for TLS 1.3
};

// The largest ClientHello read, its handshake header included; a larger one is malformed.
inline constexpr std::size_t kMaxClientHelloSize = 16384;
// The most records a ClientHello may be split over.
inline constexpr std::size_t kMaxClientHelloRecords = 64;
// Given this many bytes, the reader never answers kNeedMore.
inline constexpr std::size_t kMaxClientHelloInput =
    kMaxClientHelloSize + kMaxClientHelloRecords * 5;

// Reads the ClientHello at the start of `received` (the bytes the browser sent
// so far, untouched). Looks at no byte beyond `received`; bytes after the
// records holding the hello are ignored.
CClientHello ReadClientHello(std::string_view received);
