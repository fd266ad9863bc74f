#include <fcntl.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "cli/command/exit_status.h"
#include "cli/port/port.h"
#include "cli/program/program.h"
#include "device/device.h"
#include "platform/resource_image.h"
#include "tests/device/fake_tree.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/scripted_peer.h"
#include "usb/usb.h"

namespace {

// Whether the name "localhost" resolves here (a minimal root may have no /etc/hosts entry).
bool LocalhostResolves() {
    addrinfo* found = nullptr;
    if (getaddrinfo("localhost", nullptr, nullptr, &found) != 0) return false;
    freeaddrinfo(found);
    return true;
}

const char EMBEDDED[] = "RP200_v1.14.10_20240103_01.bin";

// What the fake worker saw when the run started, and what it ends with.
struct Seen {
    int runs = 0;
    std::string model;
    std::string selectedPort;
    std::string override;
    bool overrideCleared = false;
    DWORD imageBytes = 0;
    const char* finalCaption = "INFORMATION";
    const char* finalText = "Firmware update is SUCCESSFUL";
    int32_t outcome = OUTCOME_SUCCESS;   // what the run records before its final message
    int32_t probeResult = NOT_REPORTED;  // where the run stands at its final message
    int32_t flashStatus = IDLE;
};
Seen gSeen;

void FakeOverride(const char* path) {
    if (path == nullptr || *path == '\0') {
        gSeen.override.clear();
        gSeen.overrideCleared = true;
    } else {
        gSeen.override = path;
    }
}

// A run as the worker makes it, without a PLC: the image, the button, the final message.
void FakeStartBurn(void* param) {
    auto* p = static_cast<ParamStruct*>(param);
    ++gSeen.runs;
    gSeen.model = plcList[selectedPLCIdx];
    char port[PORT_NAME_BYTES];
    GetSelectedComPort(port);
    gSeen.selectedPort = port;
    HRSRC res = FindResourceA(nullptr, MAKEINTRESOURCEA(8), "BIN");
    gSeen.imageBytes = SizeofResource(nullptr, res);
    EnableWindow(p->lParam, FALSE);
    KillTimer(p->hwnd, 5);
    plcReport.outcome = gSeen.outcome;
    plcReport.probeResult = gSeen.probeResult;
    flashStatus = gSeen.flashStatus;
    progress = gSeen.flashStatus == IDLE ? 0 : 42;
    MessageBoxA(p->hwnd, gSeen.finalText, gSeen.finalCaption, MB_OK);
    ResetRunState(p);
}

class CliMainTest : public ::testing::Test {
  protected:
    void SetUp() override {
        plctest::ResetSharedState();
        gSeen = Seen{};
        SetPortRoots(tree.Path("sys").c_str(), tree.Path("dev").c_str());
        SetUsbSysfsRoot(tree.Path("sys").c_str());
    }
    void TearDown() override {
        platform::UnregisterAllVirtualLinks();
        SetPortRoots(nullptr, nullptr);
        SetUsbSysfsRoot(nullptr);
        platform::UseEmbeddedResourceImage();
    }

    int Run(const std::vector<std::string>& args) {
        out.str("");
        err.str("");
        plccli::Io io{out, err, in, false};
        return plccli::Main(args, EMBEDDED, io, plccli::Engine{&FakeStartBurn, &FakeOverride});
    }

    // A serial port as sysfs and /dev show it.
    void SerialPort(const std::string& name) {
        tree.Dir("sys/class/tty/" + name + "/device");
        tree.File("dev/" + name);
    }

