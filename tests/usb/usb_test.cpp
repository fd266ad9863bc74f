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

TEST(UsbPathMatches, LowerCaseVendorAndProductOnly) {
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
        {"\\\\?\\usb#VID_" + upperVendor + "&PID_0001#5&1a2b3c", false},
        {"\\\\?\\usb#vid_" + vendor + "&PID_0001#5&1a2b3c", false},
        {"\\\\?\\usb#vid_" + vendor + "#pid_0001", false},
        {"", false},
    };
    EXPECT_EQ(std::strlen(USB_MATCH_TEXT), 17u);
    for (const auto& c : cases) EXPECT_EQ(UsbPathMatches(c.path.c_str()), c.matches) << c.path;
    EXPECT_FALSE(UsbPathMatches(nullptr));
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
