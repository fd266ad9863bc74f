#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/virtual.h"
#include "tests/device/fake_tree.h"
#include "tests/support/scripted_peer.h"
#include "usb/usb.h"

namespace {

TEST(UsbPathMatches, VendorAndProductInEitherCase) {
    const std::string vendor = std::string(USB_MATCH_TEXT).substr(4, 4);
    struct Case {
        std::string path;
        bool matches;
    };
    std::string upperVendor = vendor;
    for (char& c : upperVendor) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const Case cases[] = {
        {"\\\\?\\usb#vid_" + vendor + "&pid_0001#5&1a2b3c&0&1#{a5dcbf10}", true},
        {"vid_" + vendor + "&pid_0001", true},
        {"\\\\?\\usb#vid_" + vendor + "&pid_0002#5&1a2b3c&0&1", false},
        {"\\\\?\\USB#VID_" + upperVendor + "&PID_0001#5&1A2B3C", true},
        {"\\\\?\\usb#vid_" + vendor + "&PID_0001#5&1a2b3c", true},
        {"\\\\?\\usb#VID_" + upperVendor + "&PID_0002#5&1a2b3c", false},
        {"vid_" + vendor + "&pid_000", false},
        {"\\\\?\\usb#vid_" + vendor + "#pid_0001", false},
        {"", false},
    };
    EXPECT_EQ(std::strlen(USB_MATCH_TEXT), 17u);
    for (const auto& c : cases) EXPECT_EQ(UsbPathMatches(c.path.c_str()), c.matches) << c.path;
    EXPECT_FALSE(UsbPathMatches(nullptr));
}

// A SetupAPI enumeration as recorded on a machine with a hub, a mouse and three PLCs: two behind
// the hub's ports 2 and 3, one whose driver reports no location paths. Each location path list
// is REG_MULTI_SZ: NUL-ended strings and an empty one.
TEST(UsbLocations, ARecordedEnumerationNamesEachPlcByItsPort) {
    const std::string v = std::string(USB_MATCH_TEXT).substr(4, 4);
    const std::string g = "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
    using namespace std::string_literals;
    const std::vector<UsbInterfaceRecord> recorded = {
        {"\\\\?\\usb#vid_05e3&pid_0610#5&2f1e9c3&0&4" + g,
         "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)\0ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)\0\0"s,
         "Port_#0004.Hub_#0001"},
        {"\\\\?\\usb#vid_" + v + "&pid_0001#6&11aa22bb&0&3" + g,
         "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)#USB(3)\0ACPI(_SB_)#ACPI(PCI0)\0\0"s,
         "Port_#0003.Hub_#0005"},
        {"\\\\?\\usb#vid_046d&pid_c077#5&3a4b5c6&0&1" + g,
         "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)\0\0"s, "Port_#0001.Hub_#0001"},
        {"\\\\?\\usb#vid_" + v + "&pid_0001#6&11aa22bb&0&2" + g,
         "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)#USB(2)\0\0"s, "Port_#0002.Hub_#0005"},
        {"\\\\?\\usb#vid_" + v + "&pid_0001#5&99&0&7" + g, "", "Port_#0007.Hub_#0002\0"s},
        // The PLC's second interface: the same port, listed once.
        {"\\\\?\\usb#vid_" + v + "&pid_0001#6&11aa22bb&0&2&mi_01" + g,
         "pciroot(0)#pci(1400)#usbroot(0)#usb(4)#usb(2)\0\0"s, ""},
        {"\\\\?\\usb#vid_" + v + "&pid_0001#5&77&0&9" + g, "", ""},  // no location at all
    };
    std::vector<std::pair<std::string, std::string>> got;
    for (const UsbPlc& p : UsbPlcsOf(recorded)) got.push_back({p.location, p.device});
    const std::vector<std::pair<std::string, std::string>> want = {
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)#USB(2)", recorded[3].devicePath},
        {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)#USB(3)", recorded[1].devicePath},
        {"Port_#0007.Hub_#0002", recorded[4].devicePath},
    };
    EXPECT_EQ(got, want);
}

#ifndef _WIN32

class UsbSysfsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::UnregisterAllVirtualLinks();
        SetUsbSysfsRoot(tree.Path("sys").c_str());
        tree.Dir("sys/bus/usb/devices");
        // A hub and an interface of it, which carry no PLC.
        Device("usb1", "1d6b", "0002", "");
    }
    void TearDown() override {
        SetUsbSysfsRoot(nullptr);
        platform::UnregisterAllVirtualLinks();
    }

    static std::string Vendor() { return std::string(USB_MATCH_TEXT).substr(4, 4); }

    // A USB device directory; node is the tty bound to its first interface: "ttyACMn" under
    // <iface>/tty/, "ttyUSBn" straight under <iface>.
    void Device(const std::string& dir, const std::string& vendor, const std::string& product,
                const std::string& node) {
        std::string base = "sys/bus/usb/devices/" + dir;
        tree.File(base + "/idVendor", vendor + "\n");
        tree.File(base + "/idProduct", product + "\n");
        std::string iface = base + "/" + dir + ":1.0";
        tree.Dir(iface);
        if (node.rfind("ttyACM", 0) == 0) tree.Dir(iface + "/tty/" + node);
        if (node.rfind("ttyUSB", 0) == 0) tree.Dir(iface + "/" + node + "/tty/" + node);
    }

    std::shared_ptr<plctest::ScriptedPeer> Plug(const std::string& node, bool opens = true) {
        auto peer = std::make_shared<plctest::ScriptedPeer>();
        if (!opens) peer->RefuseOpen();
        platform::RegisterVirtualLink(node, peer);
        return peer;
    }

    // Name of the link behind a handle, or "" for none; closes the handle.
    static std::string Opened(HANDLE h) {
        if (h == INVALID_HANDLE_VALUE) return "";
        for (const char* name : {"ttyACM7", "ttyACM8", "ttyUSB0", "ttyUSB1"}) {
            auto* link = platform::FindVirtualLink(name);
            if (link != nullptr && link->IsOpen()) {
                CloseHandle(h);
                return name;
            }
        }
        CloseHandle(h);
        return "?";
    }

    plctest::FakeTree tree;
};

