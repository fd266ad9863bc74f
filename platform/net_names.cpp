// Network link names: "HOST:PORT" read one way for the links and the front end, and the
// addresses a name reaches, which tell two spellings of one device apart.
#include "platform/socket_calls.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/net.h"

namespace platform {

NetName ParseNetName(const std::string& hostPort) {
    NetName n;
    size_t colon = hostPort.rfind(':');
    // "[::1]" has colons, but all of them inside its brackets.
    size_t bracket = hostPort.rfind(']');
    if (colon == std::string::npos || (bracket != std::string::npos && bracket > colon)) {
        n.fault = NetNameFault::NoPort;
        return n;
    }
    n.portText = hostPort.substr(colon + 1);
    if (n.portText.empty() || n.portText.find_first_not_of("0123456789") != std::string::npos) {
        n.fault = NetNameFault::NoPort;
        return n;
    }
    // Decimal, leading zeros and all: 039825 is 39825. More than five digits is out of range.
    size_t first = std::min(n.portText.find_first_not_of('0'), n.portText.size());
    std::string digits = n.portText.substr(first);
    n.port = digits.size() > 5 ? 65536 : digits.empty() ? 0 : std::stoul(digits);
    if (n.port < 1 || n.port > 65535) {
        n.fault = NetNameFault::PortRange;
        return n;
    }
    n.host = hostPort.substr(0, colon);
    if (!n.host.empty() && n.host.front() == '[') {
        if (n.host.size() < 3 || n.host.back() != ']') n.fault = NetNameFault::Host;
        n.host = n.host.substr(1, n.host.size() >= 2 ? n.host.size() - 2 : 0);
    } else if (n.host.empty() || n.host.find(':') != std::string::npos) {
        n.fault = NetNameFault::Host;  // none, or an IPv6 address without its brackets
    }
    return n;
}

bool SplitHostPort(const std::string& hostPort, std::string* host, std::string* port) {
    NetName n = ParseNetName(hostPort);
    if (n.fault != NetNameFault::None) return false;
    *host = n.host;
    *port = std::to_string(n.port);
    return true;
}

namespace {

// The numbers of one address: an IPv4 address mapped into IPv6 as the IPv4 address it is.
std::string AddressText(const sockaddr* address, size_t length) {
    sockaddr_in v4{};
    if (address->sa_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        const uint8_t* b = v6->sin6_addr.s6_addr;
        static const uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
        if (std::memcmp(b, kMapped, sizeof kMapped) == 0) {
            v4.sin_family = AF_INET;
            std::memcpy(&v4.sin_addr, b + 12, 4);
            address = reinterpret_cast<const sockaddr*>(&v4);
            length = sizeof v4;
        }
    }
    char text[128] = {};
    if (getnameinfo(address, static_cast<socklen_t>(length), text, sizeof text, nullptr, 0,
                    NI_NUMERICHOST) != 0)
        return "";
    return text;
}

}  // namespace

std::vector<std::string> NetworkLinkAddresses(const std::string& name) {
    size_t scheme = name.find("://");
    std::string hostPort = scheme == std::string::npos ? name : name.substr(scheme + 3);
    NetName n = ParseNetName(hostPort);
    std::string port = std::to_string(n.port);
    std::vector<std::string> found;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    if (n.fault == NetNameFault::None && sys::SocketsReady() &&
        getaddrinfo(n.host.c_str(), port.c_str(), &hints, &list) == 0) {
        for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
            std::string text = AddressText(a->ai_addr, a->ai_addrlen);
            if (!text.empty()) found.push_back(text + " " + port);
        }
        freeaddrinfo(list);
    }
    if (found.empty()) {
        std::string text = n.fault == NetNameFault::None ? n.host + " " + port : hostPort;
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        found.push_back(text);
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

}  // namespace platform
