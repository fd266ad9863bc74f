// The PLC's USB device: found by the vendor and product id and opened.
//   - OpenMyDevPipe: the handle of the first matching device that opens, INVALID_HANDLE_VALUE
//     when there is none (the chain GetUsbDeviceFileName, OpenUsbDevice, OpenOneDevice)
//   - UsbPathMatches: the match on "vid_<vendor>&pid_0001" (in either case)
//   - Windows: the USB device interfaces of SetupAPI; Linux: the USB devices of sysfs and the
//     tty node bound to the matching one (SetUsbSysfsRoot for tests)
//   - ListUsbPlcs / OpenUsbPlcAt: every matching PLC by the physical port it is plugged into, and
//     the one at a given port ("usb:LOCATION" on the command line); UsbPortStateAt: what is there
//   - Linux: every sysfs file read bounded (usb/system_file.h); a node only a plain ttyACM<n> or
//     ttyUSB<n>
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/platform.h"

#ifdef _WIN32
#include <setupapi.h>
#endif

#define MAXPATH 300

// "vid_" + the vendor id (four lower-case hex digits) + "&pid_0001": 17 characters.
extern const char USB_MATCH_TEXT[];

// Whether a device path names the PLC: it contains USB_MATCH_TEXT, in upper or lower case.
bool UsbPathMatches(const char* devicePath);

// A PLC on the USB, named by the physical port it hangs on. The location stays the same when the
// PLC re-enumerates (restarts into its bootloader, is replugged); its device name does not.
//   Linux: the kernel's port path, the sysfs device name ("1-2.3"); device: its tty node.
//   Windows: the device's first location path ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(3)"),
//   or its location information where it has none; device: the device interface's path.
struct UsbPlc {
    std::string location;
    std::string device;  // "" while no tty node is bound yet (Linux)
};

// "usb:" before a location names that PLC as a port.
extern const char USB_PORT_PREFIX[5];

// Every matching PLC present, sorted by location.
std::vector<UsbPlc> ListUsbPlcs();
// Opens the matching PLC at a location; INVALID_HANDLE_VALUE when none is there (a device of
// another kind at that port, or nothing).
HANDLE OpenUsbPlcAt(const std::string& location);
// Whether a matching PLC is plugged in at a location (nothing is opened).
bool UsbPlcPresentAt(const std::string& location);
// What is at a location: a matching PLC, nothing that matches, or a device whose ids are there
// but cannot be read (Linux: an attribute that is no regular file, too long, or denied; *why
// says which and how).
enum UsbPortState { USB_PORT_PLC, USB_PORT_NO_PLC, USB_PORT_UNREADABLE };
UsbPortState UsbPortStateAt(const std::string& location, std::string* why);
// What is wrong with a location as written on the command line; "" when nothing is.
std::string UsbLocationProblem(const std::string& location);
// Whether two locations name one port (Windows: case-insensitive).
bool SameUsbLocation(const std::string& a, const std::string& b);

// One interface of a SetupAPI enumeration: its path, its device's SPDRP_LOCATION_PATHS (the
// REG_MULTI_SZ bytes as read) and SPDRP_LOCATION_INFORMATION. Portable, so that a recorded
// enumeration can be checked on any machine.
struct UsbInterfaceRecord {
    std::string devicePath;
    std::string locationPaths;
    std::string locationInformation;
};
// The location of one interface: the first location path, else the location information.
std::string UsbLocationOf(const UsbInterfaceRecord& record);
// The matching PLCs of an enumeration, sorted by location; one with no location is left out.
std::vector<UsbPlc> UsbPlcsOf(const std::vector<UsbInterfaceRecord>& records);

// Opens the PLC's device with PipeName appended to its path (the worker passes ""). On Linux
// the device is its tty node: an empty pipe name opens the node itself.
HANDLE OpenMyDevPipe(const char* PipeName);

// The chain behind OpenMyDevPipe. sDevNameBuf has MAXPATH bytes; suffixBytes is what the caller
// appends to the path afterwards (the backslash and the pipe name), so a device whose path would
// not fit with it is passed over.
#ifdef _WIN32
extern const GUID USB_DRIVER_GUID;
int GetUsbDeviceFileName(const GUID* pGuid, char* sDevNameBuf, size_t suffixBytes = 1);
HANDLE OpenUsbDevice(const GUID* pGuid, char* sDevNameBuf, size_t suffixBytes = 1);
HANDLE OpenOneDevice(HDEVINFO hDvcInfo, PSP_DEVICE_INTERFACE_DATA DvcInfoData, char* sDevNameBuf,
                     size_t suffixBytes = 1);
#else
// The USB devices live in <root>/bus/usb/devices; nullptr or "" restores the default:
// $PLCFW_SYSFS_ROOT when set, else "/sys".
void SetUsbSysfsRoot(const char* root);
int GetUsbDeviceFileName(char* sDevNameBuf, size_t suffixBytes = 0);
HANDLE OpenUsbDevice(char* sDevNameBuf, size_t suffixBytes = 0);
// Examines one USB device directory: a matching device's tty node name goes to sDevNameBuf and
// is opened.
HANDLE OpenOneDevice(const char* deviceDir, char* sDevNameBuf, size_t suffixBytes = 0);
#endif
