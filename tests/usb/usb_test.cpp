#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
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
    // A node whose uevent names it otherwise than its directory.
    tree.File("sys/bus/usb/devices/1-2.3/1-2.3:1.0/tty/ttyACM8/uevent",
              "MAJOR=166\nMINOR=5\nDEVNAME=ttyACM5\n");
    Plug("ttyACM7");
    Plug("ttyACM5");
    Plug("ttyUSB0");
    std::vector<std::pair<std::string, std::string>> listed;
    for (const UsbPlc& p : ListUsbPlcs()) listed.push_back({p.location, p.device});
    const std::vector<std::pair<std::string, std::string>> want = {
        {"1-1", "ttyACM7"}, {"1-2.3", "ttyACM5"}, {"1-5", ""}};
    EXPECT_EQ(listed, want);
    struct Case {
        const char* location;
        std::string opened;
    };
    // Only a port path names a port: the device at 1-1 is not reached by another spelling.
    const Case cases[] = {{"1-1", "ttyACM7"}, {"1-2.3", "ttyACM5"}, {"1-4", ""},
                          {"1-5", ""},        {"1-6", ""},          {"1-9", ""},
                          {"../1-1", ""},     {"1-2", ""},          {"./1-1", ""},
                          {"1-1/", ""},       {"1-4/../1-1", ""},   {"1-1/.", ""}};
    for (const auto& c : cases) {
        HANDLE h = OpenUsbPlcAt(c.location);
        std::string opened;
        for (const char* name : {"ttyACM7", "ttyACM5", "ttyUSB0"}) {
            auto* link = platform::FindVirtualLink(name);
            if (h != INVALID_HANDLE_VALUE && link != nullptr && link->IsOpen()) opened = name;
        }
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        EXPECT_EQ(opened, c.opened) << c.location;
        EXPECT_EQ(platform::OpenHandleCount(), 0);
    }
}

