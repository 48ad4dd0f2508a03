// The names of network ports, accepted wherever a device path is:
// tcp://HOST:PORT (the line's bytes over a TCP connection, unchanged) and
// rfc2217://HOST:PORT (telnet with the COM-PORT-OPTION, which sets the line
// from here).  HOST is an IPv4 address, an IPv6 address in brackets or a
// name.  Pure text work: no lookup, no system call.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "rslink/core/result.h"

namespace rslink::core {

struct NetworkName {
    enum class Scheme : uint8_t { Tcp, Rfc2217 };
    Scheme scheme = Scheme::Tcp;
    std::string host;  // as written, without the brackets of an IPv6 address
    uint16_t port = 0;
    bool bracketed = false;  // an IPv6 address: numeric, no lookup
    std::string text;        // the whole name as given, for messages
};

// The name is written as a network port (tcp:// or rfc2217://), well
// formed or not: such a name is never a device path.
bool isNetworkName(std::string_view name);

// A network port's name taken apart.  A malformed one (no port, port 0 or
// above 65535, empty host, ...) fails with EINVAL and the reason alone in
// `why`, as it follows "cannot open NAME: ".
Result<NetworkName> parseNetworkName(std::string_view name);

}  // namespace rslink::core
