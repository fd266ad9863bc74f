// The PLC's USB device on Linux: the USB devices of sysfs, the first whose idVendor/idProduct
// carry the PLC's ids and whose tty node (ttyACM*, ttyUSB* under one of its interfaces) opens.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "usb/usb.h"

namespace fs = std::filesystem;

namespace {

const char DEFAULT_SYSFS_ROOT[] = "/sys";
const char* const TTY_NODE_PREFIXES[] = {"ttyACM", "ttyUSB"};

// PLCFW_SYSFS_ROOT names another root, such as the one a simulator of USB PLCs builds.
std::string DefaultRoot() {
    const char* env = std::getenv("PLCFW_SYSFS_ROOT");
    return env != nullptr && *env != '\0' ? env : DEFAULT_SYSFS_ROOT;
}

std::mutex gRootMutex;
std::string gSysfsRoot = DefaultRoot();

std::string SysfsRoot() {
    std::lock_guard<std::mutex> lock(gRootMutex);
    return gSysfsRoot;
}

HANDLE OpenShared(const char* path) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
}

// The first line of a sysfs attribute, without its line end; empty when it cannot be read.
std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

// Directory entries sorted by name, so that the search order does not depend on readdir.
std::vector<fs::path> SortedEntries(const fs::path& dir) {
    std::vector<fs::path> out;
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) return out;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        out.push_back(it->path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool IsTtyNodeName(const std::string& name) {
    for (const char* prefix : TTY_NODE_PREFIXES)
        if (name.compare(0, std::strlen(prefix), prefix) == 0 && name.size() > std::strlen(prefix))
            return true;
    return false;
}

// The name a tty node is opened by: its uevent's DEVNAME, which is relative to /dev, or else
// its sysfs name. A bare name is a port under /dev; a DEVNAME in a subdirectory gets /dev/.
std::string NodeName(const fs::path& nodeDir) {
    std::string name = nodeDir.filename().string();
    for (const fs::path& uevent : {nodeDir / "uevent", nodeDir / "tty" / name / "uevent"}) {
        std::ifstream in(uevent);
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("DEVNAME=", 0) != 0) continue;
            std::string devName = line.substr(8);
            if (devName.empty() || devName.find("..") != std::string::npos || devName[0] == '/')
                break;
            return devName.find('/') == std::string::npos ? devName : "/dev/" + devName;
        }
    }
    return name;
}

// The tty nodes bound to a device: ttyACMn appears as <interface>/tty/ttyACMn, ttyUSBn as
// <interface>/ttyUSBn. Interfaces are the subdirectories named "<device>:<config>.<n>".
std::vector<std::string> TtyNodesOf(const fs::path& deviceDir) {
    std::vector<std::string> nodes;
    for (const fs::path& iface : SortedEntries(deviceDir)) {
        if (iface.filename().string().find(':') == std::string::npos) continue;
        std::vector<fs::path> candidates = SortedEntries(iface);
        std::vector<fs::path> under = SortedEntries(iface / "tty");
        candidates.insert(candidates.end(), under.begin(), under.end());
        for (const fs::path& c : candidates) {
            if (!IsTtyNodeName(c.filename().string())) continue;
            std::string name = NodeName(c);
            if (std::find(nodes.begin(), nodes.end(), name) == nodes.end()) nodes.push_back(name);
        }
    }
    return nodes;
}

fs::path DevicesDir() {
    return fs::path(SysfsRoot()) / "bus" / "usb" / "devices";
}

// A USB device's directory, not an interface ("1-1:1.0"), a root hub ("usb1") or an entry
// being made or removed (a dot-name).
bool IsDeviceEntry(const std::string& name) {
    return !name.empty() && name[0] != '.' && name.find(':') == std::string::npos &&
           name.find('-') != std::string::npos;
}

bool CarriesThePlcIds(const fs::path& dir) {
    std::string idText =
        "vid_" + ReadAttribute(dir / "idVendor") + "&pid_" + ReadAttribute(dir / "idProduct");
    return UsbPathMatches(idText.c_str());
}

}  // namespace

void SetUsbSysfsRoot(const char* root) {
    std::lock_guard<std::mutex> lock(gRootMutex);
    gSysfsRoot = root != nullptr && *root != '\0' ? root : DefaultRoot();
}

HANDLE OpenOneDevice(const char* deviceDir, char* sDevNameBuf, size_t suffixBytes) {
    HANDLE hOut = INVALID_HANDLE_VALUE;
    fs::path dir(deviceDir);
    // Matched as the text that Windows would see in the device path, so that both match alike.
    if (!CarriesThePlcIds(dir)) return hOut;
    for (const std::string& node : TtyNodesOf(dir)) {
        std::memset(sDevNameBuf, 0, MAXPATH);
        if (node.size() + suffixBytes + 1 > MAXPATH) continue;
        std::memcpy(sDevNameBuf, node.c_str(), node.size() + 1);
        hOut = OpenShared(sDevNameBuf);
        if (hOut != INVALID_HANDLE_VALUE) break;
    }
    return hOut;
}

HANDLE OpenUsbDevice(char* sDevNameBuf, size_t suffixBytes) {
    HANDLE hOut = INVALID_HANDLE_VALUE;
    for (const fs::path& device : SortedEntries(DevicesDir())) {
        // Interfaces ("1-1:1.0") carry no ids; only devices are examined.
        if (device.filename().string().find(':') != std::string::npos) continue;
        hOut = OpenOneDevice(device.c_str(), sDevNameBuf, suffixBytes);
        if (hOut != INVALID_HANDLE_VALUE) break;
    }
    return hOut;
}

int GetUsbDeviceFileName(char* sDevNameBuf, size_t suffixBytes) {
    HANDLE hDev = OpenUsbDevice(sDevNameBuf, suffixBytes);
    if (hDev == INVALID_HANDLE_VALUE) return 0;
    CloseHandle(hDev);
    return 1;
}

HANDLE OpenMyDevPipe(const char* PipeName) {
    char DeviceName[MAXPATH];
    std::memset(DeviceName, 0, sizeof DeviceName);
    if (PipeName == nullptr) PipeName = "";
    // A tty node has no pipes: an empty name opens the node, any other is a path below it.
    size_t suffixBytes = *PipeName == '\0' ? 0 : 1 + std::strlen(PipeName);
    if (suffixBytes + 1 > MAXPATH) return INVALID_HANDLE_VALUE;
    if (GetUsbDeviceFileName(DeviceName, suffixBytes) == 0) return INVALID_HANDLE_VALUE;
    if (*PipeName != '\0') {
        std::strcat(DeviceName, "/");
        std::strcat(DeviceName, PipeName);
    }
    return OpenShared(DeviceName);
}

std::vector<UsbPlc> ListUsbPlcs() {
    std::vector<UsbPlc> plcs;
    for (const fs::path& device : SortedEntries(DevicesDir())) {
        std::string location = device.filename().string();
        if (!IsDeviceEntry(location) || !CarriesThePlcIds(device)) continue;
        std::vector<std::string> nodes = TtyNodesOf(device);
        plcs.push_back({location, nodes.empty() ? "" : nodes.front()});
    }
    return plcs;
}

HANDLE OpenUsbPlcAt(const std::string& location) {
    if (!UsbLocationProblem(location).empty()) return INVALID_HANDLE_VALUE;
    char name[MAXPATH];
    return OpenOneDevice((DevicesDir() / location).c_str(), name, 0);
}
