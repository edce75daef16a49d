// Reading a ClientHello: the handshake records gathered first (RFC 8446, section
// 5.1), then the message and the three extensions inspection needs.
#include "tls/client_hello.h"

#include <algorithm>

namespace {

constexpr std::uint8_t kHandshakeRecord = 22;
constexpr std::uint8_t kClientHelloType = 1;
constexpr std::size_t kRecordHeaderSize = 5;
constexpr std::size_t kHandshakeHeaderSize = 4;
constexpr std::size_t kMaxRecordPayload = 16384;
constexpr std::size_t kRandomSize = 32;
constexpr std::size_t kMaxSessionIdSize = 32;
constexpr std::uint16_t kServerNameExtension = 0;
constexpr std::uint16_t kAlpnExtension = 16;
constexpr std::uint16_t kSupportedVersionsExtension = 43;
constexpr std::uint8_t kHostNameType = 0;

std::uint8_t ByteAt(std::string_view bytes, std::size_t index) {
  return static_cast<std::uint8_t>(bytes[index]);
}

// Big-endian fields and length-prefixed vectors over a bounded view; a read past
// the end marks the reader failed and yields zeros and empty views.
class CFieldReader {
 public:
  explicit CFieldReader(std::string_view bytes) : m_rest(bytes) {}

  bool Failed() const { return m_failed; }
  bool AtEnd() const { return m_rest.empty(); }
  // True when every byte was read and nothing went wrong.
  bool Finished() const { return !m_failed && m_rest.empty(); }

  std::uint32_t Number(std::size_t size) {
    std::string_view bytes = Bytes(size);
    std::uint32_t value = 0;
    for (char byte : bytes) value = value << 8 | static_cast<std::uint8_t>(byte);
    return value;
  }
  std::string_view Bytes(std::size_t size) {
    if (m_failed || size > m_rest.size()) {
      m_failed = true;
      return {};
    }
    std::string_view taken = m_rest.substr(0, size);
    m_rest.remove_prefix(size);
    return taken;
  }
  // A vector whose length takes `lengthSize` bytes and lies within [minimum, maximum].
  std::string_view Vector(std::size_t lengthSize, std::size_t minimum, std::size_t maximum) {
    const std::size_t length = Number(lengthSize);
    if (length < minimum || length > maximum) m_failed = true;
    return Bytes(length);
  }

