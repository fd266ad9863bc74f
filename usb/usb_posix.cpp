// The PLC's USB device on Linux: the USB devices of sysfs, the first whose idVendor/idProduct
// carry the PLC's ids and whose tty node (ttyACM*, ttyUSB* under one of its interfaces) opens.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "usb/system_file.h"
#include "usb/usb.h"

namespace fs = std::filesystem;

namespace {

const char DEFAULT_SYSFS_ROOT[] = "/sys";
const char* const TTY_NODE_PREFIXES[] = {"ttyACM", "ttyUSB"};
// Where a node named under a root of PLCFW_SYSFS_ROOT stands: <root>/dev/<name>, a link to the
// tty that a simulator of USB PLCs serves (the kernel's names never lead outside /dev).
const char ROOT_DEV_DIR[] = "dev";
// What such a link may lead to: a pseudo-terminal or a USB serial node, never another device.
const char* const ROOT_NODE_TARGETS[] = {"/dev/pts/", "/dev/ttyACM", "/dev/ttyUSB"};
const size_t ID_HEX_DIGITS = 4;

struct Roots {
    std::string sysfs;
    bool nodesUnderRoot;  // the root came from PLCFW_SYSFS_ROOT: nodes are <root>/dev/<name>
};

// PLCFW_SYSFS_ROOT names another root, such as the one a simulator of USB PLCs builds.
Roots DefaultRoots() {
    const char* env = std::getenv("PLCFW_SYSFS_ROOT");
    if (env != nullptr && *env != '\0') return {env, true};
    return {DEFAULT_SYSFS_ROOT, false};
}

std::mutex gRootMutex;
Roots gRoots = DefaultRoots();

Roots CurrentRoots() {
    std::lock_guard<std::mutex> lock(gRootMutex);
    return gRoots;
}

HANDLE OpenShared(const char* path) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
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

bool AllDigits(const std::string& text, size_t from) {
    return from < text.size() && std::all_of(text.begin() + static_cast<long>(from), text.end(),
                                             [](char c) { return c >= '0' && c <= '9'; });
}

// "ttyACM<digits>" or "ttyUSB<digits>": a name in /dev with no directory, never "tty", "..".
bool IsTtyNodeName(const std::string& name) {
    for (const char* prefix : TTY_NODE_PREFIXES)
        if (name.compare(0, std::strlen(prefix), prefix) == 0 &&
            AllDigits(name, std::strlen(prefix)))
            return true;
    return false;
}

// Whether a device is one of this process's own standard streams (its terminal).
bool IsOwnTerminal(const struct stat& node) {
    for (int fd = 0; fd <= 2; ++fd) {
        struct stat own {};
        if (fstat(fd, &own) == 0 && S_ISCHR(own.st_mode) && own.st_rdev == node.st_rdev)
            return true;
    }
    return false;
}

// A node under a test root: where the link <root>/dev/<name> leads, if that is a
// pseudo-terminal or a USB serial node other than this process's own terminal; else "". The
// path it leads to is what is opened and shown, so the link is followed once, here.
std::string NodeUnderRoot(const std::string& root, const std::string& name) {
    std::error_code ec;
    fs::path link = fs::path(root) / ROOT_DEV_DIR / name;
    std::string target = fs::canonical(link, ec).string();
    if (ec) return "";
    bool allowed = false;
    for (const char* prefix : ROOT_NODE_TARGETS)
        if (target.compare(0, std::strlen(prefix), prefix) == 0 &&
            AllDigits(target, std::strlen(prefix)))
            allowed = true;
    struct stat st {};
    if (!allowed || stat(target.c_str(), &st) != 0 || !S_ISCHR(st.st_mode) || IsOwnTerminal(st))
        return "";
    return target;
}

// The DEVNAME of a uevent; "" when it has none.
std::string DevNameIn(const std::string& uevent) {
    const char key[] = "DEVNAME=";
    size_t at = 0;
    while (at < uevent.size()) {
        size_t end = std::min(uevent.find('\n', at), uevent.size());
        if (uevent.compare(at, sizeof key - 1, key) == 0)
            return uevent.substr(at + sizeof key - 1, end - at - (sizeof key - 1));
        at = end + 1;
    }
    return "";
}

// The name a tty node is opened by: its uevent's DEVNAME (relative to /dev), or else its sysfs
// name; "" when the name is not a plain ttyACM<n>/ttyUSB<n> or a uevent cannot be read. Under a
// root of PLCFW_SYSFS_ROOT, where the link <root>/dev/<name> leads.
std::string NodeName(const fs::path& nodeDir, const Roots& roots) {
    std::string name = nodeDir.filename().string();
    for (const fs::path& uevent : {nodeDir / "uevent", nodeDir / "tty" / name / "uevent"}) {
        std::string text, why;
        SystemFileResult read = ReadSystemFile(uevent.string(), &text, &why);
        if (read == SYSTEM_FILE_UNREADABLE) return "";
        std::string devName = read == SYSTEM_FILE_READ ? DevNameIn(text) : "";
        if (!devName.empty()) {
            name = devName;
            break;
        }
    }
    if (!IsTtyNodeName(name)) return "";
    return roots.nodesUnderRoot ? NodeUnderRoot(roots.sysfs, name) : name;
}

// The tty nodes bound to a device: ttyACMn appears as <interface>/tty/ttyACMn, ttyUSBn as
// <interface>/ttyUSBn. Interfaces are the subdirectories named "<device>:<config>.<n>".
std::vector<std::string> TtyNodesOf(const fs::path& deviceDir, const Roots& roots) {
    std::vector<std::string> nodes;
    for (const fs::path& iface : SortedEntries(deviceDir)) {
        if (iface.filename().string().find(':') == std::string::npos) continue;
        std::vector<fs::path> candidates = SortedEntries(iface);
        std::vector<fs::path> under = SortedEntries(iface / "tty");
        candidates.insert(candidates.end(), under.begin(), under.end());
        for (const fs::path& c : candidates) {
            if (!IsTtyNodeName(c.filename().string())) continue;
            std::string name = NodeName(c, roots);
            if (name.empty()) continue;
            if (std::find(nodes.begin(), nodes.end(), name) == nodes.end()) nodes.push_back(name);
        }
    }
    return nodes;
}

fs::path DevicesDir(const Roots& roots) {
    return fs::path(roots.sysfs) / "bus" / "usb" / "devices";
}

// A USB device's directory, not an interface ("1-1:1.0"), a root hub ("usb1") or an entry
// being made or removed (a dot-name).
bool IsDeviceEntry(const std::string& name) {
    return !name.empty() && name[0] != '.' && name.find(':') == std::string::npos &&
           name.find('-') != std::string::npos;
}

// An id attribute as the kernel writes it: four hex digits and a line end, lower-cased; "" for
// anything else.
std::string IdOf(const std::string& text) {
    std::string id = text.size() == ID_HEX_DIGITS + 1 && text.back() == '\n'
                         ? text.substr(0, ID_HEX_DIGITS)
                         : text;
    if (id.size() != ID_HEX_DIGITS) return "";
    for (char& c : id) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return "";
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return id;
}

// Whether a device carries the PLC's ids, each compared whole. An id that is there but cannot be
// read makes the device unreadable, *why saying which and how.
UsbPortState IdsAt(const fs::path& dir, std::string* why) {
    std::string ids[2];
    const char* const names[2] = {"idVendor", "idProduct"};
    for (int i = 0; i < 2; ++i) {
        std::string text, reason;
        SystemFileResult read = ReadSystemFile((dir / names[i]).string(), &text, &reason);
        if (read == SYSTEM_FILE_ABSENT) return USB_PORT_NO_PLC;
        if (read == SYSTEM_FILE_UNREADABLE) {
            if (why != nullptr) *why = std::string(names[i]) + ": " + reason;
            return USB_PORT_UNREADABLE;
        }
        ids[i] = IdOf(text);
    }
    // The same text Windows would see in the device path, so that both match alike.
    std::string idText = "vid_" + ids[0] + "&pid_" + ids[1];
    return idText == USB_MATCH_TEXT ? USB_PORT_PLC : USB_PORT_NO_PLC;
}

bool CarriesThePlcIds(const fs::path& dir) {
    return IdsAt(dir, nullptr) == USB_PORT_PLC;
}

HANDLE OpenOneDeviceOf(const fs::path& dir, const Roots& roots, char* sDevNameBuf,
                       size_t suffixBytes) {
    HANDLE hOut = INVALID_HANDLE_VALUE;
    if (!CarriesThePlcIds(dir)) return hOut;
    for (const std::string& node : TtyNodesOf(dir, roots)) {
        std::memset(sDevNameBuf, 0, MAXPATH);
        if (node.size() + suffixBytes + 1 > MAXPATH) continue;
        std::memcpy(sDevNameBuf, node.c_str(), node.size() + 1);
        hOut = OpenShared(sDevNameBuf);
        if (hOut != INVALID_HANDLE_VALUE) break;
    }
    return hOut;
}

}  // namespace

