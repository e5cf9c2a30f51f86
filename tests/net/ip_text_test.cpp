#include "net/ip_text.h"

#include <gtest/gtest.h>

namespace {

// How a peer is named whichever way its address was written: the dotted
// form for IPv4, mapped or not, and RFC 5952 for IPv6 (lower case, the
// longest run of zero groups shortened, the first of two equal runs, a
// single zero group kept).
TEST(IPAddressText, NamesEveryAddressInOneForm) {
  const struct {
    const char* written;
    const char* named;
  } cases[] = {
      {"10.1.2.3", "10.1.2.3"},
      {"::ffff:10.1.2.3", "10.1.2.3"},
      {"::FFFF:0a01:0203", "10.1.2.3"},
      {"0:0:0:0:0:0:0:1", "::1"},
      {"fe80:0000::0001", "fe80::1"},
      {"2001:DB8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},
      {"2001:db8:0:0:1:0:0:0", "2001:db8:0:0:1::"},
      {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},
      {"::", "::"},
  };
  for (const auto& c : cases) {
    const auto address = ParseIPText(c.written);
    ASSERT_TRUE(address) << c.written;
    EXPECT_EQ(IPAddressText(*address), c.named) << c.written;
  }
}

}  // namespace
