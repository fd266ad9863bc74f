// The ports of a run: every --port, then the lines of --ports-from, each checked before any
// port's process starts, and no device named twice.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <sstream>

#include "cli/command/options.h"
#include "cli/port/port.h"
#include "platform/hooks.h"
#include "record/files.h"

namespace plccli {

namespace {

struct NamedPort {
    std::string name;
    std::string origin;  // "--port", or "FILE:LINE"
};

const char UTF8_BOM[] = "\xEF\xBB\xBF";
// The longest port name taken: a path as long as the system allows one, or a network address.
// A longer line is no port's name but lines run together, or no list of ports at all.
constexpr size_t PORT_NAME_MAX_BYTES = 4096;

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

bool IsScheme(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text)
        if (std::isalpha(static_cast<unsigned char>(c)) == 0) return false;
    return true;
}

// Why a port given to a process of its own would not reach it as that port; "" when it may.
// what: "the line" or "the name", for the bytes that are not shown.
std::string PortNameProblem(const std::string& port, const std::string& what) {
    if (port.size() > PORT_NAME_MAX_BYTES)
        return what + " is " + std::to_string(port.size()) +
               " bytes long; a port name has at most " + std::to_string(PORT_NAME_MAX_BYTES);
    for (char c : port) {
        auto byte = static_cast<unsigned char>(c);
        if (byte == 0) return what + " holds a NUL byte; it names no port";
        if (byte < 0x20 || byte == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02x", byte);
            return what + " holds a control character (" + hex + "); it names no port";
        }
    }
    if (port[0] == '-')
        return Quoted(port) + " is an option, not a port name; options go on the command line";
    if (IsUsbPortName(port)) return UsbPortProblem(port);
    size_t scheme = port.find("://");
    if (IsNetworkLinkName(port)) {
        std::string problem = NetworkPortNumberProblem(port);
        return problem.empty() ? "" : port + ": " + problem;
    }
    if (scheme != std::string::npos && IsScheme(port.substr(0, scheme)))
        return Quoted(port) +
               " is not a port name; a link over the network is tcp://HOST:PORT or "
               "rfc2217://HOST:PORT";
    if (port.find_first_of("/\\") == std::string::npos && port.find(' ') != std::string::npos)
        return Quoted(port) + " is not a port name: a port's name holds no space (one port a line)";
    return "";
}

// A bench's list of ports is a few lines; a device or a FIFO given as the file would be read
// without end.
constexpr uint64_t PORTS_FILE_MAX_BYTES = 1 << 20;

bool ReadPortsFile(const std::string& file, std::vector<NamedPort>* ports, std::string* error) {
    std::vector<uint8_t> bytes;
    std::string reason;
    if (!plcrecord::ReadRegularFile(file, PORTS_FILE_MAX_BYTES, "larger than 1 MiB", &bytes,
                                    &reason)) {
        *error = "cannot read the ports file '" + file + "': " + reason;
        return false;
    }
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string line;
    for (size_t number = 1; std::getline(in, line); ++number) {
        if (number == 1 && line.rfind(UTF8_BOM, 0) == 0) line.erase(0, sizeof UTF8_BOM - 1);
        line = line.substr(0, line.find('#'));
        size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos) continue;
        std::string port = line.substr(first, line.find_last_not_of(" \t\r") + 1 - first);
        std::string origin = file + ":" + std::to_string(number);
        std::string problem = PortNameProblem(port, "the line");
        if (!problem.empty()) {
            *error = origin + ": " + problem;
            return false;
        }
        ports->push_back(NamedPort{port, origin});
    }
    if (ports->empty()) {
        *error = "the ports file '" + file + "' names no port";
        return false;
    }
    return true;
}

// The devices a port's name may reach: a network name every address it resolves to, whatever
// its scheme; any other name the one device PortIdentity tells.
std::vector<std::string> DeviceIdentities(const std::string& port) {
    // "USB" reaches the only USB-attached PLC present, by its port and its node; with none
    // present it is still one device under any spelling.
    if (IsUsbDeviceName(port)) {
        std::vector<std::string> ids = {"usb the PLC's device"};
        std::string only;
        if (UsbPlcChoiceProblem(&only).empty() && !only.empty()) {
            std::vector<std::string> its = DeviceIdentities(only);
            ids.insert(ids.end(), its.begin(), its.end());
        }
        return ids;
    }
    // A usb: name reaches the port it names, and the node of the PLC plugged in there.
    if (IsUsbPortName(port)) {
        std::vector<std::string> ids = {UsbPortIdentity(port)};
        std::string node;
        if (UsbPlcIsAt(port, &node) && !node.empty()) ids.push_back(PortIdentity(node));
        return ids;
    }
    if (!IsNetworkLinkName(port)) return {PortIdentity(port)};
    std::vector<std::string> ids;
    for (const auto& address : platform::NetworkLinkAddresses(port))
        ids.push_back("net " + address);
    return ids;
}

// The index of an earlier port that may reach one of ids' devices, or none.
std::optional<size_t> SeenBefore(const std::map<std::string, size_t>& seen,
                                 const std::vector<std::string>& ids) {
    for (const auto& id : ids) {
        auto at = seen.find(id);
        if (at != seen.end()) return at->second;
    }
    return std::nullopt;
}

// Two processes on one PLC would fight over its link: the second spelling of a device is refused.
bool RefuseSameDevice(const std::vector<NamedPort>& ports, std::string* error) {
    std::map<std::string, size_t> seen;
    for (size_t i = 0; i < ports.size(); ++i) {
        std::vector<std::string> ids = DeviceIdentities(ports[i].name);
        std::optional<size_t> earlier = SeenBefore(seen, ids);
        if (!earlier) {
            for (const auto& id : ids) seen.emplace(id, i);
            continue;
        }
        const NamedPort& first = ports[*earlier];
        const NamedPort& again = ports[i];
        *error = first.name == again.name
                     ? "the port " + again.name + " is named twice (" + first.origin + ", " +
                           again.origin + "); name each PLC once"
                     : "the ports " + first.name + " (" + first.origin + ") and " + again.name +
                           " (" + again.origin + ") are the same device; name each PLC once";
        return false;
    }
    return true;
}

}  // namespace

bool AllPorts(const CliOptions& options, std::vector<std::string>* ports, std::string* error) {
    std::vector<NamedPort> named;
    for (const auto& port : options.ports) named.push_back(NamedPort{port, "--port"});
    if (options.portsFrom && !ReadPortsFile(*options.portsFrom, &named, error)) return false;
    ports->clear();
    for (const auto& p : named) ports->push_back(p.name);
    if (named.size() < 2 && !options.portsFrom) return true;
    for (const auto& p : options.ports) {
        std::string problem = PortNameProblem(p, "the name");
        if (!problem.empty()) {
            *error = "--port: " + problem;
            return false;
        }
    }
    // "USB" among several ports is refused as a single run refuses it: with several PLCs
    // present it names none of them.
    for (const auto& p : named) {
        if (!IsUsbDeviceName(p.name)) continue;
        std::string problem = UsbPlcChoiceProblem(nullptr);
        if (!problem.empty()) {
            *error = problem;
            return false;
        }
        break;
    }
    return RefuseSameDevice(named, error);
}

std::string WindowsPortIdentity(const std::string& port) {
    std::string id = port;
    for (char& c : id) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char* prefix : {"\\\\.\\", "//./"})
        if (id.rfind(prefix, 0) == 0) return id.substr(std::strlen(prefix));
    return id;
}

}  // namespace plccli