// Files of the tree that the kernel never writes: each is refused without hanging, growing or
// opening anything but a plain ttyACM<n>/ttyUSB<n> node, and an id that cannot be read is said as
// such. The PLC at 1-1 has idVendor, idProduct and the node ttyACM7; each row changes one thing.
TEST_F(UsbSysfsTest, HostileFilesAreRefusedAndNothingElseOpens) {
    const std::string v = Vendor();
    const std::string base = "sys/bus/usb/devices/1-1/";
    const std::string uevent = base + "1-1:1.0/tty/ttyACM7/uevent";
    const char* const TRAPS[] = {"ttyACM7", "ttyACM8",   "tty",          "fd/0",     "/dev/fd/0",
                                 "../x",    "/dev/../x", "..",           "pts/5",    "/dev/pts/5",
                                 "ttyS0",   "ttyACM",    "/dev/ttyACM8", "ttyACM8x", "ttyACM8/.."};
    std::string upper = v;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    auto fifo = [&](const std::string& rel) {
        std::filesystem::remove(tree.Path(rel));
        ASSERT_EQ(mkfifo(tree.Path(rel).c_str(), 0600), 0) << rel;
    };
    auto text = [&](const std::string& rel, const std::string& content) {
        tree.File(rel, content);
    };
    struct Case {
        const char* what;
        std::function<void()> change;
        UsbPortState state;
        const char* why;     // the start of what UsbPortStateAt says
        std::string opened;  // the link OpenMyDevPipe reached
        bool listed;
    };
    const Case cases[] = {
        {"a plain PLC", [] {}, USB_PORT_PLC, "", "ttyACM7", true},
        {"a plain DEVNAME", [&] { text(uevent, "MAJOR=166\nDEVNAME=ttyACM8\n"); }, USB_PORT_PLC, "",
         "ttyACM8", true},
        {"the vendor id in upper case", [&] { text(base + "idVendor", upper + "\n"); },
         USB_PORT_PLC, "", "ttyACM7", true},
        {"a FIFO at idVendor", [&] { fifo(base + "idVendor"); }, USB_PORT_UNREADABLE,
         "idVendor: a FIFO", "", false},
        {"a FIFO at idProduct", [&] { fifo(base + "idProduct"); }, USB_PORT_UNREADABLE,
         "idProduct: a FIFO", "", false},
        {"a FIFO at the uevent", [&] { fifo(uevent); }, USB_PORT_PLC, "", "", true},
        {"idVendor a link to /dev/zero",
         [&] {
             std::filesystem::remove(tree.Path(base + "idVendor"));
             std::filesystem::create_symlink("/dev/zero", tree.Path(base + "idVendor"));
         },
         USB_PORT_UNREADABLE, "idVendor: a symbolic link", "", false},
        {"the uevent a link to /dev/zero",
         [&] { std::filesystem::create_symlink("/dev/zero", tree.Path(uevent)); }, USB_PORT_PLC, "",
         "", true},
        {"idProduct a directory",
         [&] {
             std::filesystem::remove(tree.Path(base + "idProduct"));
             tree.Dir(base + "idProduct");
         },
         USB_PORT_UNREADABLE, "idProduct: a directory", "", false},
        {"a huge idVendor", [&] { text(base + "idVendor", v + "\n" + std::string(1 << 20, ' ')); },
         USB_PORT_UNREADABLE, "idVendor: longer than 4096 bytes", "", false},
        {"a huge uevent, DEVNAME beyond its first 4 KiB",
         [&] { text(uevent, std::string(8192, '#') + "\nDEVNAME=ttyACM8\n"); }, USB_PORT_PLC, "",
         "", true},
        {"idVendor and idProduct as one text",
         [&] {
             text(base + "idVendor", v + "&pid_0001\n");
             text(base + "idProduct", "ffff\n");
         },
         USB_PORT_NO_PLC, "", "", false},
        {"idVendor with a tail", [&] { text(base + "idVendor", v + "0\n"); }, USB_PORT_NO_PLC, "",
         "", false},
        {"idVendor with a head", [&] { text(base + "idVendor", "0" + v + "\n"); }, USB_PORT_NO_PLC,
         "", "", false},
        {"idProduct with a tail", [&] { text(base + "idProduct", "00010\n"); }, USB_PORT_NO_PLC, "",
         "", false},
        {"idProduct in three digits", [&] { text(base + "idProduct", "001\n"); }, USB_PORT_NO_PLC,
         "", "", false},
        {"idProduct with a tab", [&] { text(base + "idProduct", "0001\t"); }, USB_PORT_NO_PLC, "",
         "", false},
        {"idProduct with spaces", [&] { text(base + "idProduct", " 0001\n"); }, USB_PORT_NO_PLC, "",
         "", false},
        {"DEVNAME=tty", [&] { text(uevent, "DEVNAME=tty\n"); }, USB_PORT_PLC, "", "", true},
        {"DEVNAME=fd/0", [&] { text(uevent, "DEVNAME=fd/0\n"); }, USB_PORT_PLC, "", "", true},
        {"DEVNAME=../x", [&] { text(uevent, "DEVNAME=../x\n"); }, USB_PORT_PLC, "", "", true},
        {"DEVNAME=ttyACM8/..", [&] { text(uevent, "DEVNAME=ttyACM8/..\n"); }, USB_PORT_PLC, "", "",
         true},
        {"DEVNAME=..", [&] { text(uevent, "DEVNAME=..\n"); }, USB_PORT_PLC, "", "", true},
        {"DEVNAME=/dev/ttyACM8", [&] { text(uevent, "DEVNAME=/dev/ttyACM8\n"); }, USB_PORT_PLC, "",
         "", true},
        {"DEVNAME=pts/5", [&] { text(uevent, "DEVNAME=pts/5\n"); }, USB_PORT_PLC, "", "", true},
        {"DEVNAME=ttyACM", [&] { text(uevent, "DEVNAME=ttyACM\n"); }, USB_PORT_PLC, "", "", true},
        {"DEVNAME=ttyACM8x", [&] { text(uevent, "DEVNAME=ttyACM8x\n"); }, USB_PORT_PLC, "", "",
         true},
        {"DEVNAME=ttyS0", [&] { text(uevent, "DEVNAME=ttyS0\n"); }, USB_PORT_PLC, "", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(tree.Path("sys/bus/usb/devices"));
        platform::UnregisterAllVirtualLinks();
        Device("1-1", v, "0001", "ttyACM7");
        // Every name a hostile DEVNAME could reach is a link that tells when it was opened.
        for (const char* trap : TRAPS) Plug(trap);
        c.change();
        // A read that blocks ends the test here rather than hanging it.
        alarm(10);
        std::string why;
        EXPECT_EQ(UsbPortStateAt("1-1", &why), c.state);
        EXPECT_EQ(why.rfind(c.why, 0), 0u) << why;
        std::string opened;
        HANDLE h = OpenMyDevPipe("");
        for (const char* name : TRAPS) {
            auto* link = platform::FindVirtualLink(name);
            if (link != nullptr && link->IsOpen()) opened = name;
        }
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        EXPECT_EQ(opened, c.opened);
        EXPECT_EQ(ListUsbPlcs().size(), c.listed ? 1u : 0u);
        alarm(0);
        EXPECT_EQ(platform::OpenHandleCount(), 0);
    }
}

// An id denied to this user is said as such, not taken for no PLC. Root reads a file whatever
// its mode: the look is then made by a child that has become nobody.
TEST_F(UsbSysfsTest, AnIdDeniedIsUnreadable) {
    const uid_t NOBODY = 65534;
    Device("1-1", Vendor(), "0001", "ttyACM7");
    chmod(tree.Root().c_str(), 0755);
    chmod(tree.Path("sys/bus/usb/devices/1-1/idVendor").c_str(), 0);
    auto look = [] {
        std::string why;
        return UsbPortStateAt("1-1", &why) == USB_PORT_UNREADABLE &&
               why == "idVendor: Permission denied";
    };
    if (geteuid() != 0) {
        EXPECT_TRUE(look());
        return;
    }
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(setuid(NOBODY) == 0 && look() ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Under a root of PLCFW_SYSFS_ROOT a node is the link <root>/dev/<name>, as a simulator of USB
// PLCs presents one: taken, as the path it leads to, only where that is a pseudo-terminal or a
// USB serial node.
TEST_F(UsbSysfsTest, UnderATestRootANodeIsALinkToAPseudoTerminal) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string slave = ptsname(master);
    const std::string link = tree.Path("sys/dev/ttyACM7").string();
    setenv("PLCFW_SYSFS_ROOT", tree.Path("sys").c_str(), 1);
    SetUsbSysfsRoot(nullptr);
    Device("1-1", Vendor(), "0001", "ttyACM7");
    struct Case {
        std::string target;
        std::string device;
    } cases[] = {{slave, slave}, {"/dev/null", ""}, {"/dev/tty", ""}, {"/dev/zero", ""},
                 {"../bus", ""}, {"/dev/ptmx", ""}, {"missing", ""}};
    for (const Case& c : cases) {
        std::filesystem::remove(link);
        tree.Dir("sys/dev");
        std::filesystem::create_symlink(c.target, link);
        std::vector<UsbPlc> plcs = ListUsbPlcs();
        ASSERT_EQ(plcs.size(), 1u);
        EXPECT_EQ(plcs[0].device, c.device) << c.target;
    }
    unsetenv("PLCFW_SYSFS_ROOT");
    SetUsbSysfsRoot(tree.Path("sys").c_str());
    close(master);
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
