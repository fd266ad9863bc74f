// PLCs named by the physical USB port they hang on: the names' rules, shared by both platforms,
// and the reading of a SetupAPI enumeration (portable so that a recorded one can be checked).
#include <algorithm>
#include <cctype>
#include <cstring>

#include "usb/usb.h"

const char USB_PORT_PREFIX[5] = "usb:";

namespace {

// Longest location accepted on the command line; a Windows location path of a device behind
// several hubs is about 80 characters.
const size_t MAX_LOCATION_CHARS = 200;

#ifndef _WIN32
// The kernel's port path: bus "-" port, then "." port for each hub below ("1-2", "3-1.4.2").
bool IsKernelPortPath(const std::string& text) {
    size_t dash = text.find('-');
    if (dash == 0 || dash == std::string::npos) return false;
    for (size_t i = 0; i < dash; ++i)
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    bool digitBefore = false;
    for (size_t i = dash + 1; i < text.size(); ++i) {
        char c = text[i];
        if (std::isdigit(static_cast<unsigned char>(c))) {
            digitBefore = true;
        } else if (c == '.' && digitBefore) {
            digitBefore = false;
        } else {
            return false;
        }
    }
    return digitBefore;
}
#endif

// A name with no spaces or control characters, as a location must be to be written as a port.
bool IsPrintableName(const std::string& text) {
    if (text.empty() || text.size() > MAX_LOCATION_CHARS) return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c <= '~'; });
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

std::string UsbLocationProblem(const std::string& location) {
    if (location.empty()) return "no location after usb:; see --list-ports";
    if (location.size() > MAX_LOCATION_CHARS) return "the location is too long";
#ifdef _WIN32
    if (!IsPrintableName(location)) return "a location has no spaces or control characters";
    return "";
#else
    if (!IsKernelPortPath(location))
        return "a location is a USB port path such as 1-2 or 3-1.4.2; see --list-ports";
    return "";
#endif
}

bool SameUsbLocation(const std::string& a, const std::string& b) {
#ifdef _WIN32
    return Lower(a) == Lower(b);
#else
    return a == b;
#endif
}

bool UsbPlcPresentAt(const std::string& location) {
    std::vector<UsbPlc> plcs = ListUsbPlcs();
    return std::any_of(plcs.begin(), plcs.end(),
                       [&](const UsbPlc& p) { return SameUsbLocation(p.location, location); });
}

#ifdef _WIN32
UsbPortState UsbPortStateAt(const std::string& location, std::string* why) {
    if (why != nullptr) why->clear();
    return UsbPlcPresentAt(location) ? USB_PORT_PLC : USB_PORT_NO_PLC;
}
#endif

std::string UsbLocationOf(const UsbInterfaceRecord& record) {
    // REG_MULTI_SZ: strings each ended by a NUL, the list by an empty one; the first is the
    // path from the root, which names the physical port.
    const std::string& paths = record.locationPaths;
    std::string first = paths.substr(0, std::min(paths.find('\0'), paths.size()));
    if (!first.empty()) return first;
    return record.locationInformation.substr(
        0, std::min(record.locationInformation.find('\0'), record.locationInformation.size()));
}

std::vector<UsbPlc> UsbPlcsOf(const std::vector<UsbInterfaceRecord>& records) {
    std::vector<UsbPlc> plcs;
    for (const UsbInterfaceRecord& r : records) {
        if (!UsbPathMatches(r.devicePath.c_str())) continue;
        std::string location = UsbLocationOf(r);
        if (!IsPrintableName(location)) continue;
        // Windows compares location paths without regard to case, on whatever machine they are
        // read.
        bool known = std::any_of(plcs.begin(), plcs.end(), [&](const UsbPlc& p) {
            return Lower(p.location) == Lower(location);
        });
        if (!known) plcs.push_back({location, r.devicePath});
    }
    std::sort(plcs.begin(), plcs.end(), [](const UsbPlc& a, const UsbPlc& b) {
        return Lower(a.location) < Lower(b.location);
    });
    return plcs;
}
