// The match on the PLC's vendor and product id, shared by both platforms.
#include <cctype>
#include <cstring>

#include "usb/usb.h"

#ifndef PLC_USB_VENDOR_ID_TEXT
#error "PLC_USB_VENDOR_ID_TEXT (four lower-case hex digits) comes from the build"
#endif

const char USB_MATCH_TEXT[] = "vid_" PLC_USB_VENDOR_ID_TEXT "&pid_0001";
static_assert(sizeof USB_MATCH_TEXT == 17 + 1, "vid_xxxx&pid_0001 is 17 characters");

// SetupAPI does not say in which case a device path spells the ids: Windows itself reads them
// either way.
bool UsbPathMatches(const char* devicePath) {
    if (devicePath == nullptr) return false;
    const size_t matchChars = sizeof USB_MATCH_TEXT - 1;
    const size_t pathChars = std::strlen(devicePath);
    for (size_t at = 0; at + matchChars <= pathChars; ++at) {
        size_t i = 0;
        while (i < matchChars && std::tolower(static_cast<unsigned char>(devicePath[at + i])) ==
                                     static_cast<unsigned char>(USB_MATCH_TEXT[i]))
            ++i;
        if (i == matchChars) return true;
    }
    return false;
}