    plctest::FakeTree tree;
    std::ostringstream out, err;
    std::istringstream in;
};

TEST_F(CliMainTest, UsageErrorsExitTwoFileErrorsOneWithOneLineAndNoRun) {
    tree.File("empty_1.bin");
    tree.File("QM2-E_tiny.bin", std::string(100, '\x5A'));
    tree.Dir("QM2-E_dir.bin");
    tree.File("QM2-E_1.hex", ":10000000000102030405060708090A0B0C0D0E0F78\r\n:00000001FF\r\n");
    std::filesystem::create_symlink("loop.bin", tree.Path("loop.bin"));  // a link to itself
    const int USAGE = plccli::EXIT_USAGE, FAILED = plccli::EXIT_FAILED;
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{"--bogus"}, USAGE},
        {{"--port"}, USAGE},
        {{"--port", "rfc2217://127.0.0.1:99999"}, USAGE},
        {{"--port", "tcp://127.0.0.1"}, USAGE},
        {{"--model", "RP2000"}, USAGE},
        {{"--image", "/no/such/dir/QM2-E_1.bin"}, FAILED},
        {{"--image", "/no/such/dir/nosuch.bin"}, FAILED},  // names no model either
        {{"--image", tree.Path("empty_1.bin").parent_path().string()}, FAILED},
        {{"--image", tree.Path("empty_1.bin").string(), "--model", "QM2-E"}, FAILED},
        {{"--image", tree.Path("QM2-E_dir.bin").string()}, FAILED},
        {{"--image", tree.Path("QM2-E_tiny.bin").string()}, FAILED},
        {{"--image", tree.Path("QM2-E_1.hex").string(), "--info"}, FAILED},
        {{"--image", tree.Path("loop.bin").string()}, FAILED},  // said as such, not as no model
        {{"--trace", "/no/such/dir/trace.log"}, FAILED},
        {{"--record", "/no/such/dir/runs.jsonl"}, FAILED},  // before any link is opened
        {{"--model", "QM2-E"}, USAGE},                      // no serial port to take
        {{"--model", "NOPE", "--list-ports"}, USAGE},
        {{"stray"}, USAGE},
        {{"--port", "a", "--port", "b"}, USAGE},      // nobody to answer the prompts without --yes
        {{"--station", "--port", "ttyUSB0"}, USAGE},  // nor a question at each PLC
        {{"--port", "a", "--port", "b", "--yes", "--info"}, USAGE},
        {{"--ports-from", "/no/such/dir/ports", "--yes"}, USAGE},
        {{"--ports-from", tree.Path("empty_1.bin").string(), "--yes"}, USAGE},
        {{"--port", "a", "--port", "b", "--yes", "--trace", "t.log"}, USAGE},
        {{"--port", "a", "--port", "b", "--yes", "--image", "/no/such/dir/QM2-E_1.bin"}, FAILED},
        {{"--port", "a", "--port", "b", "--yes", "--record", "/no/such/dir/runs.jsonl"}, FAILED},
    };
    tree.Dir("dir_1.bin");
    for (const auto& [args, status] : cases) {
        EXPECT_EQ(Run(args), status) << args[0] << ' ' << (args.size() > 1 ? args[1] : "");
        std::string e = err.str();
        EXPECT_EQ(std::count(e.begin(), e.end(), '\n'), 1) << e;
        EXPECT_EQ(e.rfind("plcfwupdate: ", 0), 0u) << e;
        EXPECT_EQ(e.find("(see --help)") != std::string::npos, status == USAGE) << e;
    }
    EXPECT_EQ(gSeen.runs, 0);
    Run({"--image", "/no/such/dir/nosuch.bin"});
    EXPECT_NE(err.str().find("'/no/such/dir/nosuch.bin': no such file\n"), std::string::npos)
        << err.str();
}

