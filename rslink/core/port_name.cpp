#include "rslink/core/port_name.h"

#include <cerrno>

namespace rslink::core {

namespace {

struct SchemeWord {
    std::string_view prefix;
    NetworkName::Scheme scheme;
};
constexpr SchemeWord kSchemes[] = {
    {"tcp://", NetworkName::Scheme::Tcp},
    {"rfc2217://", NetworkName::Scheme::Rfc2217},
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isAlnum(char c) { return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// A host name or a dotted IPv4 address.
bool nameOk(std::string_view host) {
    for (char c : host)
        if (!isAlnum(c) && c != '-' && c != '.' && c != '_') return false;
    return true;
}

// Hex groups, colons, an embedded IPv4 tail, and a zone after '%'.
bool ipv6Ok(std::string_view host) {
    const size_t zone = host.find('%');
    const std::string_view address = host.substr(0, zone);
    if (address.find(':') == std::string_view::npos) return false;
    for (char c : address)
        if (!isHex(c) && c != ':' && c != '.') return false;
    if (zone == std::string_view::npos) return true;
    const std::string_view id = host.substr(zone + 1);
    return !id.empty() && nameOk(id);
}

Failure malformed(std::string why) { return Failure{EINVAL, std::move(why)}; }

Result<uint16_t> portNumber(std::string_view digits) {
    if (digits.empty()) return malformed("the port is missing");
    for (char c : digits)
        if (!isDigit(c)) return malformed("the port '" + std::string(digits) + "' is not a number");
    unsigned long value = 0;
    for (char c : digits) {
        value = value * 10 + static_cast<unsigned long>(c - '0');
        if (value > 65535) break;
    }
    if (value == 0 || value > 65535)
        return malformed("port " + std::string(digits) + " is out of range (1 to 65535)");
    return static_cast<uint16_t>(value);
}

}  // namespace

bool isNetworkName(std::string_view name) {
    for (const auto &s : kSchemes)
        if (name.substr(0, s.prefix.size()) == s.prefix) return true;
    return false;
}

Result<NetworkName> parseNetworkName(std::string_view name) {
    NetworkName parsed;
    parsed.text = std::string(name);
    std::string_view rest;
    bool known = false;
    for (const auto &s : kSchemes) {
        if (name.substr(0, s.prefix.size()) != s.prefix) continue;
        parsed.scheme = s.scheme;
        rest = name.substr(s.prefix.size());
        known = true;
    }
    if (!known) return malformed("not a network port name (tcp://HOST:PORT or rfc2217://HOST:PORT)");

    std::string_view host;
    std::string_view afterHost;
    if (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string_view::npos) return malformed("the IPv6 address has no closing ']'");
        host = rest.substr(1, close - 1);
        afterHost = rest.substr(close + 1);
        if (host.empty()) return malformed("the host is missing");
        if (!ipv6Ok(host)) return malformed("'[" + std::string(host) + "]' is not an IPv6 address");
        parsed.bracketed = true;
    } else {
        const size_t colon = rest.rfind(':');
        host = rest.substr(0, colon);
        afterHost = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon);
        if (host.find(':') != std::string_view::npos)
            return malformed("an IPv6 address goes in brackets, as [::1]:PORT");
        if (host.empty()) return malformed("the host is missing");
        if (!nameOk(host)) return malformed("the host '" + std::string(host) + "' is not a name or an address");
    }
    if (afterHost.empty()) return malformed("the port is missing");
    if (afterHost.front() != ':')
        return malformed("unexpected '" + std::string(afterHost) + "' after the host");
    const Result<uint16_t> port = portNumber(afterHost.substr(1));
    if (!port) return port.failure();
    parsed.host = std::string(host);
    parsed.port = *port;
    return parsed;
}

}  // namespace rslink::core
