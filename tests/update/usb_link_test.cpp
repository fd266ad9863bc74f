// USB-attached models reached through their USB device, as the run finds it without a path
// from the front end: a fake sysfs tree names the tty node, a virtual link of that name is the
// PLC. Unplugging and replugging during the prompt moves the PLC to another node.
#include <filesystem>

#include "tests/device/fake_tree.h"
#include "tests/update/update_fixture.h"
#include "usb/usb.h"

namespace plctest {
namespace {

#define REPLUG "Please REPLUG the USB Cable, and then press OK to continue"
#define SUCCESS_USB "Firmware update is SUCCESSFUL!, please REPLUG the USB cable"

class UsbDevice : public UpdateRun {
  public:
    void SetUp() override {
        UpdateRun::SetUp();
        tree = std::make_unique<FakeTree>();
        tree->Dir("sys/bus/usb/devices");
        SetUsbSysfsRoot(tree->Path("sys").c_str());
    }
    void TearDown() override {
        SetUsbSysfsRoot(nullptr);
        tree.reset();
        UpdateRun::TearDown();
    }

    // The PLC's device on bus port `port`, its first interface bound to the tty `node`.
    void Plug(const std::string& port, const std::string& node,
              const std::string& vendor = std::string(USB_MATCH_TEXT).substr(4, 4)) {
        std::string base = "sys/bus/usb/devices/" + port;
        tree->File(base + "/idVendor", vendor + "\n");
        tree->File(base + "/idProduct", "0001\n");
        tree->Dir(base + "/" + port + ":1.0/tty/" + node);
    }
    void Unplug(const std::string& port) {
        std::filesystem::remove_all(tree->Path("sys/bus/usb/devices/" + port));
    }

    std::unique_ptr<FakeTree> tree;
};

TEST_F(UsbDevice, NoPlcDeviceGivesCannotOpenUsb) {
    const struct {
        const char* what;
        std::function<void(UsbDevice&)> setup;
    } kCases[] = {
        {"nothing plugged", [](UsbDevice&) {}},
        {"another vendor", [](UsbDevice& t) { t.Plug("1-1", "ttyACM0", "abcd"); }},
        {"node that does not open", [](UsbDevice& t) { t.Plug("1-1", "ttyACM77"); }},
    };
    for (const auto& c : kCases) {
        for (const char* model : {"RP200", "NV", "NV26", "RP200-AIO", "RP200-Z"}) {
            SCOPED_TRACE(std::string(c.what) + " " + model);
            events.clear();
            states.clear();
            platform::UnregisterAllVirtualLinks();
            Unplug("1-1");
            Plc("ttyACM0", false);
            c.setup(*this);
            Select(model);
            UseImage(8192);
            SetSelectedComPort("USB");
            DirtyRunState();
            Run();
            EXPECT_EQ(Trace(), "DKME");
            ExpectError(LastMessage(), "CANNOT open USB Port!!!");
            EXPECT_EQ(AtEnable().elapsed, 0);
            EXPECT_EQ(platform::OpenHandleCount(), 0);
            EXPECT_EQ(platform::LoadedResourceCount(), 0);
        }
    }
}

TEST_F(UsbDevice, WholeRunAcrossTheReplug) {
    for (const char* model : {"RP200", "NV", "RP100"}) {
        SCOPED_TRACE(model);
        events.clear();
        states.clear();
        platform::UnregisterAllVirtualLinks();
        Unplug("1-2");
        Select(model);
        UseImage(8192);
        SetSelectedComPort("USB");
        auto app = Plc("ttyACM0", false);
        app->Application(selectedPLCID);
        app->On(FRAME_PROBE, Reply19(ENQ));
        auto boot = Plc("ttyACM1", false);
        boot->On(FRAME_PROBE, Reply19(ACK));
        boot->Bootloader(selectedPLCID);
        Plug("1-2", "ttyACM0");
        // The operator unplugs the cable and plugs it in again: the PLC comes back on a new node.
        onMessage = [this](const FrontEndEvent& e) {
            if (e.text != REPLUG) return;
            Unplug("1-2");
            Plug("1-2", "ttyACM1");
        };
        Run();
        std::vector<std::string> expected = {REPLUG, SUCCESS_USB};
        EXPECT_EQ(MessageTexts(), expected);
        EXPECT_EQ(app->Count(FRAME_ENTER_BOOT), 1);
        EXPECT_EQ(app->Count("ID"), 0);
        EXPECT_EQ(boot->Count("ID"), 1);
        EXPECT_EQ(boot->Count(FRAME_ID), 0);
        bool keepsLastPage = !SelectedPLCIs("NV");
        EXPECT_EQ(boot->flash.size(), keepsLastPage ? 8192u - 4096u : 8192u);
        ExpectFullRunEnd();
    }
}

// The bootloader's device appears at the PLC's port 3 s after the replug pause (its driver was
// being installed): the run waits for it and goes on there.
TEST_F(UsbDevice, ADeviceThatAppearsLateAfterTheReplugIsWaitedFor) {
    Select("RP200");
    UseImage(8192);
    SetSelectedComPort("USB");
    auto app = Plc("ttyACM0", false);
    app->Application(selectedPLCID);
    app->On(FRAME_PROBE, Reply19(ENQ));
    auto boot = Plc("ttyACM1", false);
    boot->On(FRAME_PROBE, Reply19(ACK));
    boot->Bootloader(selectedPLCID);
    Plug("1-2", "ttyACM0");
    onMessage = [this](const FrontEndEvent& e) {
        if (e.text == REPLUG) Unplug("1-2");
    };
    int waits = 0;
    platform::SetLinkEventTrace([&](const platform::LinkEvent& e, uint64_t) {
        if (e.kind == platform::LinkEventKind::Pause && e.pauseMs == 500 && ++waits == 6)
            Plug("1-2", "ttyACM1");
    });
    Run();
    platform::SetLinkEventTrace(nullptr);
    std::vector<std::string> expected = {REPLUG, SUCCESS_USB};
    EXPECT_EQ(MessageTexts(), expected);
    EXPECT_EQ(waits, 6);
    EXPECT_EQ(boot->Count("ID"), 1);
    ExpectFullRunEnd();
}

TEST_F(UsbDevice, PlcNotBackAfterTheReplugEndsOnTheProbe) {
    Select("RP200");
    UseImage(8192);
    auto app = Plc("ttyACM0", false);
    app->Application(0x3010);
    Plug("1-1", "ttyACM0");
    onMessage = [this](const FrontEndEvent& e) {
        if (e.text == REPLUG) Unplug("1-1");
    };
    Run();
    std::vector<std::string> expected = {REPLUG, "NO RESPONSE @ State 1"};
    EXPECT_EQ(MessageTexts(), expected);
    ExpectStoppedWith("NO RESPONSE @ State 1");
    ExpectFullRunEnd();
}

}  // namespace
}  // namespace plctest
