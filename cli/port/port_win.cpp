// The ports on Windows: whether --port names a character device that opens, and where the
// PLC's USB device is.
// Windows only; the static checks that run natively see an empty unit.
#ifdef _WIN32

#include <windows.h>

#include <cstring>

#include "cli/command/options.h"
#include "cli/port/port.h"
#include "platform/link_calls_win.h"
#include "usb/usb.h"

namespace plccli {

namespace {

const char LIST_HINT[] = "see --list-ports for the ports present";

// COM10 and above open only by their device name; a path is opened as it is.
std::string DevicePath(const std::string& port) {
    if (port.find_first_of("/\\:") != std::string::npos) return port;
    return "\\\\.\\" + port;
}

std::string SystemText(DWORD error) {
    char text[256] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             error, 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.')) --n;
    std::string out(text, n);
    return out.empty() ? "error " + std::to_string(error) : out;
}

std::string NoSerialPort(const std::string& port, const char* what) {
    return port + ": " + what + ", not a serial port; nothing was written to it; " + LIST_HINT;
}

std::string OpenFailure(const std::string& port, DWORD error) {
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return port + ": no such port; " + LIST_HINT;
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
        return port + ": " + SystemText(error) +
               "; the port is in use by another program (another plcfwupdate?); end that "
               "program or choose another port";
    return port + ": " + SystemText(error) + "; " + LIST_HINT;
}

}  // namespace

bool CheckPortName(const std::string& port, std::string* reason, bool absentIsFine) {
    if (IsNetworkLinkName(port)) return true;
    if (IsUsbPortName(port)) return CheckUsbPortName(port, reason, absentIsFine);
    std::string path = DevicePath(port);
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        *reason = NoSerialPort(port, "a directory");
        return false;
    }
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (absentIsFine && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND))
            return true;
        // The link calls refuse a file or a pipe (ERROR_BAD_DEVICE) as they refuse the engine's.
        bool file = error == ERROR_BAD_DEVICE && attributes != INVALID_FILE_ATTRIBUTES;
        *reason = file                        ? NoSerialPort(port, "a regular file")
                  : error == ERROR_BAD_DEVICE ? NoSerialPort(port, "not a device")
                                              : OpenFailure(port, error);
        return false;
    }
    DWORD type = GetFileType(h);
    // A USB device interface that opened is the PLC's device: its driver need not have a line.
    if (platform::IsBoundedLinkName(path.c_str())) {
        CloseHandle(h);
        return true;
    }
    // NUL and the console are character devices too, but have no line to set.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    bool serial = type == FILE_TYPE_CHAR && GetCommState(h, &dcb);
    CloseHandle(h);
    if (serial) return true;
    *reason = NoSerialPort(port, type == FILE_TYPE_DISK   ? "a regular file"
                                 : type == FILE_TYPE_CHAR ? "a device without a serial line"
                                                          : "not a device");
    return false;
}

std::string PortIdentity(const std::string& port) {
    return WindowsPortIdentity(port);
}

bool FindUsbDevicePath(std::string* path) {
    char name[MAXPATH] = {};
    if (GetUsbDeviceFileName(&USB_DRIVER_GUID, name) == 0) return false;
    *path = name;
    return true;
}

}  // namespace plccli

#endif  // _WIN32
