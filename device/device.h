// Port enumeration: the links by which the selected model can be reached.
//   - ParseFriendlyName: the port name inside a device's friendly name (pure, both platforms)
//   - ListComPorts / ListUsbPort: the entries as a PortList, for any front end
//   - EnumComPort / EnumUSBPort: the window's port list filled from them (Windows)
#pragma once

#include "catalogue/catalogue.h"

#define MAX_PORTS 64

struct PortList {
    char names[MAX_PORTS][PORT_NAME_BYTES];
    int count;
};

// Takes the port name out of a friendly name such as "USB Serial Device (COM12)". Returns false
// (and leaves portName empty) when the name lists no usable port.
bool ParseFriendlyName(const char* friendlyName, char portName[PORT_NAME_BYTES]);

// The serial ports present: COM ports on Windows; ttyS ports with hardware, ttyUSB and ttyACM on
// Linux, as names without "/dev/".
void ListComPorts(PortList* list);
// The single entry "USB".
void ListUsbPort(PortList* list);

#ifdef _WIN32
void EnumComPort(HWND hComPortList);
void EnumUSBPort(HWND hComPortList);
#endif
