// The simulated PLC as a USB device in a sysfs tree (plcsim --usb-root DIR --usb-location LOC),
// found by the physical port it hangs on, as the programs find a real one:
//   - UsbPresentable: the model is USB-attached and LOC a kernel port path ("1-2", "3-1.4.2")
//   - UsbSysfsEntry: DIR/bus/usb/devices/LOC while the device is plugged in, with idVendor,
//     idProduct and the node ttyACM<N> of its interface LOC:1.0 (DEVNAME=ttyACM<N> in its
//     uevent), N the number of the pseudo-terminal's slave /dev/pts/N; the node itself is the
//     link DIR/dev/ttyACM<N> to that slave, where the programs look for a node under a root of
//     PLCFW_SYSFS_ROOT
//
// Readers may look at any moment and skip names that start with a dot, so an entry is built
// under a dot-name and renamed into place, and renamed to a dot-name before it is deleted.
// One process serves a location: it holds a lock on DIR/bus/usb/devices/.LOC.plcsim, which
// the kernel lets go when the process dies, so an entry found there once the lock is taken was
// left by a killed simulator and is replaced.
#pragma once

#include <string>

namespace plcsim {

// A kernel USB port path: "B-P" or "B-P.P..." with decimal numbers.
bool ValidUsbLocation(const std::string& location);

// True when a PLC of that catalogue model can be presented at that location; otherwise false
// with the reason.
bool UsbPresentable(const std::string& model, const std::string& location, std::string* error);

struct UsbDevice {
    std::string root;      // stands for /sys
    std::string location;  // the kernel's port path
    std::string vendorId;  // four lower-case hex digits
};

class UsbSysfsEntry {
  public:
    explicit UsbSysfsEntry(UsbDevice device);
    ~UsbSysfsEntry();  // unplugs and lets go of the location
    UsbSysfsEntry(const UsbSysfsEntry&) = delete;
    UsbSysfsEntry& operator=(const UsbSysfsEntry&) = delete;

    // Takes the location for this process and removes what a killed simulator left there.
    // False with the reason when another live simulator serves it, or DIR cannot be written.
    bool Claim(std::string* error);
    // The tty the device's node stands for: a pseudo-terminal's slave, /dev/pts/N.
    bool SetTty(const std::string& slavePath, std::string* error);
    // The device appears (enumerates) or vanishes. Plug is false with the reason on failure.
    bool Plug(std::string* error);
    void Unplug();
    bool Plugged() const { return plugged_; }
    // Plugs or unplugs so that the device is there exactly while present is true.
    bool Follow(bool present, std::string* error);
    std::string EntryPath() const;

  private:
    std::string Devices() const;
    std::string DotName(const char* what) const;
    bool Build(const std::string& dir, std::string* error) const;
    std::string NodeLink() const;
    bool MakeNodeLink(std::string* error) const;
    void RemoveEntry() const;
    void RemoveLeftovers() const;
    void Release();

    UsbDevice device_;
    unsigned ptyNumber_ = 0;
    bool ttyKnown_ = false;
    bool plugged_ = false;
    int lockFd_ = -1;
};

}  // namespace plcsim
