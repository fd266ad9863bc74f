#include "sim/usb_sysfs.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "sim/models.h"

namespace fs = std::filesystem;

namespace plcsim {

namespace {

// Longer than any port path the kernel makes (seven tiers of hubs).
constexpr size_t MAX_LOCATION_CHARS = 32;
constexpr size_t MAX_NUMBER_DIGITS = 3;
// Tries to take a lock file that its owner may be removing at that moment.
constexpr int MAX_LOCK_TRIES = 100;
const char PTS_PREFIX[] = "/dev/pts/";

// A decimal number from 1, as the kernel writes bus and port numbers: no sign, no leading zero.
bool PortNumber(const std::string& text) {
    if (text.empty() || text.size() > MAX_NUMBER_DIGITS || text[0] == '0') return false;
    return text.find_first_not_of("0123456789") == std::string::npos;
}

bool WriteFile(const fs::path& file, const std::string& text, std::string* error) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (out) return true;
    *error = "cannot write " + file.string() + ": " + std::strerror(errno);
    return false;
}

// The pid written in a lock file by its owner; empty when it cannot be read.
std::string OwnerOf(const std::string& lockPath) {
    std::ifstream in(lockPath);
    std::string pid;
    in >> pid;
    return pid;
}

bool SameFile(int fd, const std::string& path) {
    struct stat held {
    }, named{};
    return fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

bool ValidUsbLocation(const std::string& location) {
    if (location.size() > MAX_LOCATION_CHARS) return false;
    size_t dash = location.find('-');
    if (dash == std::string::npos || !PortNumber(location.substr(0, dash))) return false;
    size_t start = dash + 1;
    for (;;) {
        size_t dot = location.find('.', start);
        if (!PortNumber(location.substr(start, dot - start))) return false;
        if (dot == std::string::npos) return true;
        start = dot + 1;
    }
}

bool UsbPresentable(const std::string& model, const std::string& location, std::string* error) {
    const ModelTraits* traits = FindModel(model);
    if (traits == nullptr || !traits->usb) {
        *error = "--usb-root presents a USB-attached model; " + model + " is not one";
        return false;
    }
    if (!ValidUsbLocation(location)) {
        *error = "--usb-location takes a kernel USB port path such as 1-2 or 3-1.4.2, not '" +
                 location + "'";
        return false;
    }
    return true;
}

UsbSysfsEntry::UsbSysfsEntry(UsbDevice device) : device_(std::move(device)) {}

UsbSysfsEntry::~UsbSysfsEntry() {
    Unplug();
    Release();
}

std::string UsbSysfsEntry::Devices() const {
    return (fs::path(device_.root) / "bus" / "usb" / "devices").string();
}

std::string UsbSysfsEntry::EntryPath() const {
    return Devices() + "/" + device_.location;
}

std::string UsbSysfsEntry::DotName(const char* what) const {
    return Devices() + "/." + device_.location + "." + what;
}

bool UsbSysfsEntry::Claim(std::string* error) {
    std::error_code ec;
    fs::create_directories(Devices(), ec);
    if (ec) {
        *error = "cannot create " + Devices() + ": " + ec.message();
        return false;
    }
    const std::string lockPath = DotName("plcsim");
    for (int i = 0; i < MAX_LOCK_TRIES && lockFd_ < 0; ++i) {
        int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            *error = "cannot create " + lockPath + ": " + std::strerror(errno);
            return false;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            std::string owner = OwnerOf(lockPath);
            *error = "USB location " + device_.location + " under " + device_.root +
                     " is served by another plcsim" + (owner.empty() ? "" : " (pid " + owner + ")");
            return false;
        }
        // Its last owner may have removed the file between our open and our lock.
        if (SameFile(fd, lockPath))
            lockFd_ = fd;
        else
            ::close(fd);
    }
    if (lockFd_ < 0) {
        *error = "cannot lock " + lockPath;
        return false;
    }
    const std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(lockFd_, 0) != 0 ||
        ::write(lockFd_, pid.data(), pid.size()) != static_cast<ssize_t>(pid.size())) {
        *error = "cannot write " + lockPath + ": " + std::strerror(errno);
        Release();
        return false;
    }
    RemoveLeftovers();
    RemoveEntry();
    return true;
}

void UsbSysfsEntry::Release() {
    if (lockFd_ < 0) return;
    // Removed while still held: a claimant that opened this file finds it is no longer the
    // one at the path and tries again.
    ::unlink(DotName("plcsim").c_str());
    ::close(lockFd_);
    lockFd_ = -1;
}