// Several ports are checked before any port's process starts. Without --yes a run that passes
// the checks stops at that refusal instead, so no case here starts a process.
TEST_F(CliMainTest, SeveralPortsRefusedWithWhereAndWhy) {
    using namespace std::string_literals;
    tree.File("dev0");
    std::filesystem::create_symlink(tree.Path("dev0"), tree.Path("alias0"));
    const std::string dev0 = tree.Path("dev0").string(), alias0 = tree.Path("alias0").string();
    const std::string file = tree.Path("ports.txt").string();
    const std::string noYes = "add --yes", same = ") are the same device; name each PLC once";
    struct Case {
        std::string file;  // the --ports-from file's content; none when empty
        std::vector<std::string> args;
        std::string said;
        int usbPlcs = 0;  // USB-attached PLCs plugged in: at usb:1-4.2 (ttyACM7), then usb:1-1
    };
    // A ports file of 1 MiB and extra bytes: a port, then comment lines.
    auto OneMiB = [](size_t extra) {
        std::string text = "a\n";
        while (text.size() + 64 < (1u << 20)) text += std::string(63, '#') + "\n";
        return text + std::string((1u << 20) - text.size() - 1 + extra, '#') + "\n";
    };
    std::vector<Case> cases = {
        {"a\n# b\n--trace=t.log\n", {}, file + ":3: '--trace=t.log' is an option"},
        {"a\nb\0c\n"s, {}, file + ":2: the line holds a NUL byte"},
        {"a\x1b[2J\n", {}, file + ":1: the line holds a control character (0x1b)"},
        {"ttyS0 ttyS1\n", {}, file + ":1: 'ttyS0 ttyS1' is not a port name"},
        {"\n\nudp://h:1\n", {}, file + ":3: 'udp://h:1' is not a port name"},
        {"tcp://h\n", {}, file + ":1: tcp://h: no port number"},
        {"", {"--port=--yes", "--port", "a"}, "--port: '--yes' is an option"},
        {"",
         {"--port", "null", "--port", "/dev/null"},
         "the ports null (--port) and /dev/null (--port) are the same device"},
        {"# PLC 2\n" + alias0 + "\n",
         {"--port", dev0},
         "the ports " + dev0 + " (--port) and " + alias0 + " (" + file + ":2) are the same device"},
        {"a\n", {"--port", "a"}, "the port a is named twice (--port, " + file + ":1)"},
        {"", {"--ports-from", "/dev/zero"}, "the ports file '/dev/zero': not a regular file"},
        // What passes the checks: a Windows editor's byte order mark, distinct devices.
        {"\xEF\xBB\xBF/dev/zero\n", {"--port", "/dev/null"}, noYes},
        {"", {"--port", dev0, "--port", "/dev/null", "--port", "tcp://127.0.0.1:1"}, noYes},
        {"a\n-q\n", {}, file + ":2: '-q' is an option"},
        {"a\nttyS\x7f\n", {}, file + ":2: the line holds a control character (0x7f)"},
        {"a\n" + std::string(900 * 1024, 'x') + "\n",
         {},
         file + ":2: the line is 921600 bytes long; a port name has at most 4096"},
        {OneMiB(0), {}, noYes},
        {OneMiB(1), {}, "the ports file '" + file + "': larger than 1 MiB"},
        // One network device by any spelling of its address, over either scheme.
        {"", {"--port", "tcp://127.0.0.1:39825", "--port", "rfc2217://127.1:039825"}, same},
        {"", {"--port", "tcp://[::ffff:127.0.0.1]:39825", "--port", "tcp://127.0.0.1:39825"}, same},
        {"", {"--port", "tcp://127.0.0.1:39825", "--port", "tcp://127.0.0.1:39826"}, noYes},
        // A USB-attached PLC by the port it is plugged into: one port in any case of its prefix.
        {"", {"--port", "usb:1-1", "--port", "USB:1-1"}, same},
        {"usb:1-2.\n", {"--port", "a"}, file + ":1: usb:1-2.: a location is a USB port path"},
        // USB is the only USB-attached PLC present: one PLC under two of its names is refused,
        // and with several present USB names none, as a single run says.
        {"", {"--port", "USB", "--port", "usb:1-4.2"}, "the ports USB (--port) and usb:1-4.2", 1},
        {"", {"--port", "usb:1-4.2", "--port", "usb"}, "the ports usb:1-4.2 (--port) and usb", 1},
        {"USB\n",
         {"--port", "/dev/ttyACM7"},
         "the ports /dev/ttyACM7 (--port) and USB (" + file,
         1},
        {"", {"--port", "USB", "--port", "Usb"}, "the ports USB (--port) and Usb (--port) are the"},
        {"",
         {"--port", "USB", "--port", "usb:1-4.2"},
         "2 PLCs are plugged in by USB: usb:1-1 (/dev/ttyACM8), usb:1-4.2 (/dev/ttyACM7); name "
         "one with --port usb:LOCATION",
         2},
        {"usb:1-1\nUSB\n", {"--station"}, "2 PLCs are plugged in by USB: usb:1-1", 2},
        {"",
         {"--port", "USB", "--port", "a"},
         "--port USB: QM2-E is reached through a serial port"},
        {"",
         {"--port", "usb:1-1", "--port", "usb:1-2"},
         "--port usb:1-1: QM2-E is reached through a serial port, not USB"},
    };
    // The loopback address by its name, where the machine has one for it (a minimal root may not).
    if (LocalhostResolves()) {
        cases.push_back({"a\ntcp://LOCALHOST:1\ntcp://localhost:1\n",
                         {},
                         "the ports tcp://LOCALHOST:1 (" + file + ":2) and tcp://localhost:1"});
        cases.push_back(
            {"", {"--port", "tcp://127.0.0.1:39825", "--port", "tcp://localhost:39825"}, same});
    } else {
        std::cout << "skipped: the rows that spell 127.0.0.1 as 'localhost': the name does not "
                     "resolve on this machine\n";
    }
    // Two device nodes of one device (two file systems' nodes of the pseudo-terminal master).
    if (std::filesystem::exists("/dev/pts/ptmx"))
        cases.push_back({"", {"--port", "/dev/ptmx", "--port", "/dev/pts/ptmx"}, same});
    for (auto& c : cases) {
        std::filesystem::remove_all(tree.Path("sys/bus/usb/devices"));
        for (int i = 0; i < c.usbPlcs; ++i) {
            std::string location = i == 0 ? "1-4.2" : "1-1";
            std::string device = "sys/bus/usb/devices/" + location;
            tree.File(device + "/idVendor", std::string(USB_MATCH_TEXT).substr(4, 4) + "\n");
            tree.File(device + "/idProduct", "0001\n");
            tree.Dir(device + "/" + location + ":1.0/tty/ttyACM" + std::to_string(7 + i));
        }
        if (!c.file.empty()) {
            tree.File("ports.txt", c.file);
            c.args.insert(c.args.end(), {"--ports-from", file});
        }
        c.args.insert(c.args.end(), {"--model", "QM2-E"});
        EXPECT_EQ(Run(c.args), plccli::EXIT_USAGE) << c.said;
        EXPECT_NE(err.str().find(c.said), std::string::npos) << err.str();
    }
    EXPECT_EQ(gSeen.runs, 0);
}

