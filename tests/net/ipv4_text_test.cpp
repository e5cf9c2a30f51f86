#include "net/ipv4_text.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "net/resolvers.h"
#include "support/raised_message.h"

namespace {

constexpr std::optional<uint32_t> kNone;

// One text under each rule set: the plain form the sender filter reads, the
// resolver's dotted form, and the resolver's octal reading of it.
TEST(ParseIPv4Text, OneFormThreeRuleSets) {
  constexpr TIPv4TextRules kDotted{.SpacesAround = true, .MaxGroupDigits = 0};
  constexpr TIPv4TextRules kOctal{
      .SpacesAround = true, .MaxGroupDigits = 0, .LeadingZeroOctal = true};
  struct {
    const char* text;
    std::optional<uint32_t> plain, dotted, octal;
  } cases[] = {
      {"192.168.1.7", 0xC0A80107, 0xC0A80107, 0xC0A80107},
      {"255.255.255.255", 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF},
      {"010.0.0.1", 0x0A000001, 0x0A000001, 0x08000001},
      {"1.2.3.08", 0x01020308, 0x01020308, kNone},
      {"0001.2.3.4", kNone, 0x01020304, 0x01020304},
      {"1.2.3.0377", kNone, kNone, 0x010203FF},
      {"  1.2.3.4  ", kNone, 0x01020304, 0x01020304},
      {"\t1.2.3.4", kNone, kNone, kNone},
      {"1.2. 3.4", kNone, kNone, kNone},
      {"1.2.3.99999999999999999999", kNone, kNone, kNone},
      {"+1.2.3.4", kNone, kNone, kNone},
      {"   ", kNone, kNone, kNone},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseIPv4Text(c.text), c.plain) << c.text;
    EXPECT_EQ(ParseIPv4Text(c.text, kDotted), c.dotted) << c.text;
    EXPECT_EQ(ParseIPv4Text(c.text, kOctal), c.octal) << c.text;
  }
}

// The resolver reads a dotted text exactly as the C library's inet_addr,
// which it called before the parser was shared: every combination of these
// groups, with and without spaces around, gives the same address or fails.
TEST(ParseIPv4Text, TheResolverReadsDottedTextsAsTheCLibraryDoes) {
  const char* groups[] = {"0", "00", "7", "08", "010", "019", "255", "256", "0255", "00000000012"};
  int compared = 0;
  for (const char* a : groups)
    for (const char* b : groups)
      for (const char* c : groups)
        for (const char* d : groups)
          for (const char* spaces : {"", " "}) {
            const std::string core = std::string(a) + "." + b + "." + c + "." + d;
            const std::string text = spaces + core + spaces;
            if (!IsDottedAddress(text)) continue;
            ++compared;
            const in_addr_t expected = ::inet_addr(core.c_str());
            if (expected == INADDR_NONE && core != "255.255.255.255") {
              ASSERT_EQ(RaisedMessage([&] { WSocketResolveHost(text); }),
                        "WSocketResolveHost: '" + text + "' Invalid IP address.");
            } else {
              ASSERT_EQ(WSocketResolveHost(text), expected) << text;
            }
          }
  EXPECT_GT(compared, 10000);
}

}  // namespace
