// Network port names taken apart, and the malformed ones refused with the
// reason the open-failure line shows.
#include <gtest/gtest.h>

#include <cerrno>

#include "rslink/core/port_name.h"

using rslink::core::isNetworkName;
using rslink::core::NetworkName;
using rslink::core::parseNetworkName;
using Scheme = NetworkName::Scheme;

namespace {

struct Good {
    const char *name;
    Scheme scheme;
    const char *host;
    uint16_t port;
    bool bracketed;
};

constexpr Good kGood[] = {
    {"tcp://10.0.0.7:4001", Scheme::Tcp, "10.0.0.7", 4001, false},
    {"rfc2217://10.0.0.7:4001", Scheme::Rfc2217, "10.0.0.7", 4001, false},
    {"tcp://unit-7.plant.example:1", Scheme::Tcp, "unit-7.plant.example", 1, false},
    {"tcp://localhost:65535", Scheme::Tcp, "localhost", 65535, false},
    {"rfc2217://[::1]:2217", Scheme::Rfc2217, "::1", 2217, true},
    {"tcp://[fe80::1%eth0]:7000", Scheme::Tcp, "fe80::1%eth0", 7000, true},
    {"tcp://[::ffff:10.0.0.7]:04001", Scheme::Tcp, "::ffff:10.0.0.7", 4001, true},
};

struct Bad {
    const char *name;
    const char *why;
};

constexpr Bad kBad[] = {
    {"tcp://10.0.0.7", "the port is missing"},
    {"tcp://10.0.0.7:", "the port is missing"},
    {"rfc2217://:4001", "the host is missing"},
    {"tcp://", "the host is missing"},
    {"tcp://[]:4001", "the host is missing"},
    {"tcp://host:0", "port 0 is out of range (1 to 65535)"},
    {"tcp://host:65536", "port 65536 is out of range (1 to 65535)"},
    {"tcp://host:99999999999999999999", "port 99999999999999999999 is out of range (1 to 65535)"},
    {"tcp://host:4001/", "the port '4001/' is not a number"},
    {"tcp://host:-1", "the port '-1' is not a number"},
    {"tcp://::1:4001", "an IPv6 address goes in brackets, as [::1]:PORT"},
    {"tcp://[::1:4001", "the IPv6 address has no closing ']'"},
    {"tcp://[::1]4001", "unexpected '4001' after the host"},
    {"tcp://[unit]:4001", "'[unit]' is not an IPv6 address"},
    {"tcp://user@host:4001", "the host 'user@host' is not a name or an address"},
    {"tcp://my host:4001", "the host 'my host' is not a name or an address"},
};

}  // namespace

TEST(PortName, WellFormedNamesTakenApart) {
    for (const Good &g : kGood) {
        SCOPED_TRACE(g.name);
        EXPECT_TRUE(isNetworkName(g.name));
        const auto parsed = parseNetworkName(g.name);
        ASSERT_TRUE(parsed) << parsed.failure().why;
        EXPECT_EQ(parsed->scheme, g.scheme);
        EXPECT_EQ(parsed->host, g.host);
        EXPECT_EQ(parsed->port, g.port);
        EXPECT_EQ(parsed->bracketed, g.bracketed);
        EXPECT_EQ(parsed->text, g.name);
    }
}

TEST(PortName, MalformedNamesRefusedWithTheReason) {
    for (const Bad &b : kBad) {
        SCOPED_TRACE(b.name);
        EXPECT_TRUE(isNetworkName(b.name));
        const auto parsed = parseNetworkName(b.name);
        ASSERT_FALSE(parsed) << "taken: host " << parsed->host;
        EXPECT_EQ(parsed.failure().error, EINVAL);
        EXPECT_EQ(parsed.failure().why, b.why);
    }
}

TEST(PortName, DevicePathsAreNoNetworkNames) {
    for (const char *path : {"/dev/ttyUSB0", "/dev/serial/by-id/usb-x-if00", "TCP://host:1", "tcp:/host:1",
                             "telnet://host:23", "socket://host:1", ""}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(isNetworkName(path));
        EXPECT_FALSE(parseNetworkName(path));
    }
}