TEST_F(CliMainTest, HelpAndVersionDoNotRun) {
    EXPECT_EQ(Run({"--help"}), 0);
    EXPECT_NE(out.str().find("--list-ports"), std::string::npos);
    EXPECT_EQ(Run({"--version"}), 0);
    EXPECT_NE(out.str().find(EMBEDDED), std::string::npos);
    // Under a header, each model with its largest image: the limits without the simulator.
    EXPECT_EQ(Run({"--list-models"}), 0);
    EXPECT_EQ(out.str().rfind("# model         id      link      largest image (bytes)\n", 0), 0u)
        << out.str();
    EXPECT_NE(out.str().find("\nQM2-E           0x0017  COM port  917504\n"), std::string::npos)
        << out.str();
    EXPECT_EQ(gSeen.runs, 0);
}

TEST_F(CliMainTest, ListPortsFollowsTheModelsLink) {
    SerialPort("ttyUSB1");
    SerialPort("ttyACM0");
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        // The embedded RP200 is USB-attached.
        {{"--list-ports"},
         "USB\tabsent: no USB device with vid_1209&pid_0001 is present; plug in the PLC's USB "
         "cable\n"},
        {{"--list-ports", "--model", "QM2-E"}, "ttyACM0\nttyUSB1\n"},
        {{"--list-ports", "--image", "/x/DK2_1.bin"}, "ttyACM0\nttyUSB1\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Run(c.args), 0);
        EXPECT_EQ(out.str(), c.out);
    }
    // The PLC plugged in: its tty node.
    std::string device = "sys/bus/usb/devices/1-2";
    tree.File(device + "/idVendor", std::string(USB_MATCH_TEXT).substr(4, 4) + "\n");
    tree.File(device + "/idProduct", "0001\n");
    tree.Dir(device + "/1-2:1.0/tty/ttyACM7");
    platform::RegisterVirtualLink("ttyACM7", std::make_shared<plctest::ScriptedPeer>());
    EXPECT_EQ(Run({"--list-ports"}), 0);
    EXPECT_EQ(out.str(), "USB\t/dev/ttyACM7\nusb:1-2\t/dev/ttyACM7\n");
    // A second one plugged in: each by its port, and USB alone names neither.
    device = "sys/bus/usb/devices/1-1.4";
    tree.File(device + "/idVendor", std::string(USB_MATCH_TEXT).substr(4, 4) + "\n");
    tree.File(device + "/idProduct", "0001\n");
    tree.Dir(device + "/1-1.4:1.0/tty/ttyACM8");
    EXPECT_EQ(Run({"--list-ports"}), 0);
    EXPECT_EQ(out.str(),
              "USB\t2 PLCs present: name one by its usb: port below\nusb:1-1.4\t/dev/ttyACM8\n"
              "usb:1-2\t/dev/ttyACM7\n");
    EXPECT_EQ(Run({"--yes"}), plccli::EXIT_USAGE);
    EXPECT_NE(err.str().find("2 PLCs are plugged in by USB: usb:1-1.4 (/dev/ttyACM8), usb:1-2 "
                             "(/dev/ttyACM7); name one with --port usb:LOCATION"),
              std::string::npos)
        << err.str();
    EXPECT_EQ(gSeen.runs, 0);
}

