#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstring>
#include <string>
#include <vector>

#include "device/device.h"
#include "tests/device/fake_tree.h"

namespace {

std::vector<std::string> Names(const PortList& list) {
    return std::vector<std::string>(list.names, list.names + list.count);
}

struct FriendlyCase {
    const char* friendlyName;
    bool listed;
    const char* port;
};

TEST(ParseFriendlyName, TakesThePortOutOfTheName) {
    const FriendlyCase cases[] = {
        {"Communications Port (COM1)", true, "COM1"},
        {"USB Serial Device (COM12)", true, "COM12"},
        {"Modem (COM4) (x)", true, "COM4"},  // ends at the first ")" after the port
        {"(COM7)", true, "COM7"},
        {"Dual (COM3) and (COM5)", true, "COM3"},  // the first "(COM" counts
        {"Foo (COMPUTER)", true, "COMPUTER"},      // a longer word fits the 9 characters
        {"Bar (COMMUNICATION)", false, ""},        // does not fit
        {"Port (COM123456)", true, "COM123456"},   // exactly 9 characters
        {"Port (COM1234567)", false, ""},          // 10 characters
        {"Port (COM3", false, ""},                 // no ")"
        {"Port (COM3 x) (y)", true, "COM3 x"},
        {"Port COM3)", false, ""},   // no "(COM"
        {"Port (com3)", false, ""},  // the search is case-sensitive
        {"Printer (LPT1)", false, ""},
        {"Mouse ) (COM2)", true, "COM2"},  // a ")" before the port is not its end
        {"", false, ""},
    };
    for (const auto& c : cases) {
        char port[PORT_NAME_BYTES];
        std::memset(port, 'z', sizeof port);
        EXPECT_EQ(ParseFriendlyName(c.friendlyName, port), c.listed) << c.friendlyName;
        EXPECT_STREQ(port, c.port) << c.friendlyName;
    }
}

TEST(ParseFriendlyName, NullNameListsNothing) {
    char port[PORT_NAME_BYTES] = "junk";
    EXPECT_FALSE(ParseFriendlyName(nullptr, port));
    EXPECT_STREQ(port, "");
}

TEST(ParseFriendlyNameBuffer, NamesAsLongAsTheBuffer) {
    struct Case {
        size_t padding;  // characters before " (COM5)"
        bool terminated;
        bool listed;
    };
    const size_t tail = std::strlen(" (COM5)");
    const Case cases[] = {
        {10, true, true},
        {FRIENDLY_NAME_BYTES - 1 - tail, true, true},  // fills the buffer with its NUL
        {FRIENDLY_NAME_BYTES - tail, false, false},    // no room left for the NUL
    };
    for (const auto& c : cases) {
        std::vector<char> buffer(FRIENDLY_NAME_BYTES + 16, 'q');
        std::string name = std::string(c.padding, 'a') + " (COM5)";
        std::memcpy(buffer.data(), name.data(), name.size());
        if (c.terminated) buffer[name.size()] = '\0';
        char port[PORT_NAME_BYTES];
        EXPECT_EQ(ParseFriendlyNameBuffer(buffer.data(), FRIENDLY_NAME_BYTES, port), c.listed)
            << c.padding;
        EXPECT_STREQ(port, c.listed ? "COM5" : "") << c.padding;
    }
}

TEST(AddPortSorted, SortsAsThePortListDoes) {
    struct Case {
        std::vector<const char*> added;
        std::vector<std::string> shown;
    };
    const Case cases[] = {
        {{"COM3", "COM10", "COM1"}, {"COM1", "COM10", "COM3"}},
        {{"ttyUSB0", "ttyACM0", "ttyS0"}, {"ttyACM0", "ttyS0", "ttyUSB0"}},
        {{"com2", "COM1", "Com3"}, {"COM1", "com2", "Com3"}},    // case does not count
        {{"COM4", "COM1234567", "", "COM2"}, {"COM2", "COM4"}},  // too long or empty: left out
    };
    for (const auto& c : cases) {
        PortList list{};
        for (const char* name : c.added) AddPortSorted(&list, name);
        EXPECT_EQ(Names(list), c.shown);
    }
}

TEST(AddPortSorted, AFullListTakesNoMore) {
    PortList list{};
    for (int i = 0; i < MAX_PORTS; ++i)
        EXPECT_TRUE(AddPortSorted(&list, ("COM" + std::to_string(i)).c_str()));
    EXPECT_FALSE(AddPortSorted(&list, "COM999"));
    EXPECT_EQ(list.count, MAX_PORTS);
}

TEST(ListUsbPort, HoldsExactlyUsb) {
    PortList list{};
    AddPortSorted(&list, "COM3");
    ListUsbPort(&list);
    EXPECT_EQ(Names(list), std::vector<std::string>{"USB"});
}

#ifndef _WIN32

class ListComPortsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetPortRoots(tree.Path("sys").c_str(), tree.Path("dev").c_str());
        tree.Dir("sys/class/tty");
        tree.Dir("dev");
    }
    void TearDown() override { SetPortRoots(nullptr, nullptr); }

    // A tty as sysfs shows it, and its node in /dev unless noNode.
    void Tty(const std::string& name, bool device, const char* type = nullptr,
             const char* driver = nullptr, bool noNode = false) {
        std::string dir = "sys/class/tty/" + name;
        tree.Dir(dir);
        if (device) {
            tree.Dir(dir + "/device");
            if (driver != nullptr)
                tree.Link(dir + "/device/driver",
                          tree.Path(std::string("sys/bus/") + driver).string());
        }
        if (type != nullptr) tree.File(dir + "/type", type);
        if (!noNode) tree.File("dev/" + name);
    }

    PortList List() {
        PortList list{};
        list.count = 99;
        ListComPorts(&list);
        return list;
    }

    plctest::FakeTree tree;
};

