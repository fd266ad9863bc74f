// The match on the PLC's vendor and product id, shared by both platforms.
#include <cstring>

#include "usb/usb.h"

#ifndef PLC_USB_VENDOR_ID_TEXT
#error "PLC_USB_VENDOR_ID_TEXT (four lower-case hex digits) comes from the build"
#endif

const char USB_MATCH_TEXT[] = "vid_" PLC_USB_VENDOR_ID_TEXT "&pid_0001";
static_assert(sizeof USB_MATCH_TEXT == 17 + 1, "vid_xxxx&pid_0001 is 17 characters");

bool UsbPathMatches(const char* devicePath) {
    return devicePath != nullptr && std::strstr(devicePath, USB_MATCH_TEXT) != nullptr;
}