// A usb: name as --list-ports prints it, to be pasted into cmd, PowerShell or a POSIX shell.
TEST(ShellWord, QuotesANameThatAShellWouldSplit) {
    const struct {
        const char* name;
        const char* word;
    } cases[] = {
        {"usb:1-2.3", "usb:1-2.3"},
        {"COM3", "COM3"},
        {"\\\\.\\COM10", "\\\\.\\COM10"},
        {"usb:PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)",
         "\"usb:PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)\""},
        {"usb:Port_#0002.Hub_#0001", "\"usb:Port_#0002.Hub_#0001\""},
        {"usb:Port 2 & 3", "\"usb:Port 2 & 3\""},
        {"usb:a;b", "\"usb:a;b\""},
    };
    for (const auto& c : cases) EXPECT_EQ(plccli::ShellWord(c.name), c.word) << c.name;
}

TEST_F(CliMainTest, ThePortOfTheRun) {
    SerialPort("ttyS4");
    SerialPort("ttyUSB0");
    std::filesystem::create_directories(tree.Path("sys/class/tty/ttyS4"));
    tree.File("sys/class/tty/ttyS4/type", "4");
    struct Case {
        std::vector<std::string> args;
        std::string model, selectedPort, override;
    };
    const Case cases[] = {
        {{}, "RP200", "USB", ""},
        {{"--port", "/tmp/sim/plc"}, "RP200", "USB", "/tmp/sim/plc"},
        {{"--port", "ttyACM3"}, "RP200", "USB", "ttyACM3"},  // a USB-attached model by name
        {{"--model", "QM2-E", "--port", "ttyUSB0"}, "QM2-E", "ttyUSB0", ""},
        {{"--model", "QM2-E", "--port", "/tmp/sim/plc"}, "QM2-E", "plc", "/tmp/sim/plc"},
        {{"--model", "QM2-E", "--port", "/tmp/sim/averylongname"},
         "QM2-E",
         "",
         "/tmp/sim/averylongname"},
        {{"--model", "QM2-E", "--port", "ttyUSB12345"}, "QM2-E", "", "ttyUSB12345"},
    };
    // The names stand for ports that open.
    for (const char* name :
         {"/tmp/sim/plc", "ttyACM3", "ttyUSB0", "/tmp/sim/averylongname", "ttyUSB12345"})
        platform::RegisterVirtualLink(name, std::make_shared<plctest::ScriptedPeer>());
    for (const auto& c : cases) {
        gSeen.overrideCleared = false;
        EXPECT_EQ(Run(c.args), 0) << err.str();
        EXPECT_EQ(gSeen.model, c.model);
        EXPECT_EQ(gSeen.selectedPort, c.selectedPort);
        EXPECT_EQ(gSeen.override, c.override);
        EXPECT_TRUE(gSeen.overrideCleared) << "an override of an earlier run must not stay";
    }
}

