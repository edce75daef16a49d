#include "blocklists/block_list_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ReadLine {
  BlockListLineKind kind;
  std::vector<std::string> names;
};

ReadLine Read(std::string_view line) {
  ReadLine read{};
  auto take = [&](BlockListLineKind kind, std::string_view name) {
    EXPECT_EQ(kind,
              line.find("@@") == 0 ? BlockListLineKind::kException : BlockListLineKind::kBlock);
    read.names.emplace_back(name);
  };
  read.kind = ReadBlockListLine(line, take);
  const bool tookNames =
      read.kind == BlockListLineKind::kBlock || read.kind == BlockListLineKind::kException;
  EXPECT_TRUE(tookNames || read.names.empty()) << line;
  return read;
}

using Names = std::vector<std::string>;

TEST(BlockListLine, HostsLinesTakeEveryNameAfterTheAddress) {
  for (const std::string_view address : {"0.0.0.0", "127.0.0.1", "::", "::1", "0:0:0:0:0:0:0:0",
                                         "192.168.1.20", "::ffff:127.0.0.1"}) {
    const ReadLine read = Read(std::string(address) + "\tads.example.com  Track.Example.NET.\r");
    EXPECT_EQ(read.kind, BlockListLineKind::kBlock) << address;
    EXPECT_EQ(read.names, (Names{"ads.example.com", "Track.Example.NET"})) << address;
  }
  EXPECT_EQ(Read("0.0.0.0 a.example.com # ads, b.example.com").names, Names{"a.example.com"});
  // The entries every hosts file carries for the machine itself are never taken.
  EXPECT_EQ(Read("127.0.0.1 localhost localhost.localdomain local x.example").names,
            Names{"x.example"});
  for (const std::string_view own :
       {"127.0.0.1 localhost", "127.0.0.1 localhost.localdomain", "255.255.255.255 broadcasthost",
        "::1 ip6-localhost ip6-loopback", "fe00::0 ip6-localnet", "ff00::0 ip6-mcastprefix",
        "ff02::1 ip6-allnodes", "ff02::2 ip6-allrouters", "ff02::3 ip6-allhosts", "0.0.0.0 0.0.0.0",
        "127.0.0.1 local"})
    EXPECT_EQ(Read(own).kind, BlockListLineKind::kSkipped) << own;
  // Not an address in front: neither a hosts line nor a plain name.
  EXPECT_EQ(Read("300.0.0.1 a.example").kind, BlockListLineKind::kSkipped);
  EXPECT_EQ(Read("a.example b.example").kind, BlockListLineKind::kSkipped);
}

TEST(BlockListLine, PlainLinesTakeOneValidName) {
  EXPECT_EQ(Read("  Ads.Example.com.  ").names, Names{"Ads.Example.com"});
  EXPECT_EQ(Read("xn--bcher-kva.example # IDN in punycode").names, Names{"xn--bcher-kva.example"});
  EXPECT_EQ(Read("_dmarc.a-b.example").kind, BlockListLineKind::kBlock);
  const std::string longLabel(64, 'a');
  std::string longName;
  while (longName.size() < 254) longName += "abcdefghi.";
  longName += "com";
  for (const std::string& invalid :
       {std::string("com"), std::string("localhost"), std::string("1.2.3.4"),
        std::string("a..example"), std::string(".example.com"), std::string("ex ample.com x"),
        std::string("b\xC3\xBC"
                    "cher.example"),
        std::string("a.exa*mple"), longLabel + ".example", longName,
        std::string("a.example.com#comment")})
    EXPECT_EQ(Read(invalid).kind, BlockListLineKind::kSkipped) << invalid;
  EXPECT_EQ(Read(" \t\r").kind, BlockListLineKind::kNothing);
  EXPECT_EQ(Read("").kind, BlockListLineKind::kNothing);
}

TEST(BlockListLine, AdblockLinesTakeOnlyWholeDomainRules) {
  EXPECT_EQ(Read("||ads.example.com^").names, Names{"ads.example.com"});
  EXPECT_EQ(Read("||ads.example.com^$third-party").names, Names{"ads.example.com"});
  const ReadLine exception = Read("@@||cdn.example.com^$third-party");
  EXPECT_EQ(exception.kind, BlockListLineKind::kException);
  EXPECT_EQ(exception.names, Names{"cdn.example.com"});
  for (const std::string_view skipped :
       {"! Title: a list", "[Adblock Plus 2.0]", "# comment", "example.com##.ad-banner",
        "example.com#@#.ad", "example.com#?#div:has(.ad)", "##.ad", "||ads.example.com/banner",
        "/banner/*", "/ads[0-9]+\\.example/", "||ads.example.com^$script",
        "||ads.example.com^$third-party,script", "||ads.example.com^$domain=a.example",
        "||ads.example.com", "@@ads.example.com", "@@||ads.example.com", "||*.example.com^",
        "|https://ads.example.com^"})
    EXPECT_EQ(Read(skipped).kind, BlockListLineKind::kSkipped) << skipped;
}

}  // namespace