 private:
  std::string_view m_rest;
  bool m_failed = false;
};

constexpr std::size_t kAny = 0xFFFFFF;

// GREASE values (RFC 8701) are 0x?A?A with both bytes alike; they offer nothing.
bool IsGrease(std::uint16_t value) {
  return (value & 0x0F0F) == 0x0A0A && value >> 8 == (value & 0xFF);
}

bool IsHostNameText(std::string_view name) {
  return !name.empty() &&
         std::all_of(name.begin(), name.end(), [](char c) { return c > ' ' && c < 0x7F; });
}

bool ReadServerName(std::string_view data, CClientHello& hello) {
  CFieldReader list(data);
  CFieldReader names(list.Vector(2, 1, kAny));
  if (!list.Finished()) return false;
  while (!names.AtEnd()) {
    const std::uint8_t type = static_cast<std::uint8_t>(names.Number(1));
    const std::string_view name = names.Vector(2, 1, kAny);
    if (type != kHostNameType) continue;
    // RFC 6066, section 3: one name per type, ASCII without a final dot.
    if (!hello.serverName.empty() || !IsHostNameText(name) || name.size() > 255 ||
        name.back() == '.')
      return false;
    hello.serverName = name;
  }
  return !names.Failed();
}

bool ReadAlpn(std::string_view data, CClientHello& hello) {
  CFieldReader list(data);
  CFieldReader protocols(list.Vector(2, 2, kAny));
  if (!list.Finished()) return false;
  while (!protocols.AtEnd() && !protocols.Failed())
    hello.alpnProtocols.emplace_back(protocols.Vector(1, 1, kAny));
  return !protocols.Failed();
}

bool ReadSupportedVersions(std::string_view data, CClientHello& hello) {
  CFieldReader list(data);
  CFieldReader versions(list.Vector(1, 2, 254));
  if (!list.Finished()) return false;
  std::uint16_t highest = 0;
  while (!versions.AtEnd() && !versions.Failed()) {
    const auto version = static_cast<std::uint16_t>(versions.Number(2));
    if (!IsGrease(version)) highest = std::max(highest, version);
  }
  if (versions.Failed()) return false;
  if (highest != 0) hello.highestVersion = highest;
  return true;
}

bool ReadExtensions(std::string_view data, CClientHello& hello) {
  CFieldReader extensions(data);
  std::vector<std::uint16_t> seen;
  while (!extensions.AtEnd()) {
    const auto type = static_cast<std::uint16_t>(extensions.Number(2));
    const std::string_view body = extensions.Vector(2, 0, kAny);
    if (extensions.Failed()) return false;
    // RFC 8446, section 4.2: no extension type twice.
    if (std::find(seen.begin(), seen.end(), type) != seen.end()) return false;
    seen.push_back(type);
    if (type == kServerNameExtension && !ReadServerName(body, hello)) return false;
    if (type == kAlpnExtension && !ReadAlpn(body, hello)) return false;
    if (type == kSupportedVersionsExtension && !ReadSupportedVersions(body, hello)) return false;
  }
  return true;
}

// The ClientHello's body, after its handshake header.
bool ReadHelloBody(std::string_view body, CClientHello& hello) {
  CFieldReader reader(body);
  hello.highestVersion = static_cast<std::uint16_t>(reader.Number(2));
  reader.Bytes(kRandomSize);
  reader.Vector(1, 0, kMaxSessionIdSize);
  const std::string_view cipherSuites = reader.Vector(2, 2, 0xFFFE);
  reader.Vector(1, 1, 0xFF);  // compression methods
  if (reader.Failed() || cipherSuites.size() % 2 != 0) return false;
  // A hello without extensions ends here (TLS 1.2 and older).
  if (reader.AtEnd()) return true;
  const std::string_view extensions = reader.Vector(2, 0, kAny);
  return reader.Finished() && ReadExtensions(extensions, hello);
}

// The handshake bytes of the leading records, gathered until they hold one whole
// message; kHello here means "gathered", the message is not read yet.
ClientHelloKind GatherHandshake(std::string_view received, std::string& handshake) {
  std::size_t offset = 0;
  for (std::size_t records = 0;; ++records) {
    if (handshake.size() >= kHandshakeHeaderSize) {
      const std::size_t size =
          kHandshakeHeaderSize + (std::size_t{ByteAt(handshake, 1)} << 16 |
                                  std::size_t{ByteAt(handshake, 2)} << 8 | ByteAt(handshake, 3));
      if (ByteAt(handshake, 0) != kClientHelloType || size > kMaxClientHelloSize)
        return ClientHelloKind::kMalformed;
      // Anything after the hello would be a second handshake message before the
      // server answered, which no client sends.
      if (handshake.size() > size) return ClientHelloKind::kMalformed;
      if (handshake.size() == size) return ClientHelloKind::kHello;
    }
    const std::string_view rest = received.substr(offset);
    const ClientHelloKind notHandshake =
        offset == 0 ? ClientHelloKind::kNotTls : ClientHelloKind::kMalformed;
    if (rest.empty()) return ClientHelloKind::kNeedMore;
    if (ByteAt(rest, 0) != kHandshakeRecord) return notHandshake;
    if (rest.size() >= 2 && ByteAt(rest, 1) != 3) return notHandshake;
    if (rest.size() < kRecordHeaderSize) return ClientHelloKind::kNeedMore;
    const std::size_t length = std::size_t{ByteAt(rest, 3)} << 8 | ByteAt(rest, 4);
    // RFC 8446, section 5.1: no empty handshake fragments, none above 2^14 bytes.
    if (length == 0 || length > kMaxRecordPayload || records == kMaxClientHelloRecords)
      return ClientHelloKind::kMalformed;
    if (rest.size() < kRecordHeaderSize + length) return ClientHelloKind::kNeedMore;
    handshake.append(rest.substr(kRecordHeaderSize, length));
    offset += kRecordHeaderSize + length;
  }
}

}  // namespace

CClientHello ReadClientHello(std::string_view received) {
  CClientHello hello;
  std::string handshake;
  hello.kind = GatherHandshake(received, handshake);
  if (hello.kind != ClientHelloKind::kHello) return hello;
  if (!ReadHelloBody(std::string_view(handshake).substr(kHandshakeHeaderSize), hello))
    return CClientHello{ClientHelloKind::kMalformed, {}, {}, 0};
  return hello;
}
