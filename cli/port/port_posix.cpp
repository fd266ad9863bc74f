// The ports on POSIX: whether --port names a terminal device that no other program holds,
// checked before a byte is written, which device a port's name opens, and where the PLC's USB
// device is.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/command/options.h"
#include "cli/port/port.h"
#include "platform/virtual.h"
#include "usb/usb.h"

namespace plccli {

namespace {

const char LIST_HINT[] = "see --list-ports for the ports present";

// The path CreateFileA opens for a name: a bare name lives in /dev.
std::string DevicePath(const std::string& port) {
    return port.find('/') == std::string::npos ? "/dev/" + port : port;
}

std::string OpenFailure(const std::string& path, int error) {
    if (error == EACCES || error == EPERM)
        return path + ": " + std::strerror(error) +
               "; add your user to the dialout group (sudo usermod -aG dialout $USER) and log "
               "in again";
    return path + ": " + std::strerror(error) + "; " + LIST_HINT;
}

// Opens the device as the run will and lets it go again.
bool TryOpen(const std::string& path, std::string* reason) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *reason = OpenFailure(path, errno);
        return false;
    }
    bool ok = false;
    if (isatty(fd) != 1) {
        *reason = path + ": not a serial port (no terminal device); " + LIST_HINT;
    } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *reason = path + ": the port is in use by another program (another plcfwupdate?); " +
                  "end that program or choose another port";
    } else {
        flock(fd, LOCK_UN);
        ok = true;
    }
    ::close(fd);
    return ok;
}

// COM3, com10: how Windows names a serial port, which Linux does not.
bool IsWindowsPortName(const std::string& port) {
    return port.size() > 3 && (port[0] == 'C' || port[0] == 'c') &&
           (port[1] == 'O' || port[1] == 'o') && (port[2] == 'M' || port[2] == 'm') &&
           port.find_first_not_of("0123456789", 3) == std::string::npos;
}

// What a path that is no device is, as the operator calls it.
const char* KindOf(mode_t mode) {
    if (S_ISREG(mode)) return "a regular file";
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a device";
}

}  // namespace

bool CheckPortName(const std::string& port, std::string* reason, bool absentIsFine) {
    if (IsNetworkLinkName(port) || platform::FindVirtualLink(port) != nullptr) return true;
    if (IsUsbPortName(port)) return CheckUsbPortName(port, reason, absentIsFine);
    std::string path = DevicePath(port);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT && absentIsFine) return true;
        if (errno == ENOENT && IsWindowsPortName(port)) {
            *reason = path + ": no such port; " + port +
                      " is a Windows name: serial ports on Linux are /dev/ttyS*, /dev/ttyUSB*, "
                      "/dev/ttyACM* (see --list-ports)";
            return false;
        }
        *reason =
            errno == ENOENT ? path + ": no such port; " + LIST_HINT : OpenFailure(path, errno);
        return false;
    }
    if (!S_ISCHR(st.st_mode)) {
        *reason = path + ": " + KindOf(st.st_mode) +
                  ", not a serial port; nothing was written to it; " + LIST_HINT;
        return false;
    }
    return TryOpen(path, reason);
}

std::string PortIdentity(const std::string& port) {
    if (platform::FindVirtualLink(port) != nullptr) return "virtual " + port;
    std::string path = DevicePath(port);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return "absent " + path;
    // Two nodes of one character device reach one PLC, whatever their inodes.
    if (S_ISCHR(st.st_mode)) return "device " + std::to_string(st.st_rdev);
    return "file " + std::to_string(st.st_dev) + " " + std::to_string(st.st_ino);
}

bool FindUsbDevicePath(std::string* path) {
    char name[MAXPATH] = {};
    if (GetUsbDeviceFileName(name) == 0) return false;
    *path = DevicePath(name);
    return true;
}

}  // namespace plccli
