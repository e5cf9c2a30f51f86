#include "net/resolvers.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>

#include <string>

#include "support/raised_message.h"

namespace {

TEST(LeadingNumber, TakesDigitsAfterSpacesAndWraps) {
  struct {
    const char* text;
    int32_t value;
  } cases[] = {
      {"9100", 9100}, {"  12ab", 12}, {"", 0}, {"x1", 0}, {"\t5", 0}, {"4294967297", 1},
  };
  for (const auto& c : cases) EXPECT_EQ(LeadingNumber(c.text), c.value) << c.text;
}

TEST(IsDottedAddress, FourGroupsUpTo255) {
  struct {
    const char* text;
    bool dotted;
  } cases[] = {
      {"0.0.0.0", true},    {"010.0.0.1", true},       {"1.2.3.4  ", true},
      {"  1.2.3.4", true},  {"255.255.255.255", true}, {"1.2.3", false},
      {"1.2.3.4.5", false}, {"1.2.3.4 x", false},      {"", false},
      {".1.2.3", false},    {"1.2.3.", false},         {"1..2.3", false},
      {"300.1.1.1", false}, {"1.2.3.256", false},      {"a.b.c.d", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsDottedAddress(c.text), c.dotted) << c.text;
}

TEST(WSocketResolveProto, NamesNumbersAndFailures) {
  EXPECT_EQ(WSocketResolveProto("tcp"), 6);
  EXPECT_EQ(WSocketResolveProto(" tcp "), 6);
  EXPECT_EQ(WSocketResolveProto("udp"), 17);
  EXPECT_EQ(WSocketResolveProto("6"), 6);
  EXPECT_EQ(WSocketResolveProto("17x"), 17);
  struct {
    std::string text;
    const char* message;
  } failures[] = {
      {"", "WSocketResolveProto: Invalid Protocol."},
      {std::string(32, 't'), "WSocketResolveProto: Invalid Protocol."},
      {"   ", "WSocketResolveProto: Invalid Protocol."},
      {"xyz", "WSocketResolveProto: Cannot convert protocol 'xyz'"},
      {" xyz ", "WSocketResolveProto: Cannot convert protocol 'xyz'"},
  };
  for (const auto& f : failures)
    EXPECT_EQ(RaisedMessage([&] { WSocketResolveProto(f.text); }), f.message) << f.text;
}

TEST(WSocketResolvePort, DecimalPortsOnly) {
  struct {
    const char* text;
    uint16_t port;
  } cases[] = {{"9100", 9100}, {"0", 0}, {"65535", 65535}, {"00080", 80}};
  for (const auto& c : cases) EXPECT_EQ(WSocketResolvePort(c.text, "tcp"), c.port) << c.text;

  // A port text that names another port than it says is refused.
  const char* invalid[] = {"70000", "65536", "0x238C", "9100x",      "80abc",
                           "9100 ", "1 2",   "",       "99999999999"};
  for (const char* text : invalid)
    EXPECT_EQ(RaisedMessage([&] { WSocketResolvePort(text, "tcp"); }),
              "WSocketResolvePort: Invalid Port.")
        << text;
  EXPECT_EQ(RaisedMessage([] { WSocketResolvePort(std::string(32, '1'), "tcp"); }),
            "WSocketResolvePort: Invalid Port.");
}

TEST(WSocketResolvePort, ServiceNames) {
  EXPECT_EQ(RaisedMessage([] { WSocketResolvePort("xyz", "tcp"); }),
            "WSocketResolvePort: Cannot convert port 'xyz'");
  EXPECT_EQ(RaisedMessage([] { WSocketResolvePort(" xyz", "tcp"); }),
            "WSocketResolvePort: Cannot convert port ' xyz'");
  const servent* ftp = ::getservbyname("ftp", "tcp");
  if (ftp == nullptr) GTEST_SKIP() << "no service database";
  EXPECT_EQ(WSocketResolvePort("ftp", "tcp"), ntohs(static_cast<uint16_t>(ftp->s_port)));
  EXPECT_EQ(WSocketResolvePort(" ftp ", " tcp "), ntohs(static_cast<uint16_t>(ftp->s_port)));
  EXPECT_EQ(WSocketResolvePort("ftp", ""), ntohs(static_cast<uint16_t>(ftp->s_port)));
}

TEST(WSocketResolveHost, DottedAddressesWithoutLookUp) {
  EXPECT_EQ(WSocketResolveHost("0.0.0.0"), 0u);
  EXPECT_EQ(WSocketResolveHost("127.0.0.1"), htonl(0x7F000001));
  EXPECT_EQ(WSocketResolveHost(" 127.0.0.1  "), htonl(0x7F000001));
  EXPECT_EQ(WSocketResolveHost("255.255.255.255"), 0xFFFFFFFFu);
}

TEST(WSocketResolveHost, Failures) {
  std::string long_text(257, 'h');
  struct {
    std::string text;
    std::string message;
  } cases[] = {
      {"", "WSocketResolveHost: '' Invalid Hostname."},
      {long_text, "WSocketResolveHost: '" + long_text + "' Invalid Hostname."},
      {"1.2.3.09", "WSocketResolveHost: '1.2.3.09' Invalid IP address."},
      {"300.1.1.1", "WSocketResolveHost: Cannot convert host address '300.1.1.1'"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(RaisedMessage([&] { WSocketResolveHost(c.text); }), c.message) << c.text;
}

}  // namespace
