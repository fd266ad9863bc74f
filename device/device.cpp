// Friendly-name parsing and the port list's order, shared by both platforms.
#include "device/device.h"

#include <cctype>
#include <cstring>

namespace {

const char COM_SEARCH_TEXT[] = "(COM";
const char USB_ENTRY_TEXT[] = "USB";

int CompareNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        int ca = std::tolower(static_cast<unsigned char>(*a));
        int cb = std::tolower(static_cast<unsigned char>(*b));
        if (ca != cb || ca == 0) return ca - cb;
    }
}

}  // namespace

bool ParseFriendlyName(const char* friendlyName, char portName[PORT_NAME_BYTES]) {
    std::memset(portName, 0, PORT_NAME_BYTES);
    if (friendlyName == nullptr) return false;
    const char* open = std::strstr(friendlyName, COM_SEARCH_TEXT);
    if (open == nullptr) return false;
    const char* first = open + 1;
    // The first ")" after the port: "Modem (COM4) (x)" names COM4, not "COM4) (x".
    const char* close = std::strchr(first, ')');
    if (close == nullptr) return false;
    size_t length = static_cast<size_t>(close - first);
    if (length > PORT_NAME_BYTES - 1) return false;
    std::memcpy(portName, first, length);
    return true;
}

bool ParseFriendlyNameBuffer(const char* buffer, size_t bufferBytes,
                             char portName[PORT_NAME_BYTES]) {
    std::memset(portName, 0, PORT_NAME_BYTES);
    if (buffer == nullptr || std::memchr(buffer, '\0', bufferBytes) == nullptr) return false;
    return ParseFriendlyName(buffer, portName);
}

bool AddPortSorted(PortList* list, const char* name) {
    size_t length = std::strlen(name);
    if (list->count >= MAX_PORTS || length == 0 || length > PORT_NAME_BYTES - 1) return false;
    int at = list->count;
    while (at > 0 && CompareNoCase(list->names[at - 1], name) > 0) {
        std::memcpy(list->names[at], list->names[at - 1], PORT_NAME_BYTES);
        --at;
    }
    std::memset(list->names[at], 0, PORT_NAME_BYTES);
    std::memcpy(list->names[at], name, length);
    ++list->count;
    return true;
}

void ListUsbPort(PortList* list) {
    list->count = 0;
    AddPortSorted(list, USB_ENTRY_TEXT);
}
