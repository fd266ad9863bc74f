// A station's looks at the link: each one wake-up frame and one probe, nothing that changes the
// PLC, no error counted; every byte that comes back is heard by one look or another, and only a
// whole probe reply is a PLC answering.
#include <filesystem>

#include "sim/sim.h"
#include "tests/device/fake_tree.h"
#include "tests/update/update_fixture.h"
#include "usb/usb.h"

namespace plctest {
namespace {

class Look : public UpdateRun {
  protected:
    void TearDown() override {
        EndLook();
        UpdateRun::TearDown();
    }
    // Looks as a station makes them, one every 100 ms: what each found, one letter a look
    // (N no link, S silent, H heard, A answered).
    std::string Looks(size_t n) {
        std::string seen;
        for (size_t i = 0; i < n; ++i) {
            uint64_t start = platform::VirtualNowMs();
            seen += "NSHA"[LookForPlc()];
            uint64_t spent = platform::VirtualNowMs() - start;
            if (spent < 100) platform::AdvanceVirtualClock(100 - spent);
        }
        return seen;
    }
};

TEST_F(Look, HearsEveryByteAndAnswersOnlyToAWholeProbeReply) {
    struct Case {
        const char* name;
        const char* model;
        std::vector<const char*> faults;
        bool boot;
        bool unplugged;
        const char* want;
        uint32_t latencyMs = 0;  // 0: the simulator's default
        uint32_t adapterMs = 0;  // a paced line behind a USB-serial adapter; 0: neither
    } cases[] = {
        {"application firmware", "QM2-E", {}, false, false, "AAAAAAAAAA"},
        {"bootloader", "QM2-E", {}, true, false, "AAAAAAAAAA"},
        {"RUN mode", "QM2-E", {"runmode"}, false, false, "AAAAAAAAAA"},
        {"AIO model", "RP200-AIO", {}, false, false, "AAAAAAAAAA"},
        {"USB-attached model", "RP100", {}, true, false, "AAAAAAAAAA"},
        // One request at a time: a PLC that takes 200 ms for each answers every other look.
        {"replies 200 ms late", "QM2-E", {"late:probe:200"}, true, false, "SSASASASAS"},
        // A reply as long in coming as a paced 9600 7E1 line takes for both of a look's (57 ms)
        // is heard by the look that asked.
        {"a reply after 60 ms", "QM2-E", {}, true, false, "AAAAAAAAAA", 60},
        // Its latency timer holds each reply 16 ms; a look's window allows far more.
        {"paced, behind a 16 ms adapter", "QM2-E", {}, false, false, "AAAAAAAAAA", 0, 16},
        {"paced bootloader, behind a 16 ms adapter", "QM2-E", {}, true, false, "AAAAAAAAAA", 0, 16},
        {"five replies lost in a row", "QM2-E", {"drop:probe@3x5"}, true, false, "AASSSSSAAA"},
        {"a reply split between two looks",
         "QM2-E",
         {"split:probe@1:95"},
         true,
         false,
         "HAAAAAAAAA"},
        {"a damaged reply", "QM2-E", {"corrupt:probe@2"}, true, false, "AHAAAAAAAA"},
        {"wake-up replies only", "QM2-E", {"silent:probe"}, false, false, "HHHHHHHHHH"},
        {"unplugged COM-port PLC", "QM2-E", {}, false, true, "SSSSSSSSSS"},
        {"silent line", "RP200", {"silent"}, false, false, "SSSSSSSSSS"},
        {"unplugged USB-attached PLC", "RP100", {}, false, true, "NNNNNNNNNN"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EndLook();
        platform::UnregisterAllVirtualLinks();
        Select(c.model);
        plcsim::Config cfg;
        ASSERT_TRUE(plcsim::DefaultConfig(c.model, &cfg));
        if (c.boot) cfg.start = plcsim::StartMode::Boot;
        if (c.latencyMs != 0) cfg.replyLatencyMs = c.latencyMs;
        cfg.pace = c.adapterMs != 0;
        cfg.adapterLatencyMs = c.adapterMs;
        auto plc = std::make_shared<plcsim::Plc>(cfg);
        for (const char* f : c.faults) ASSERT_TRUE(plc->AddFault(f));
        if (c.unplugged) plc->Unplug();
        plcsim::AttachVirtual(plc, "plc");
        SetLinkOverride("plc");
        EXPECT_EQ(Looks(10), c.want);
        plcsim::Counters k = plc->GetCounters();
        uint32_t others = 0;
        for (size_t i = 0; i < plcsim::KIND_COUNT; ++i)
            if (i != static_cast<size_t>(plcsim::Kind::Wakeup) &&
                i != static_cast<size_t>(plcsim::Kind::Probe))
                others += k.requests[i];
        EXPECT_EQ(others, 0u) << "a request beyond wake-up and probe";
        if (!c.unplugged) {
            EXPECT_EQ(k.Seen(plcsim::Kind::Wakeup), 10u) << "a look without its wake-up frame";
            EXPECT_EQ(k.Seen(plcsim::Kind::Probe), 10u);
        }
        EXPECT_EQ(plc->CurrentPhase(), c.boot ? plcsim::Phase::Boot : plcsim::Phase::App);
        EXPECT_EQ(totalErrCounter, 0);
        EndLook();
        EXPECT_EQ(platform::OpenHandleCount(), 0) << "the looks' link left open";
    }
    SetLinkOverride("nolink");
    EXPECT_EQ(LookForPlc(), PRESENCE_NO_LINK);
}

// A USB device that leaves while the looks hold its link: its writes are no longer taken, or it
// stays silent until the link is opened again, which then fails.
TEST_F(Look, FindsAUsbDeviceGoneFromTheLinkItHolds) {
    Select("RP100");
    auto plc = plcsim::Plc::Create("RP100");
    plcsim::AttachVirtual(plc, "plc");
    SetLinkOverride("plc");
    EXPECT_EQ(Looks(3), "AAA");
    plc->Unplug();
    EXPECT_EQ(Looks(3), "NNN");
}

// A USB-attached PLC's link: held from look to look while anything comes back, closed after
// LOOK_REOPEN_SILENT_LOOKS silent looks in a row and opened again by the next. One letter a look:
// o the link open after it, c closed.
TEST_F(Look, AUsbLinkIsOpenedAgainOnlyAfterThreeSilentLooks) {
    struct Case {
        const char* name;
        std::vector<const char*> faults;
        const char* want;
    } cases[] = {
        {"answering", {}, "oooooooooo"},
        {"silent", {"silent"}, "oocoocooco"},
        // The fourth look opens the link again; the fifth is answered and holds it.
        {"silent for four looks", {"drop:probe@1x4", "drop:wakeup@1x4"}, "oocooooooo"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EndLook();
        platform::UnregisterAllVirtualLinks();
        Select("RP100");
        auto plc = plcsim::Plc::Create("RP100");
        for (const char* f : c.faults) ASSERT_TRUE(plc->AddFault(f)) << f;
        platform::VirtualLink& link = plcsim::AttachVirtual(plc, "plc");
        SetLinkOverride("plc");
        std::string held;
        for (int i = 0; i < 10; ++i) {
            Looks(1);
            held += link.IsOpen() ? 'o' : 'c';
        }
        EXPECT_EQ(held, c.want);
    }
}

// A PLC named by its USB port: gone at the first look after its device left that port, though
// the link held on its node still answers, and back once a device is there again.
TEST_F(Look, APlcByItsUsbPortHasGoneTheMomentItsDeviceHas) {
    FakeTree tree;
    SetUsbSysfsRoot(tree.Path("sys").c_str());
    const std::string device = "sys/bus/usb/devices/1-2";
    auto Plug = [&] {
        tree.File(device + "/idVendor", std::string(USB_MATCH_TEXT).substr(4, 4) + "\n");
        tree.File(device + "/idProduct", "0001\n");
        tree.Dir(device + "/1-2:1.0/tty/ttyACM7");
    };
    Select("RP100");
    plcsim::AttachVirtual(plcsim::Plc::Create("RP100"), "ttyACM7");
    SetLinkOverride("usb:1-2");
    Plug();
    EXPECT_EQ(Looks(3), "AAA");
    std::filesystem::remove_all(tree.Path(device));
    EXPECT_EQ(Looks(2), "NN");
    EXPECT_EQ(platform::OpenHandleCount(), 0);
    Plug();
    EXPECT_EQ(Looks(2), "AA");
    SetUsbSysfsRoot(nullptr);
}

}  // namespace
}  // namespace plctest
