// The PLC's USB device: found by the vendor and product id and opened.
//   - OpenMyDevPipe: the handle of the first matching device that opens, INVALID_HANDLE_VALUE
//     when there is none (the chain GetUsbDeviceFileName, OpenUsbDevice, OpenOneDevice)
//   - UsbPathMatches: the match on "vid_<vendor>&pid_0001" (case-sensitive)
//   - Windows: the USB device interfaces of SetupAPI; Linux: the USB devices of sysfs and the
//     tty node bound to the matching one (SetUsbSysfsRoot for tests)
#pragma once

#include <cstddef>

#include "platform/platform.h"

#ifdef _WIN32
#include <setupapi.h>
#endif

#define MAXPATH 300

// "vid_" + the vendor id (four lower-case hex digits) + "&pid_0001": 17 characters.
extern const char USB_MATCH_TEXT[];

// Whether a device path names the PLC: it contains USB_MATCH_TEXT, case-sensitive.
bool UsbPathMatches(const char* devicePath);

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
// The USB devices live in <root>/bus/usb/devices; nullptr or "" restores "/sys".
void SetUsbSysfsRoot(const char* root);
int GetUsbDeviceFileName(char* sDevNameBuf, size_t suffixBytes = 0);
HANDLE OpenUsbDevice(char* sDevNameBuf, size_t suffixBytes = 0);
// Examines one USB device directory: a matching device's tty node name goes to sDevNameBuf and
// is opened.
HANDLE OpenOneDevice(const char* deviceDir, char* sDevNameBuf, size_t suffixBytes = 0);
#endif