TEST_F(ListComPortsTest, ListsThePortsWithHardware) {
    Tty("ttyS0", true, "4\n");                  // a 16550A
    Tty("ttyS1", true, "0\n");                  // a placeholder without a UART
    Tty("ttyS2", false);                        // no device at all
    Tty("ttyS3", true, nullptr, "serial8250");  // placeholder, no type attribute
    Tty("ttyS4", true, nullptr, "pl011");       // a UART of another driver
    Tty("ttyS10", true, "1\n");
    Tty("ttyUSB0", true);
    Tty("ttyUSB3", true, nullptr, nullptr, true);  // no node in /dev: cannot be opened
    Tty("ttyACM1", true);
    Tty("ttyACM123456", true);  // 12 characters: longer than a port name
    Tty("tty0", false);
    Tty("console", false);
    Tty("ttyUSBx", true);  // not a port number
    // A type that is no file is not read (a FIFO would hold the listing up): the driver decides.
    Tty("ttyS5", true, nullptr, "serial8250");
    ASSERT_EQ(mkfifo(tree.Path("sys/class/tty/ttyS5/type").c_str(), 0600), 0);
    Tty("ttyS6", true, nullptr, "pl011");
    std::filesystem::create_symlink("/dev/zero", tree.Path("sys/class/tty/ttyS6/type"));
    alarm(10);  // a read that blocks ends the test rather than hanging it
    EXPECT_EQ(Names(List()), (std::vector<std::string>{"ttyACM1", "ttyS0", "ttyS10", "ttyS4",
                                                       "ttyS6", "ttyUSB0"}));
    alarm(0);
}

TEST_F(ListComPortsTest, NineCharactersFitTenDoNot) {
    Tty("ttyUSB123", true);
    Tty("ttyUSB1234", true);
    EXPECT_EQ(Names(List()), std::vector<std::string>{"ttyUSB123"});
}

TEST_F(ListComPortsTest, NoTtyClassGivesAnEmptyList) {
    SetPortRoots(tree.Path("nothing-here").c_str(), tree.Path("dev").c_str());
    EXPECT_EQ(List().count, 0);
}

TEST_F(ListComPortsTest, ListingTwiceNeitherDuplicatesNorKeepsOldEntries) {
    Tty("ttyUSB0", true);
    EXPECT_EQ(Names(List()), std::vector<std::string>{"ttyUSB0"});
    std::filesystem::remove_all(tree.Path("sys/class/tty/ttyUSB0"));
    Tty("ttyACM0", true);
    EXPECT_EQ(Names(List()), std::vector<std::string>{"ttyACM0"});
}

#endif

}  // namespace
