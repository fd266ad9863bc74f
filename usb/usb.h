// The PLC's USB device: found by the vendor and product id in its device path and opened.
//   - OpenMyDevPipe: the handle of the first matching device that opens, INVALID_HANDLE_VALUE
//     when there is none (the chain GetUsbDeviceFileName, OpenUsbDevice, OpenOneDevice)
#pragma once

#include "platform/platform.h"

#define MAXPATH 300

HANDLE OpenMyDevPipe(const char* PipeName);