// A pseudo-terminal: a terminal device that exists only while the test holds it.
struct Pty {
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) name = ptsname(master);
    }
    ~Pty() {
        if (master >= 0) close(master);
    }
    int master = -1;
    std::string name;
};

TEST_F(CliMainTest, APortThatIsNoFreeTerminalIsRefusedBeforeAnyByte) {
    Pty held, free;
    ASSERT_FALSE(held.name.empty());
    int holder = open(held.name.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);  // as another run holds it
    tree.File("QM2-E_1.bin", "");
    tree.Dir("dir");
    struct Case {
        std::string port;
        std::string reason;  // "": accepted
    };
    const std::string list = "; see --list-ports for the ports present";
    const Case cases[] = {
        {tree.Path("QM2-E_1.bin").string(),
         ": a regular file, not a serial port; nothing was written to it" + list},
        {tree.Path("dir").string(),
         ": a directory, not a serial port; nothing was written to it" + list},
        {tree.Path("missing").string(), ": no such port" + list},
        {"ttyNOSUCH9", ": no such port" + list},
        {"COM3",
         ": no such port; COM3 is a Windows name: serial ports on Linux are /dev/ttyS*, "
         "/dev/ttyUSB*, /dev/ttyACM* (see --list-ports)"},
        {"/dev/null", ": not a serial port (no terminal device)" + list},
        {held.name,
         ": the port is in use by another program (another plcfwupdate?); end that "
         "program or choose another port"},
        {free.name, ""},
        {"tcp://192.0.2.1:4001", ""},
        {"rfc2217://plc.example:2217", ""},
    };
    for (const auto& c : cases) {
        gSeen.runs = 0;
        int status = Run({"--model", "QM2-E", "--port", c.port, "--yes"});
        if (c.reason.empty()) {
            EXPECT_EQ(status, 0) << c.port << out.str();
            EXPECT_EQ(gSeen.runs, 1) << c.port;
            continue;
        }
        EXPECT_EQ(status, plccli::EXIT_FAILED) << c.port;
        EXPECT_EQ(gSeen.runs, 0) << c.port;
        std::string path = c.port.find('/') == std::string::npos ? "/dev/" + c.port : c.port;
        EXPECT_EQ(out.str(), "[ERROR] CANNOT open " + c.port + " Port!!!\nplcfwupdate: " + path +
                                 c.reason + "\n");
    }
    EXPECT_EQ(std::filesystem::file_size(tree.Path("QM2-E_1.bin")), 0u);
    close(holder);
}