void SetUsbSysfsRoot(const char* root) {
    std::lock_guard<std::mutex> lock(gRootMutex);
    gRoots = root != nullptr && *root != '\0' ? Roots{root, false} : DefaultRoots();
}

HANDLE OpenOneDevice(const char* deviceDir, char* sDevNameBuf, size_t suffixBytes) {
    return OpenOneDeviceOf(fs::path(deviceDir), CurrentRoots(), sDevNameBuf, suffixBytes);
}

HANDLE OpenUsbDevice(char* sDevNameBuf, size_t suffixBytes) {
    HANDLE hOut = INVALID_HANDLE_VALUE;
    Roots roots = CurrentRoots();
    for (const fs::path& device : SortedEntries(DevicesDir(roots))) {
        // Interfaces ("1-1:1.0") carry no ids; only devices are examined.
        if (device.filename().string().find(':') != std::string::npos) continue;
        hOut = OpenOneDeviceOf(device, roots, sDevNameBuf, suffixBytes);
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
    Roots roots = CurrentRoots();
    for (const fs::path& device : SortedEntries(DevicesDir(roots))) {
        std::string location = device.filename().string();
        if (!IsDeviceEntry(location) || !CarriesThePlcIds(device)) continue;
        std::vector<std::string> nodes = TtyNodesOf(device, roots);
        plcs.push_back({location, nodes.empty() ? "" : nodes.front()});
    }
    return plcs;
}

UsbPortState UsbPortStateAt(const std::string& location, std::string* why) {
    if (!UsbLocationProblem(location).empty()) return USB_PORT_NO_PLC;
    return IdsAt(DevicesDir(CurrentRoots()) / location, why);
}

HANDLE OpenUsbPlcAt(const std::string& location) {
    // Only a port path names a device: "./1-2" or "1-2/../1-3" would reach one by another name.
    if (!UsbLocationProblem(location).empty()) return INVALID_HANDLE_VALUE;
    char name[MAXPATH];
    Roots roots = CurrentRoots();
    return OpenOneDeviceOf(DevicesDir(roots) / location, roots, name, 0);
}
