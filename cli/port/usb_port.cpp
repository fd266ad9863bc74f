// USB-attached PLCs named by the physical port they hang on: "usb:LOCATION" as a port's name,
// what it reaches, and the PLCs present when none is named.
#include <cctype>
#include <cstring>

#include "cli/port/port.h"
#include "usb/usb.h"

namespace plccli {

namespace {

const size_t PREFIX_CHARS = sizeof USB_PORT_PREFIX - 1;

// How a PLC's node is shown: where it is opened.
std::string ShownDevice(const std::string& device) {
#ifdef _WIN32
    return device;
#else
    return device.find('/') == std::string::npos ? "/dev/" + device : device;
#endif
}

}  // namespace

bool IsUsbPortName(const std::string& port) {
    if (port.size() < PREFIX_CHARS) return false;
    for (size_t i = 0; i < PREFIX_CHARS; ++i)
        if (std::tolower(static_cast<unsigned char>(port[i])) != USB_PORT_PREFIX[i]) return false;
    return true;
}

bool IsUsbDeviceName(const std::string& port) {
    return port.size() == 3 && IsUsbPortName(port + ":");
}

std::string UsbPortLocation(const std::string& port) {
    return IsUsbPortName(port) ? port.substr(PREFIX_CHARS) : "";
}

std::string UsbPortName(const std::string& location) {
    return USB_PORT_PREFIX + location;
}

std::string UsbPortProblem(const std::string& port) {
    std::string problem = UsbLocationProblem(UsbPortLocation(port));
    return problem.empty() ? "" : port + ": " + problem;
}

bool UsbPlcIsAt(const std::string& port, std::string* device) {
    std::string location = UsbPortLocation(port);
    for (const UsbPlc& plc : ListUsbPlcs()) {
        if (!SameUsbLocation(plc.location, location)) continue;
        if (device != nullptr) *device = plc.device.empty() ? "" : ShownDevice(plc.device);
        return true;
    }
    return false;
}

bool CheckUsbPortName(const std::string& port, std::string* reason, bool absentIsFine) {
    std::string problem = UsbPortProblem(port);
    if (!problem.empty()) {
        *reason = problem;
        return false;
    }
    if (absentIsFine || UsbPlcIsAt(port, nullptr)) return true;
    std::string why;
    if (UsbPortStateAt(UsbPortLocation(port), &why) == USB_PORT_UNREADABLE) {
        *reason = port + ": the USB device at this port cannot be read (" + why + ")";
        return false;
    }
    *reason =
        port + ": no PLC is plugged into this USB port; see --list-ports for the PLCs present";
    return false;
}

std::string UsbPortIdentity(const std::string& port) {
    std::string location = UsbPortLocation(port);
#ifdef _WIN32
    for (char& c : location) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
#endif
    return "usb " + location;
}

std::string ShellWord(const std::string& name) {
    for (char c : name) {
        bool plain = std::isalnum(static_cast<unsigned char>(c)) != 0 ||
                     std::strchr("._-:/\\", c) != nullptr;
        if (!plain || c == '\0') return '"' + name + '"';
    }
    return name;
}

std::vector<std::string> UsbPlcLines() {
    std::vector<std::string> lines;
    for (const UsbPlc& plc : ListUsbPlcs())
        lines.push_back(ShellWord(UsbPortName(plc.location)) + '\t' +
                        (plc.device.empty() ? "(no serial node yet)" : ShownDevice(plc.device)));
    return lines;
}

std::string UsbPlcChoiceProblem(std::string* onlyPort) {
    std::vector<UsbPlc> plcs = ListUsbPlcs();
    if (onlyPort != nullptr) *onlyPort = plcs.size() == 1 ? UsbPortName(plcs[0].location) : "";
    if (plcs.size() < 2) return "";
    std::string names;
    for (const UsbPlc& plc : plcs)
        names += (names.empty() ? "" : ", ") + ShellWord(UsbPortName(plc.location)) +
                 (plc.device.empty() ? "" : " (" + ShownDevice(plc.device) + ")");
    return std::to_string(plcs.size()) + " PLCs are plugged in by USB: " + names +
           "; name one with --port usb:LOCATION";
}

}  // namespace plccli
