// The ports of a run: what --port and --ports-from name, whether a port may be opened, which
// device it reaches, and why a link did not open, in words.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plccli {

struct CliOptions;

// The ports of the run: every --port, then the lines of --ports-from. False with the reason when
// the file cannot be read or names none, when a line of it is no port name ("FILE:LINE: why"),
// or, with several ports, when one is an option or two name the same device.
bool AllPorts(const CliOptions& options, std::vector<std::string>* ports, std::string* error);
// What tells two spellings of one port apart: on POSIX the device (or file) that the name or
// path opens, symbolic links followed; on Windows WindowsPortIdentity. Network links are told
// apart by the addresses they reach (platform::NetworkLinkAddresses).
std::string PortIdentity(const std::string& port);
// A Windows port's name, case aside and without the device prefix: "\\.\com10" is COM10.
std::string WindowsPortIdentity(const std::string& port);

// Whether --port names a link that the run may open: a terminal device that no other program
// holds, a network link, or a test's virtual link. Otherwise false with the system's reason and
// what to do, in one line: a file, a directory, a FIFO or a device that is no terminal never
// passes. Nothing is written to the port. absentIsFine: a port that does not exist (yet) passes,
// as a USB-attached PLC's device appears only when it is plugged in.
bool CheckPortName(const std::string& port, std::string* reason, bool absentIsFine = false);
// Why the run could not open port, when the latest open of a link was port's and failed:
// "PORT: reason" in words, with what to do. False when it opened, or when there is nothing to add.
bool LinkOpenFailure(const std::string& port, std::string* reason);
// "PORT: the server closed the connection" (or reset it) when port is the latest network link
// and its server ended the connection; false otherwise.
bool LinkPeerGone(const std::string& port, std::string* reason);
// "PORT: the server did not take 115200 baud: its line is at 300 baud" when port is the latest
// network link and its RFC 2217 server answered a speed with another; false otherwise.
bool LinkSpeedRefused(const std::string& port, std::string* note);
// Where the PLC's USB device is (its tty node, or its device path on Windows): false when no
// device of the build's vendor and product id is present and opens.
bool FindUsbDevicePath(std::string* path);
// "usb:LOCATION" names the USB-attached PLC plugged into that physical port (the prefix in any
// case); the location is the kernel's port path on Linux ("1-2.3"), a location path on Windows.
bool IsUsbPortName(const std::string& port);
// "USB" (in any case) names the PLC's USB device: the only USB-attached PLC present.
bool IsUsbDeviceName(const std::string& port);
std::string UsbPortLocation(const std::string& port);  // "" when port is no usb: name
std::string UsbPortName(const std::string& location);  // "usb:" + location
// What is wrong with a usb: name as written ("usb:1-: a location is ..."); "" when nothing is.
std::string UsbPortProblem(const std::string& port);
// Whether a PLC is plugged into the port a usb: name gives; *device (when given) becomes the
// node it is opened by ("" while none is bound yet).
bool UsbPlcIsAt(const std::string& port, std::string* device);
// CheckPortName for a usb: name: its location well-formed and a PLC there (unless absentIsFine).
bool CheckUsbPortName(const std::string& port, std::string* reason, bool absentIsFine);
// What tells two usb: names of one port apart from others: the location (Windows: any case).
std::string UsbPortIdentity(const std::string& port);
// A port's name as one word that cmd, PowerShell and a POSIX shell all take as it is: in double
// quotes when it holds anything but letters, digits and . _ - : / \ (a Windows location such as
// "PCIROOT(0)#PCI(1400)#USB(2)" would break at its parentheses and #).
std::string ShellWord(const std::string& name);
// One line per USB-attached PLC present, as --list-ports shows it: "usb:LOCATION<TAB>node", the
// name as a ShellWord.
std::vector<std::string> UsbPlcLines();
// With more than one USB-attached PLC present, why none is taken without a name (listing them);
// "" otherwise. *onlyPort (when given) becomes the usb: name of the only one present, or "".
std::string UsbPlcChoiceProblem(std::string* onlyPort);
// Why a link did not open, in the operator's words, from the error code the platform gives.
std::string OpenErrorText(uint32_t code);

}  // namespace plccli