bool UsbSysfsEntry::SetTty(const std::string& slavePath, std::string* error) {
    const std::string number = slavePath.substr(0, sizeof PTS_PREFIX - 1) == PTS_PREFIX
                                   ? slavePath.substr(sizeof PTS_PREFIX - 1)
                                   : "";
    if (number.empty() || number.size() > 9 ||
        number.find_first_not_of("0123456789") != std::string::npos) {
        *error = "the pseudo-terminal " + slavePath + " is not /dev/pts/N";
        return false;
    }
    ptyNumber_ = static_cast<unsigned>(std::stoul(number));
    ttyKnown_ = true;
    return true;
}

bool UsbSysfsEntry::Build(const std::string& dir, std::string* error) const {
    const std::string n = std::to_string(ptyNumber_);
    const fs::path top(dir);
    const fs::path node = top / (device_.location + ":1.0") / "tty" / ("ttyACM" + n);
    std::error_code ec;
    fs::create_directories(node, ec);
    if (ec) {
        *error = "cannot create " + node.string() + ": " + ec.message();
        return false;
    }
    return WriteFile(top / "idVendor", device_.vendorId + "\n", error) &&
           WriteFile(top / "idProduct", "0001\n", error) &&
           WriteFile(node / "uevent", "MAJOR=136\nMINOR=" + n + "\nDEVNAME=ttyACM" + n + "\n",
                     error);
}

std::string UsbSysfsEntry::NodeLink() const {
    return (fs::path(device_.root) / "dev" / ("ttyACM" + std::to_string(ptyNumber_))).string();
}

// The node link is made first and replaced whole, so that a reader that finds the device finds
// its node.
bool UsbSysfsEntry::MakeNodeLink(std::string* error) const {
    const std::string link = NodeLink();
    const std::string staging = link + ".new-" + std::to_string(getpid());
    std::error_code ec;
    fs::create_directories(fs::path(link).parent_path(), ec);
    ::unlink(staging.c_str());
    const std::string target = PTS_PREFIX + std::to_string(ptyNumber_);
    if (::symlink(target.c_str(), staging.c_str()) != 0 ||
        ::rename(staging.c_str(), link.c_str()) != 0) {
        *error = "cannot create " + link + ": " + std::strerror(errno);
        ::unlink(staging.c_str());
        return false;
    }
    return true;
}

bool UsbSysfsEntry::Plug(std::string* error) {
    if (plugged_) return true;
    if (!ttyKnown_) {
        *error = "no tty for the USB device at " + device_.location;
        return false;
    }
    const std::string staging = DotName(("new-" + std::to_string(getpid())).c_str());
    std::error_code ec;
    fs::remove_all(staging, ec);
    bool built = MakeNodeLink(error) && Build(staging, error);
    if (built && ::rename(staging.c_str(), EntryPath().c_str()) != 0) {
        *error = "cannot create " + EntryPath() + ": " + std::strerror(errno);
        built = false;
    }
    if (!built) {
        fs::remove_all(staging, ec);
        return false;
    }
    plugged_ = true;
    return true;
}

void UsbSysfsEntry::Unplug() {
    if (!plugged_) return;
    plugged_ = false;
    RemoveEntry();
    ::unlink(NodeLink().c_str());
}

// Renamed away first: a reader sees the whole device or none of it.
void UsbSysfsEntry::RemoveEntry() const {
    const std::string gone = DotName(("gone-" + std::to_string(getpid())).c_str());
    std::error_code ec;
    fs::remove_all(gone, ec);
    if (::rename(EntryPath().c_str(), gone.c_str()) == 0) fs::remove_all(gone, ec);
}

// Half-built or half-removed entries of a simulator killed at that moment.
void UsbSysfsEntry::RemoveLeftovers() const {
    const std::string prefixes[] = {"." + device_.location + ".new-",
                                    "." + device_.location + ".gone-"};
    std::vector<fs::path> stale;
    std::error_code ec;
    for (fs::directory_iterator it(Devices(), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        for (const std::string& p : prefixes)
            if (name.compare(0, p.size(), p) == 0) stale.push_back(it->path());
    }
    for (const fs::path& dir : stale) fs::remove_all(dir, ec);
}

bool UsbSysfsEntry::Follow(bool present, std::string* error) {
    if (present == plugged_) return true;
    if (!present) {
        Unplug();
        return true;
    }
    return Plug(error);
}

}  // namespace plcsim
