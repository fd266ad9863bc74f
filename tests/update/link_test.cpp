// Opening the link: the listed COM port, the USB device, the front end's path, and the
// message when none opens.
#include "tests/update/update_fixture.h"
#include "update/stages.h"

namespace plctest {
namespace {

class LinkOpen : public UpdateRun {};

struct OpenFailCase {
    const char* model;
    const char* port;      // selectedComPort
    const char* override;  // nullptr: none
    const char* message;
};

const OpenFailCase kOpenFailCases[] = {
    {"QM2-E", "COM3", nullptr, "CANNOT open COM3 Port!!!"},
    {"PN2", "", nullptr, "CANNOT open  Port!!!"},
    {"30TR2-AIO", "COM123456", nullptr, "CANNOT open COM123456 Port!!!"},
    {"QM2-C-V2", "COM10", nullptr, "CANNOT open COM10 Port!!!"},
    {"RP200", "USB", "nolink", "CANNOT open nolink Port!!!"},
    {"QM2-E", "COM3", "/nonexistent/dir/plc-link", "CANNOT open /nonexistent/dir/plc-link Port!!!"},
};

TEST_F(LinkOpen, FailureNamesTheLinkAndEndsBeforeTheLoop) {
    for (const OpenFailCase& c : kOpenFailCases) {
        SCOPED_TRACE(std::string(c.model) + " " + c.port);
        events.clear();
        states.clear();
        Select(c.model);
        UseImage(8192);
        SetSelectedComPort(c.port);
        SetLinkOverride(c.override);
        DirtyRunState();
        Run();
        EXPECT_EQ(Trace(), "DKME");
        ExpectError(LastMessage(), c.message);
        // The button comes back last, with the clock reset and the image released.
        EXPECT_EQ(AtEnable().elapsed, 0);
        EXPECT_EQ(AtEnable().loadedImages, 0);
        EXPECT_EQ(flashStatus, PROGRAM) << "only the elapsed time is reset";
        EXPECT_EQ(totalErrCounter, 11);
        EXPECT_EQ(platform::LoadedResourceCount(), 0);
        EXPECT_EQ(platform::OpenHandleCount(), 0);
    }
}

TEST_F(LinkOpen, LongOverridePathIsNamedWhole) {
    std::string path = "/nonexistent/" + std::string(400, 'p');
    Select("RP200");
    UseImage(8192);
    SetLinkOverride(path.c_str());
    Run();
    ExpectError(LastMessage(), "CANNOT open " + path + " Port!!!");
}

TEST_F(LinkOpen, ComPortsOpenByDeviceName) {
    const struct {
        const char* port;
        const char* device;
    } kNames[] = {{"COM1", "\\\\.\\COM1"},
                  {"COM9", "\\\\.\\COM9"},
                  {"COM10", "\\\\.\\COM10"},
                  {"COM256", "\\\\.\\COM256"}};
    for (const auto& n : kNames) EXPECT_EQ(ComDeviceName(n.port), n.device);
}

TEST_F(LinkOpen, OverrideOpensBareNamesAsDevicesAndPathsAsTheyAre) {
    const struct {
        const char* given;
        const char* opened;
    } kNames[] = {{"COM10", "\\\\.\\COM10"},
                  {"ttyUSB0", "\\\\.\\ttyUSB0"},
                  {"/dev/ttyUSB0", "/dev/ttyUSB0"},
                  {"/tmp/plc", "/tmp/plc"},
                  {"\\\\.\\COM3", "\\\\.\\COM3"},
                  {"C:\\links\\plc", "C:\\links\\plc"},
                  // longer than a listed port name may be: the whole name is opened
                  {"ttyUSB1234", "\\\\.\\ttyUSB1234"}};
    for (const auto& n : kNames) EXPECT_EQ(OverrideDeviceName(n.given), n.opened) << n.given;
}

TEST_F(LinkOpen, ListedComPortIsOpenedForComModels) {
    for (const char* port : {"COM3", "COM10", "COM42"}) {
        SCOPED_TRACE(port);
        platform::UnregisterAllVirtualLinks();
        auto plc = Plc(port, false);
        auto other = Plc("plc", false);
        Select("QM2-E");
        UseImage(8192);
        SetSelectedComPort(port);
        Run();
        EXPECT_EQ(plc->opens, 1);
        EXPECT_EQ(other->opens, 0);
        EXPECT_FALSE(plc->requests.empty());
    }
}

TEST_F(LinkOpen, OverrideReplacesTheListedPortAndTheUsbDevice) {
    for (const char* model : {"QM2-E", "RP200", "NV"}) {
        SCOPED_TRACE(model);
        platform::UnregisterAllVirtualLinks();
        auto listed = Plc("COM3", false);
        auto plc = Plc("my-plc");
        Select(model);
        UseImage(8192);
        SetSelectedComPort("COM3");
        Run();
        EXPECT_EQ(plc->opens, 1);
        EXPECT_EQ(listed->opens, 0);
    }
}

TEST_F(LinkOpen, ClearedOverrideGoesBackToTheListedPort) {
    auto listed = Plc("COM3", false);
    auto plc = Plc("my-plc");
    SetLinkOverride("");
    Select("QM2-E");
    UseImage(8192);
    SetSelectedComPort("COM3");
    Run();
    EXPECT_EQ(listed->opens, 1);
    EXPECT_EQ(plc->opens, 0);
}

static_assert(std::is_same_v<decltype(&StartBurn), void (*)(void*)>,
              "StartBurn is the worker thread's start routine");

}  // namespace
}  // namespace plctest