TEST_F(CliMainTest, WithoutPortOnlyTheOnePortPresentIsTaken) {
    struct Case {
        std::vector<std::string> serialPorts;
        std::vector<std::string> args;
        int status;
        std::string said;  // on the standard error
    };
    const Case cases[] = {
        {{}, {"--model", "QM2-E"}, 2, "no serial port found"},
        {{"ttyUSB0"}, {"--model", "QM2-E"}, 0, "link ttyUSB0 (the only serial port present)"},
        {{"ttyUSB0", "ttyUSB1"},
         {"--model", "QM2-E"},
         2,
         "several serial ports are present (ttyUSB0, ttyUSB1): name the PLC's with --port"},
        {{"ttyUSB0", "ttyUSB1"}, {"--port", "usb"}, 0, "link the PLC's USB device"},
        {{"ttyUSB0"}, {"--model", "QM2-E", "--port", "USB"}, 2, "reached through a serial port"},
    };
    for (const auto& c : cases) {
        plctest::FakeTree ports;
        SetPortRoots(ports.Path("sys").c_str(), ports.Path("dev").c_str());
        for (const auto& name : c.serialPorts) {
            ports.Dir("sys/class/tty/" + name + "/device");
            ports.File("dev/" + name);
        }
        gSeen.runs = 0;
        EXPECT_EQ(Run(c.args), c.status) << c.said;
        EXPECT_NE(err.str().find(c.said), std::string::npos) << err.str();
        EXPECT_EQ(gSeen.runs, c.status == 0 ? 1 : 0) << c.said;
    }
}

TEST_F(CliMainTest, AFailureIsFollowedByWhatToDo) {
    tree.File("QM2-E_big.bin", std::string(1048576, '\x5A'));
    SerialPort("ttyUSB0");
    struct Case {
        std::vector<std::string> args;
        const char* finalText;
        int32_t probeResult, flashStatus;
        std::string next;  // the line after the final message
    };
    const Case cases[] = {
        {{},
         "CANNOT open USB Port!!!",
         NOT_REPORTED,
         IDLE,
         "plcfwupdate: USB: no USB device with " + std::string(USB_MATCH_TEXT) +
             " is present; plug in the PLC's USB cable"},
        {{"--image", tree.Path("QM2-E_big.bin").string()},
         "The file size EXCEEDS the MAXIMUM size (128 * 1024 * 7)",
         NOT_REPORTED,
         IDLE,
         "plcfwupdate: the image is 1048576 bytes; QM2-E takes at most 917504 bytes"},
        {{"--model", "QM2-E"},
         "NO RESPONSE @ State 1",
         ERR | NORESPONSE,
         IDLE,
         "plcfwupdate: hint: no answer from the PLC on ttyUSB0: check the cable, that the PLC "
         "is powered, that this is its port (see --list-ports), and that QM2-E is reached "
         "through a serial port"},
        {{"--model", "QM2-E"},
         "Firmware update is FAILED",
         ACK,
         PROGRAM,
         "plcfwupdate: failed during Programming at 42%: the PLC's flash is erased and partly "
         "written, and the PLC stays in its bootloader. Running the same command again "
         "completes the update."},
    };
    for (const auto& c : cases) {
        gSeen.finalCaption = "ERROR";
        gSeen.finalText = c.finalText;
        gSeen.outcome = OUTCOME_FAILURE;
        gSeen.probeResult = c.probeResult;
        gSeen.flashStatus = c.flashStatus;
        EXPECT_EQ(Run(c.args), plccli::EXIT_FAILED) << c.finalText;
        EXPECT_EQ(out.str(), "[ERROR] " + std::string(c.finalText) + "\n" + c.next + "\n");
    }
}

