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
// Why a link did not open, in the operator's words, from the error code the platform gives.
std::string OpenErrorText(uint32_t code);

}  // namespace plccli