TEST_F(UsbSysfsTest, FindsThePlcByItsIds) {
    struct Case {
        const char* what;
        std::vector<std::vector<std::string>> devices;    // dir, vendor, product, node
        std::vector<std::pair<std::string, bool>> links;  // node, opens
        std::string opened;
    };
    const std::string v = Vendor();
    const Case cases[] = {
        {"no PLC plugged in", {}, {}, ""},
        {"the PLC on ttyACM", {{"1-1", v, "0001", "ttyACM7"}}, {{"ttyACM7", true}}, "ttyACM7"},
        {"the PLC on ttyUSB", {{"1-1", v, "0001", "ttyUSB1"}}, {{"ttyUSB1", true}}, "ttyUSB1"},
        {"another product of the vendor", {{"1-1", v, "0002", "ttyACM7"}}, {{"ttyACM7", true}}, ""},
        {"another vendor", {{"1-1", "0403", "0001", "ttyUSB0"}}, {{"ttyUSB0", true}}, ""},
        {"upper-case product id", {{"1-1", v, "000A", "ttyACM7"}}, {{"ttyACM7", true}}, ""},
        {"matching, but no tty bound", {{"1-1", v, "0001", ""}}, {}, ""},
        {"two PLCs: the first wins",
         {{"1-2", v, "0001", "ttyACM8"}, {"1-1", v, "0001", "ttyACM7"}},
         {{"ttyACM7", true}, {"ttyACM8", true}},
         "ttyACM7"},
        {"the first cannot be opened: passed over",
         {{"1-1", v, "0001", "ttyACM7"}, {"1-2", v, "0001", "ttyACM8"}},
         {{"ttyACM7", false}, {"ttyACM8", true}},
         "ttyACM8"},
        {"the only one cannot be opened",
         {{"1-1", v, "0001", "ttyACM7"}},
         {{"ttyACM7", false}},
         ""},
        {"a node that is gone", {{"1-1", v, "0001", "ttyACM7"}}, {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(tree.Path("sys/bus/usb/devices"));
        tree.Dir("sys/bus/usb/devices");
        platform::UnregisterAllVirtualLinks();
        for (const auto& d : c.devices) Device(d[0], d[1], d[2], d[3]);
        for (const auto& l : c.links) Plug(l.first, l.second);
        EXPECT_EQ(Opened(OpenMyDevPipe("")), c.opened);
        EXPECT_EQ(platform::OpenHandleCount(), 0);
    }
}

TEST_F(UsbSysfsTest, OpensTheDeviceTwiceAndReturnsTheSecondHandle) {
    Device("1-1", Vendor(), "0001", "ttyACM7");
    auto peer = Plug("ttyACM7");
    HANDLE h = OpenMyDevPipe("");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(peer->opens, 2);
    EXPECT_EQ(peer->closes, 1);
    EXPECT_EQ(platform::OpenHandleCount(), 1);
    CloseHandle(h);
}

TEST(UsbLocations, OnlyAKernelPortPathIsALocation) {
    struct Case {
        const char* location;
        bool fine;
    };
    const Case cases[] = {{"1-2", true},   {"3-1.4.2", true},  {"10-12.3", true}, {"", false},
                          {"usb1", false}, {"1-", false},      {"-2", false},     {"1-2.", false},
                          {"1-.2", false}, {"1-2:1.0", false}, {"1-2/..", false}, {"a-1", false},
                          {"1-2 ", false}, {"../1-2", false}};
    for (const auto& c : cases)
        EXPECT_EQ(UsbLocationProblem(c.location).empty(), c.fine) << '"' << c.location << '"';
}

// Each PLC by the port it hangs on: the device at that port or nothing, never another PLC.
TEST_F(UsbSysfsTest, APlcIsFoundAtItsPortOnly) {
    const std::string v = Vendor();
    Device("1-1", v, "0001", "ttyACM7");
    Device("1-2.3", v, "0001", "ttyACM8");
    Device("1-4", "0403", "6001", "ttyUSB0");     // an adapter of another maker
    Device("1-5", v, "0001", "");                 // its tty not bound yet
    tree.Dir("sys/bus/usb/devices/.1-6.new-42");  // being made by a simulator
    tree.File("sys/bus/usb/devices/.1-6.new-42/idVendor", v + "\n");
    tree.File("sys/bus/usb/devices/.1-6.new-42/idProduct", "0001\n");
    // A node whose uevent names it under a /dev subdirectory.
    tree.File("sys/bus/usb/devices/1-2.3/1-2.3:1.0/tty/ttyACM8/uevent",
              "MAJOR=136\nMINOR=5\nDEVNAME=pts/5\n");
    Plug("ttyACM7");
    Plug("/dev/pts/5");
    Plug("ttyUSB0");
    std::vector<std::pair<std::string, std::string>> listed;
    for (const UsbPlc& p : ListUsbPlcs()) listed.push_back({p.location, p.device});
    const std::vector<std::pair<std::string, std::string>> want = {
        {"1-1", "ttyACM7"}, {"1-2.3", "/dev/pts/5"}, {"1-5", ""}};
    EXPECT_EQ(listed, want);
    struct Case {
        const char* location;
        std::string opened;
    };
    const Case cases[] = {
        {"1-1", "ttyACM7"}, {"1-2.3", "/dev/pts/5"}, {"1-4", ""}, {"1-5", ""}, {"1-6", ""},
        {"1-9", ""},        {"../1-1", ""},          {"1-2", ""}};
    for (const auto& c : cases) {
        HANDLE h = OpenUsbPlcAt(c.location);
        std::string opened;
        for (const char* name : {"ttyACM7", "/dev/pts/5", "ttyUSB0"}) {
            auto* link = platform::FindVirtualLink(name);
            if (h != INVALID_HANDLE_VALUE && link != nullptr && link->IsOpen()) opened = name;
        }
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        EXPECT_EQ(opened, c.opened) << c.location;
        EXPECT_EQ(platform::OpenHandleCount(), 0);
    }
}

TEST_F(UsbSysfsTest, NothingIsCachedBetweenCalls) {
    Device("1-1", Vendor(), "0001", "ttyACM7");
    Plug("ttyACM7");
    EXPECT_EQ(Opened(OpenMyDevPipe("")), "ttyACM7");
    // Replugged: the device comes back under another node.
    std::filesystem::remove_all(tree.Path("sys/bus/usb/devices/1-1"));
    platform::UnregisterVirtualLink("ttyACM7");
    Device("1-4", Vendor(), "0001", "ttyACM8");
    Plug("ttyACM8");
    EXPECT_EQ(Opened(OpenMyDevPipe("")), "ttyACM8");
}

TEST_F(UsbSysfsTest, APipeNameBelowATtyNodeOpensNothing) {
    Device("1-1", Vendor(), "0001", "ttyACM7");
    auto peer = Plug("ttyACM7");
    EXPECT_EQ(OpenMyDevPipe("PIPE00"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(platform::OpenHandleCount(), 0);
}

TEST_F(UsbSysfsTest, NamesThatDoNotFitTheBufferArePassedOver) {
    // A node name of 255 characters (the longest file name) and room for what follows it.
    const std::string node = "ttyACM" + std::string(249, '7');
    struct Case {
        size_t suffixBytes;
        int found;
    };
    const Case cases[] = {
        {0, 1},
        {MAXPATH - 1 - node.size(), 1},  // path, suffix and NUL fill the buffer exactly
        {MAXPATH - node.size(), 0},      // one byte too many
        {MAXPATH + 50, 0},
    };
    Device("1-1", Vendor(), "0001", node);
    Plug(node);
    for (const auto& c : cases) {
        std::vector<char> buffer(MAXPATH + 32, '#');
        EXPECT_EQ(GetUsbDeviceFileName(buffer.data(), c.suffixBytes), c.found) << c.suffixBytes;
        for (size_t i = MAXPATH; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], '#') << i;
        if (c.found) {
            EXPECT_EQ(std::string(buffer.data()), node);
        }
        EXPECT_EQ(platform::OpenHandleCount(), 0);
    }
    // A pipe name too long for the buffer never reaches the device.
    EXPECT_EQ(OpenMyDevPipe(std::string(MAXPATH, 'p').c_str()), INVALID_HANDLE_VALUE);
}

TEST_F(UsbSysfsTest, AShorterPlcAfterAnOverlongOneIsFound) {
    const std::string longNode = "ttyACM" + std::string(249, '7');
    Device("1-1", Vendor(), "0001", longNode);
    Device("1-2", Vendor(), "0001", "ttyACM8");
    Plug(longNode);
    Plug("ttyACM8");
    char buffer[MAXPATH];
    EXPECT_EQ(GetUsbDeviceFileName(buffer, MAXPATH - 20), 1);
    EXPECT_STREQ(buffer, "ttyACM8");
}

#endif

}  // namespace