// The size comes from the file's metadata: a file larger than the model takes is never read, and
// the run is handed a size over the maximum, so that its own size check ends the case (the
// engine's tests pin that end). One that is plainly no image (shorter than a block) is written
// only with --force.
TEST_F(CliMainTest, AnImageIsCheckedBeforeItIsRead) {
    SerialPort("ttyUSB0");
    struct Case {
        uint64_t bytes;
        std::vector<std::string> args;
        int status;        // the fake run ends in success: the status says the rest
        DWORD runGets;     // the image size the run is given; 0: refused before any run
        std::string said;  // then the standard error's line
    };
    const DWORD over = 917505;
    const Case cases[] = {
        {917504, {}, 0, 917504, ""},
        {917505, {}, 0, over, ""},
        {64 << 20, {}, 0, over, ""},
        // --info tells the verdict from the file's own size.
        {64 << 20, {"--info"}, plccli::EXIT_WOULD_STOP, over, ""},
        // A station that can write no unit ends at once with the one run.
        {64 << 20, {"--station", "--port", "ttyUSB0"}, 0, over, ""},
        // Beyond 32 bits: cut to its low bits, 4 GiB + 1000 bytes would look small.
        {(4ull << 30) + 1000, {}, 0, over, ""},
        {127, {}, 1, 0, "127 bytes, shorter than one block (128 bytes) of QM2-E"},
        {127, {"--force"}, 0, 127, ""},
        {128, {}, 0, 128, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.bytes) + (c.args.empty() ? "" : " " + c.args[0]));
        std::filesystem::remove(tree.Path("QM2-E_1.bin"));
        tree.File("QM2-E_1.bin");
        std::filesystem::resize_file(tree.Path("QM2-E_1.bin"), c.bytes);  // sparse: no disk
        gSeen.runs = 0;
        std::vector<std::string> args = {"--image", tree.Path("QM2-E_1.bin").string()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(Run(args), c.status) << err.str();
        EXPECT_EQ(gSeen.runs, c.runGets == 0 ? 0 : 1);
        if (c.runGets != 0) {
            EXPECT_EQ(gSeen.imageBytes, c.runGets);
        }
        EXPECT_NE(err.str().find(c.said), std::string::npos) << err.str();
    }
}

TEST_F(CliMainTest, ImageFileGoesBehindTheResourceCalls) {
    tree.File("QM2-E_v1.bin", std::string(12345, '\x5A'));
    SerialPort("ttyUSB0");
    EXPECT_EQ(Run({"--image", tree.Path("QM2-E_v1.bin").string()}), 0) << err.str();
    EXPECT_EQ(gSeen.model, "QM2-E");
    EXPECT_EQ(gSeen.imageBytes, 12345u);
    // The next run without --image has the embedded image again (none in this test program).
    static const uint8_t other[3] = {1, 2, 3};
    platform::SetResourceImage(other, sizeof other);
    EXPECT_EQ(Run({}), 0);
    size_t embedded = 99;
    platform::EmbeddedImage(&embedded);
    EXPECT_EQ(gSeen.imageBytes, embedded);
}

// The exit status follows the outcome the run records, whatever its message says.
TEST_F(CliMainTest, TheRunsOutcomeGivesTheExitStatus) {
    struct Case {
        const char* caption;
        const char* text;
        int status;
    };
    const Case cases[] = {
        {"Information", "Firmware update is SUCCESSFUL!, please REPLUG the USB cable", 0},
        {"INFORMATION", "Firmware update is SUCCESSFUL", 0},
        {"ERROR", "Firmware update is FAILED", 1},
        {"ERROR", "PLC in RUN MODE", 1},
        {"ERROR", "CANNOT open USB Port!!!", 1},
        {"INFORMATION", "Firmware update is SUCCESSFUL, reworded", 0},
    };
    for (const auto& c : cases) {
        gSeen.finalCaption = c.caption;
        gSeen.finalText = c.text;
        gSeen.outcome = c.status == 0 ? OUTCOME_SUCCESS : OUTCOME_FAILURE;
        EXPECT_EQ(Run({}), c.status) << c.text;
        EXPECT_NE(out.str().find(std::string("[") + c.caption + "] " + c.text + "\n"),
                  std::string::npos)
            << out.str();
    }
}

// A success whose record line or trace is not written whole exits 3, each on its own.
TEST_F(CliMainTest, ASuccessThatIsNotRecordedWholeExitsThree) {
    SerialPort("ttyUSB0");
    for (std::string file : {"record", "trace"}) {
        EXPECT_EQ(Run({"--" + file, "/dev/full"}), plccli::EXIT_NOT_RECORDED) << file;
        EXPECT_NE(err.str().find("plcfwupdate: cannot write the " + file +
                                 " file '/dev/full': No space left on device"),
                  std::string::npos)
            << err.str();
    }
}

}  // namespace
