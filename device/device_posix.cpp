// The serial ports present on Linux, from sysfs: ttyUSB and ttyACM ports as they appear, ttyS
// ports only when a UART answers behind them (the kernel keeps placeholders for absent ones).
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "device/device.h"
#include "usb/system_file.h"

namespace fs = std::filesystem;

namespace {

const char DEFAULT_SYSFS_ROOT[] = "/sys";
const char DEFAULT_DEV_ROOT[] = "/dev";

// Prefix     needs a UART behind it
const struct {
    const char* prefix;
    bool uartOnly;
} TTY_KINDS[] = {
    {"ttyS", true},
    {"ttyUSB", false},
    {"ttyACM", false},
};

// The serial core's "type" for a port without hardware.
const long PORT_TYPE_UNKNOWN = 0;

std::mutex gRootsMutex;
std::string gSysfsRoot = DEFAULT_SYSFS_ROOT;
std::string gDevRoot = DEFAULT_DEV_ROOT;

bool HasDigitsAfter(const std::string& name, size_t at) {
    if (at >= name.size()) return false;
    return std::all_of(name.begin() + static_cast<long>(at), name.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

// Whether a ttyS port has a UART: the serial core's type is known, or, where the attribute is
// missing, the port is bound to a driver other than the legacy 8250 placeholder driver.
bool UartPresent(const fs::path& ttyDir) {
    std::error_code ec;
    if (!fs::exists(ttyDir / "device", ec)) return false;
    std::string text, why;
    if (ReadSystemFile((ttyDir / "type").string(), &text, &why) == SYSTEM_FILE_READ) {
        char* end = nullptr;
        long type = std::strtol(text.c_str(), &end, 10);
        if (end != text.c_str()) return type != PORT_TYPE_UNKNOWN;
    }
    fs::path driver = fs::read_symlink(ttyDir / "device" / "driver", ec);
    if (ec) return false;
    return driver.filename() != "serial8250";
}

bool Listed(const fs::path& ttyDir, const std::string& name) {
    for (const auto& kind : TTY_KINDS) {
        size_t n = std::strlen(kind.prefix);
        if (name.compare(0, n, kind.prefix) != 0 || !HasDigitsAfter(name, n)) continue;
        if (kind.uartOnly) return UartPresent(ttyDir);
        return true;
    }
    return false;
}

}  // namespace

void SetPortRoots(const char* sysfsRoot, const char* devRoot) {
    std::lock_guard<std::mutex> lock(gRootsMutex);
    gSysfsRoot = sysfsRoot != nullptr && *sysfsRoot != '\0' ? sysfsRoot : DEFAULT_SYSFS_ROOT;
    gDevRoot = devRoot != nullptr && *devRoot != '\0' ? devRoot : DEFAULT_DEV_ROOT;
}

void ListComPorts(PortList* list) {
    list->count = 0;
    std::string sysfsRoot, devRoot;
    {
        std::lock_guard<std::mutex> lock(gRootsMutex);
        sysfsRoot = gSysfsRoot;
        devRoot = gDevRoot;
    }
    std::error_code ec;
    fs::directory_iterator it(fs::path(sysfsRoot) / "class" / "tty", ec);
    if (ec) return;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        std::string name = it->path().filename().string();
        if (name.size() > PORT_NAME_BYTES - 1) continue;
        if (!Listed(it->path(), name)) continue;
        // A port is opened by its short name as /dev/NAME: without the node it cannot be.
        std::error_code nodeEc;
        if (!fs::exists(fs::path(devRoot) / name, nodeEc)) continue;
        AddPortSorted(list, name.c_str());
    }
}
