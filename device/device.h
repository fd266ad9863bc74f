// Port enumeration: the links by which the selected model can be reached.
//   - ParseFriendlyName: the port name inside a device's friendly name (pure, both platforms)
//   - ListComPorts / ListUsbPort: the entries as a PortList, for any front end
//   - EnumComPort / EnumUSBPort: the window's port list filled from them (Windows)
#pragma once

#include <cstddef>

#include "catalogue/catalogue.h"

#define MAX_PORTS 64
#define FRIENDLY_NAME_BYTES 1024  // the friendly-name buffer of one device

struct PortList {
    char names[MAX_PORTS][PORT_NAME_BYTES];
    int count;
};

// Takes the port name out of a friendly name such as "USB Serial Device (COM12)": the text
// from "COM" of the first "(COM" up to the next ")". Returns false (and leaves portName empty)
// when the name lists no usable port: no "(COM", no ")" after it, or more than 9 characters.
bool ParseFriendlyName(const char* friendlyName, char portName[PORT_NAME_BYTES]);
// The same over a property buffer of bufferBytes that the platform filled: a buffer that holds
// no terminated text (a name as long as the buffer) yields no port.
bool ParseFriendlyNameBuffer(const char* buffer, size_t bufferBytes,
                             char portName[PORT_NAME_BYTES]);

// The serial ports present, sorted as the port list shows them (COM10 before COM3): COM ports
// on Windows; ttyS ports with hardware, ttyUSB and ttyACM on Linux, as names without "/dev/".
void ListComPorts(PortList* list);
// The single entry "USB".
void ListUsbPort(PortList* list);

// Adds a name to the list in the port list's sorted order (case-insensitive, as the control
// sorts); a full list or a name longer than 9 characters is left out. Returns whether it was added.
bool AddPortSorted(PortList* list, const char* name);

#ifdef _WIN32
void EnumComPort(HWND hComPortList);
void EnumUSBPort(HWND hComPortList);
#else
// Where ListComPorts looks: the sysfs root (default "/sys") and the device directory (default
// "/dev"); nullptr or "" restores the default. For tests with a fake tree.
void SetPortRoots(const char* sysfsRoot, const char* devRoot);
#endif
