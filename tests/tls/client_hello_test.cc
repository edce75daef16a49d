#include "tls/client_hello.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// What `openssl s_client -servername www.example.com -alpn h2,http/1.1` sent first,
// captured on loopback.
std::string CapturedHello() {
  const std::string hex =
      "160301014e0100014a0303f1a4c37f55d98ca4d5f5b4472a97acdc8563ae23bcc2667bd0eef557d2646e7b201ec3"
      "3d38014da35349954fb2f3eb6d979518db889d07c6a0c3eb2e691c36326c003e130213031301c02cc030009fcca9"
      "cca8ccaac02bc02f009ec024c028006bc023c0270067c00ac0140039c009c0130033009d009c003d003c0035002f"
      "00ff010000c300000014001200000f7777772e6578616d706c652e636f6d000b000403000102000a00160014001d"
      "0017001e0019001801000101010201030104002300000010000e000c02683208687474702f312e31001600000017"
      "0000000d002a0028040305030603080708080809080a080b08040805080604010501060103030301030204020502"
      "0602002b0009080304030303020301002d00020101003300260024001d0020862abfdaf78191c77ce38b740290dd"
      "0c69741b855f78bc0549dae9752243d95d";
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2)
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

std::string Record(std::string_view fragment, char type = 22) {
  const auto size = fragment.size();
  return std::string{type, 3, 1, static_cast<char>(size >> 8), static_cast<char>(size & 0xFF)} +
         std::string(fragment);
}

// The captured handshake message, split over records of the given sizes (the rest in the last).
std::string SplitIntoRecords(std::initializer_list<std::size_t> sizes) {
  std::string handshake = CapturedHello().substr(5);
  std::string records;
  for (std::size_t size : sizes) {
    records += Record(handshake.substr(0, size));
    handshake.erase(0, size);
  }
  return records + Record(handshake);
}

void ExpectCapturedFields(const CClientHello& hello) {
  ASSERT_EQ(hello.kind, ClientHelloKind::kHello);
  EXPECT_EQ(hello.serverName, "www.example.com");
  EXPECT_EQ(hello.alpnProtocols, (std::vector<std::string>{"h2", "http/1.1"}));
  EXPECT_EQ(hello.highestVersion, 0x0304);
}

TEST(ClientHello, ReadsARealHelloWholeSplitOrFollowedByMore) {
  const std::string hello = CapturedHello();
  ExpectCapturedFields(ReadClientHello(hello));
  ExpectCapturedFields(ReadClientHello(hello + Record("next", 23)));
  ExpectCapturedFields(ReadClientHello(SplitIntoRecords({1, 3, 100})));
  for (const std::string& whole : {hello, SplitIntoRecords({2, 50})}) {
    for (std::size_t size = 0; size < whole.size(); ++size)
      ASSERT_EQ(ReadClientHello(std::string_view(whole).substr(0, size)).kind,
                ClientHelloKind::kNeedMore)
          << size;
  }
}

TEST(ClientHello, TellsOtherTrafficAndBrokenHellosApart) {
  EXPECT_EQ(ReadClientHello("GET / HTTP/1.1\r\n").kind, ClientHelloKind::kNotTls);
  EXPECT_EQ(ReadClientHello("SSH-2.0-OpenSSH").kind, ClientHelloKind::kNotTls);
  EXPECT_EQ(ReadClientHello(std::string("\x16\x04", 2)).kind, ClientHelloKind::kNotTls);
  EXPECT_EQ(ReadClientHello(Record("\x01\x00\x00\x01", 23)).kind, ClientHelloKind::kNotTls);

  const std::string hello = CapturedHello();
  std::string serverHello = hello;
  serverHello[5] = 2;
  std::string oversized = hello;
  oversized[6] = 1;  // handshake length above 64 KiB
  // The declared lengths shortened by 10 bytes: the extensions now run past the message.
  std::string cut = hello.substr(0, hello.size() - 10);
  cut[4] = static_cast<char>(cut[4] - 10);
  cut[8] = static_cast<char>(cut[8] - 10);
  std::string doubleName = hello;
  doubleName.replace(doubleName.find("\x00\x2b\x00\x09", 0, 4), 2, std::string("\x00\x00", 2));
  for (const std::string& bad : {serverHello, oversized, cut, doubleName, Record(""),
                                 Record(hello.substr(5, 10)) + Record("x", 21)})
    EXPECT_EQ(ReadClientHello(bad).kind, ClientHelloKind::kMalformed);
}

}  // namespace
