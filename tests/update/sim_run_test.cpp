// Whole update runs against the simulated PLC: StartBurn on the test thread, the PLC behind a
// virtual link, the flash it was given compared with the image.
#include <algorithm>
#include <thread>

#include "sim/sim.h"
#include "tests/update/update_fixture.h"

namespace plctest {
namespace {

#define SUCCESS_USB "Firmware update is SUCCESSFUL!, please REPLUG the USB cable"
#define SUCCESS_COM "Firmware update is SUCCESSFUL"
#define REPLUG "Please REPLUG the USB Cable, and then press OK to continue"
#define POWER_CYCLE "Please POWER OFF=>ON the PLC, and then press OK to continue"

class SimRun : public UpdateRun {
  protected:
    std::shared_ptr<plcsim::Plc> Simulate(const std::string& model,
                                          const std::function<void(plcsim::Config&)>& tune = {},
                                          const std::string& link = "plc",
                                          bool viaOverride = true) {
        plcsim::Config cfg;
        EXPECT_TRUE(plcsim::DefaultConfig(model, &cfg)) << model;
        if (tune) tune(cfg);
        auto plc = std::make_shared<plcsim::Plc>(cfg);
        plcsim::AttachVirtual(plc, link);
        if (viaOverride) SetLinkOverride(link.c_str());
        return plc;
    }
    void Fresh(const char* model, size_t imageBytes) {
        events.clear();
        states.clear();
        platform::UnregisterAllVirtualLinks();
        SetLinkOverride(nullptr);
        Select(model);
        UseImage(imageBytes);
    }
    void ExpectFlashIsTheImage(const plcsim::Plc& plc) {
        plcsim::FlashCheck check = plc.CompareFlash(image.data(), image.size());
        EXPECT_TRUE(check.equal) << check.detail;
        EXPECT_EQ(check.receivedBytes, check.expectedReceived);
        EXPECT_TRUE(plc.TransferComplete());
    }
    void ExpectNoHostErrors(const plcsim::Plc& plc) {
        auto errors = plc.Errors();
        EXPECT_TRUE(errors.empty()) << errors.front();
    }
};

// A PLC that takes the enter-bootloader request but keeps answering from its application
// firmware: the passes repeat, prompt included, and then the run gives up instead of looping.
TEST_F(SimRun, PlcThatNeverLeavesItsApplicationFirmware) {
    struct Case {
        const char* model;
        const char* fault;   // what keeps the PLC from restarting
        const char* prompt;  // shown on every pass, or nullptr for the pause-only models
    } cases[] = {{"QM2-E", "silent:confirm", nullptr},
                 {"RP100", "silent:confirm", REPLUG},
                 {"TR2-CAR", "silent:enter", POWER_CYCLE}};  // silence is its acceptance
    for (const Case& c : cases) {
        Fresh(c.model, 4096 * 3);
        auto plc = Simulate(c.model);
        ASSERT_TRUE(plc->AddFault(c.fault));
        Run();
        std::vector<std::string> texts = MessageTexts();
        ASSERT_FALSE(texts.empty()) << c.model;
        EXPECT_EQ(texts.back(), "PLC DOES NOT enter the bootloader mode") << c.model;
        EXPECT_EQ(std::count(texts.begin(), texts.end(), std::string(c.prompt ? c.prompt : "")),
                  c.prompt ? 5 : 0)
            << c.model;
        EXPECT_EQ(plc->GetCounters().Seen(plcsim::Kind::Probe), 6u) << c.model;
        ExpectStoppedWith("PLC DOES NOT enter the bootloader mode");
        ExpectFullRunEnd();
    }
}

TEST_F(SimRun, ASecondApplicationPassRunsTheWholeStageAgain) {
    Fresh("NV26", 4096);
    auto plc = Simulate("NV26");
    ASSERT_TRUE(plc->AddFault("silent:confirm@1"));
    Run();
    std::vector<std::string> expected = {REPLUG, REPLUG, SUCCESS_USB};
    EXPECT_EQ(MessageTexts(), expected);
    EXPECT_EQ(plc->GetCounters().Seen(plcsim::Kind::Id), 2u);
    ExpectFlashIsTheImage(*plc);
}

TEST_F(SimRun, Rp200UpdateOfTheFullSizeImage) {
    Fresh("RP200", 2076672);
    auto plc = Simulate("RP200");
    uint64_t start = platform::VirtualNowMs();
    Run();
    std::vector<std::string> expected = {REPLUG, SUCCESS_USB};
    EXPECT_EQ(MessageTexts(), expected);
    ExpectInformation(LastMessage(), SUCCESS_USB, "Information");
    ExpectFlashIsTheImage(*plc);
    ExpectNoHostErrors(*plc);
    plcsim::Counters k = plc->GetCounters();
    EXPECT_EQ(k.pagesErased, 506u);
    EXPECT_EQ(k.blocksAccepted, 8096u);
    EXPECT_EQ(k.resendsSeen, 0u);
    EXPECT_EQ(k.restartsToBoot, 1u);
    std::vector<uint8_t> received = plc->Received();
    ASSERT_EQ(received.size(), 2076672u - 4096u);
    EXPECT_TRUE(std::equal(received.begin(), received.end(), image.begin()));
    // The replug pause of 5 s lies between the prompt and the reopen.
    EXPECT_GE(LastMessage().atMs - Messages()[0].atMs, 5000u);
    EXPECT_GT(LastMessage().atMs, start);
    ExpectFullRunEnd();
}

TEST_F(SimRun, EmbeddedImageIntoRp200) {
    size_t size = 0;
    const uint8_t* embedded = platform::EmbeddedImage(&size);
    if (embedded == nullptr) GTEST_SKIP() << "no embedded image";
    Fresh("RP200", 0);
    platform::UseEmbeddedResourceImage();
    auto plc = Simulate("RP200");
    Run();
    ExpectInformation(LastMessage(), SUCCESS_USB, "Information");
    plcsim::FlashCheck check = plc->CompareFlash(embedded, size);
    EXPECT_TRUE(check.equal) << check.detail;
    EXPECT_EQ(check.imageBytesSent, size - 4096);
    ExpectFullRunEnd();
}

TEST_F(SimRun, Qm2eOverTheListedComPort) {
    Fresh("QM2-E", 300000);
    SetSelectedComPort("COM11");
    auto plc = Simulate("QM2-E", {}, "COM11", false);
    Run();
    std::vector<std::string> expected = {SUCCESS_COM};
    EXPECT_EQ(MessageTexts(), expected);
    ExpectInformation(LastMessage(), SUCCESS_COM, "INFORMATION");
    ExpectFlashIsTheImage(*plc);
    ExpectNoHostErrors(*plc);
    // 9600 7E1 for the application firmware, 115200 8N1 once "UPDATE" is acknowledged.
    platform::VirtualLink* link = platform::FindVirtualLink("COM11");
    ASSERT_NE(link, nullptr);
    const auto& history = link->LineHistory();
    ASSERT_FALSE(history.empty());
    EXPECT_EQ(history.front().baud, 9600u);
    EXPECT_EQ(history.front().byteSize, 7);
    EXPECT_EQ(history.front().parity, EVENPARITY);
    EXPECT_EQ(history.back().baud, 115200u);
    EXPECT_EQ(history.back().byteSize, 8);
    EXPECT_EQ(history.back().parity, NOPARITY);
    EXPECT_EQ(link->TotalOpens(), 1) << "the pause keeps the port open";
    ExpectFullRunEnd();
}

struct ModelCase {
    const char* model;
    const char* prompt;  // nullptr: none
};

const ModelCase kModels[] = {
    {"QM2-TR2-V2", nullptr}, {"PN2", nullptr},           {"HB2", nullptr},
    {"DK2", nullptr},        {"QM2-C-V2", POWER_CYCLE},  {"NV", REPLUG},
    {"LC3", nullptr},        {"30TR2-AIO", nullptr},     {"HB-V3", nullptr},
    {"WJB-QM2-V2", nullptr}, {"NV-H", REPLUG},           {"DK2-H", nullptr},
    {"RP300", REPLUG},       {"QM-TR-LC2", nullptr},     {"TR2-CAR", POWER_CYCLE},
    {"DK28", nullptr},       {"QM2-E", nullptr},         {"RP200", REPLUG},
    {"RP200-AIO", REPLUG},   {"NV26", REPLUG},           {"QM3", REPLUG},
    {"FYX-J", REPLUG},       {"RP100", REPLUG},          {"TR3-AIO", REPLUG},
    {"QM2-TR2-V4", nullptr}, {"HB-V4", nullptr},         {"WJB-QM2-V4", nullptr},
    {"QM3-PACKAGE", REPLUG}, {"QM2-C-V4", POWER_CYCLE},  {"GW3HB3", REPLUG},
    {"HB3-AIO", REPLUG},     {"RP200-TO-RP300", REPLUG}, {"RP200-Z", REPLUG},
};
static_assert(sizeof kModels / sizeof kModels[0] == 33);

std::vector<int32_t> StepsOfRun() {
    std::vector<int32_t> steps;
    for (uint32_t n = 0; n < RunStepsBegun(); ++n) steps.push_back(RunStepAt(n));
    return steps;
}

TEST_F(SimRun, EveryModelUpdatesFromItsApplicationFirmware) {
    for (const ModelCase& c : kModels) {
        SCOPED_TRACE(c.model);
        Fresh(c.model, 12288);
        bool usb = SelectedPLCIn(USB_ATTACHED_MODELS);
        // The bootloader of a COM-port model reports its id without bit 15 (0xA001 as 0x2001).
        auto plc =
            usb ? Simulate(c.model)
                : Simulate(
                      c.model, [](plcsim::Config& cfg) { cfg.bootIdBit15 = false; }, "COM4", false);
        SetSelectedComPort(usb ? "USB" : "COM4");
        Run();
        std::vector<std::string> expected;
        if (c.prompt != nullptr) expected.push_back(c.prompt);
        expected.push_back(usb ? SUCCESS_USB : SUCCESS_COM);
        EXPECT_EQ(MessageTexts(), expected);
        ExpectFlashIsTheImage(*plc);
        ExpectNoHostErrors(*plc);
        EXPECT_EQ(plc->GetCounters().restartsToBoot, 1u);
        RunStep waiting = c.prompt == nullptr               ? STEP_WAITING_FOR_RESTART
                          : c.prompt == std::string(REPLUG) ? STEP_WAITING_FOR_REPLUG
                                                            : STEP_WAITING_FOR_POWER_CYCLE;
        std::vector<int32_t> steps = {STEP_CONNECTING, STEP_IDENTIFYING, STEP_ENTERING_BOOTLOADER,
                                      waiting,         STEP_CONNECTING,  STEP_IDENTIFYING,
                                      STEP_ERASING,    STEP_PROGRAMMING, STEP_FINISHING};
        EXPECT_EQ(StepsOfRun(), steps);
        ExpectFullRunEnd();
    }
}

TEST_F(SimRun, PlcAlreadyInItsBootloaderSkipsTheApplicationStage) {
    for (const char* model : {"RP200", "QM2-C-V4", "NV26", "TR3-AIO"}) {
        SCOPED_TRACE(model);
        Fresh(model, 12288);
        auto plc = Simulate(model, [](plcsim::Config& c) { c.start = plcsim::StartMode::Boot; });
        Run();
        EXPECT_EQ(Messages().size(), 1u) << "no prompt";
        EXPECT_EQ(plc->GetCounters().Seen(plcsim::Kind::Id), 0u);
        EXPECT_EQ(plc->GetCounters().Seen(plcsim::Kind::BootId), 1u);
        EXPECT_EQ(StepsOfRun(),
                  (std::vector<int32_t>{STEP_CONNECTING, STEP_IDENTIFYING, STEP_ERASING,
                                        STEP_PROGRAMMING, STEP_FINISHING}));
        ExpectFlashIsTheImage(*plc);
        ExpectFullRunEnd();
    }
}

struct FaultCase {
    const char* model;
    const char* fault;  // simulator fault text; empty: none
    std::function<void(plcsim::Config&)> tune;
    const char* message;  // the final message
};

const FaultCase kFaults[] = {
    {"RP200", "runmode", {}, "PLC in RUN MODE"},
    {"RP200", "flow:2", {}, "PLC type is WRONG"},
    {"RP200", "flow:1:probe", {}, "PLC type is WRONG"},
    {"QM2-E", "unknown-class:3:probe", {}, "UNKNOWN ERROR CODE @ State 1"},
    {"QM2-E", "silent", {}, "NO RESPONSE @ State 1"},
    {"RP200", "lowercase:probe", {}, "NO RESPONSE @ State 1"},
    {"RP200", "flow:3:id", {}, "PLC type is WRONG"},
    {"RP200", "unknown-class:1:id", {}, "UNKNOWN ERROR CODE @ State 2"},
    {"PN2", "silent:id", {}, "NO RESPONSE @ State 2"},
    {"RP200", "flow:4:enter", {}, "PLC type is WRONG"},
    {"RP200", "unknown-class:5:enter", {}, "UNKNOWN ERROR CODE @ State 3"},
    {"QM2-E", "silent:enter", {}, "NO RESPONSE @ State 3"},
    {"RP200", "", [](plcsim::Config& c) { c.appId = 0x3000; }, "NO RESPONSE @ State 2"},
    {"QM3", "", [](plcsim::Config& c) { c.id67 = 0x0021; }, "PLC type is WRONG"},
    {"QM2-C-V4", "",
     [](plcsim::Config& c) {
         c.d1386 = 16696;
         c.d1001 = 0x31;
     },
     "QM2-C V2.xx / V3.xx CAN NOT upgrade to V4.xx "},
    {"DK28", "", [](plcsim::Config& c) { c.d1148 = 0; },
     "Check PLC, 28DK2 is different than 12DK2"},
    {"RP200-AIO", "", [](plcsim::Config& c) { c.appVersion = 0x09; },
     "The bootloader version is V0.9, do not support AIO FW update"},
    {"TR3-AIO", "", [](plcsim::Config& c) { c.bootVersion = 0x10; },
     "The bootloader version is V1.0, do not support AIO FW update"},
    {"RP300", "silent:boot-version", {}, "PLC DOES NOT respond to the version read"},
    {"RP200", "", [](plcsim::Config& c) { c.bootId = 0x3000; }, "PLC type is WRONG"},
    {"RP200", "silent-erase:2", {}, "PLC DOES NOT respond to the erasing signal"},
    {"QM2-E", "silent:erase-eot", {}, "PLC DOES NOT respond to the erasing signal"},
    {"NV", "silent:update", {}, "PLC DOES NOT respond to the update signal"},
    {"RP200",
     "nok-block:10",
     {},
     "Flash write error, maybe due to flash write protection. RE-POWER PLC and update FW again"},
    {"QM2-E", "", [](plcsim::Config& c) { c.writeProtected = true; },
     "Flash write error, maybe due to flash write protection. RE-POWER PLC and update FW again"},
    {"RP200", "nak-block:10x6", {}, "Firmware update is FAILED"},
    {"RP200", "vanish-block:20", {}, "Firmware update is FAILED"},
    {"QM2-E", "silent:eot", {}, "Firmware update is FAILED"},
    {"RP200", "nak-block:10x5", {}, SUCCESS_USB},
    {"QM2-E", "drop:probe@1", {}, SUCCESS_COM},
};

TEST_F(SimRun, FaultsEndInTheirMessage) {
    for (const FaultCase& c : kFaults) {
        SCOPED_TRACE(std::string(c.model) + " " + c.fault + " -> " + c.message);
        Fresh(c.model, 12288);
        auto plc = Simulate(c.model, c.tune);
        if (*c.fault != '\0') {
            std::string error;
            ASSERT_TRUE(plc->AddFault(c.fault, &error)) << error;
        }
        Run();
        FrontEndEvent last = LastMessage();
        EXPECT_EQ(last.text, c.message);
        EXPECT_EQ(plcReport.outcome, last.caption == "ERROR" ? OUTCOME_FAILURE : OUTCOME_SUCCESS);
        // The window's record takes the final message from the report, not from the box.
        const FinalMessage kept = TakeFinalMessage();
        EXPECT_EQ(kept.caption, last.caption);
        EXPECT_EQ(kept.text, last.text);
        if (last.caption == "ERROR") {
            EXPECT_EQ(last.type, MB_OK | MB_ICONERROR);
            EXPECT_FALSE(plc->TransferComplete());
        } else {
            ExpectFlashIsTheImage(*plc);
        }
        ExpectNoHostErrors(*plc);
        ExpectFullRunEnd();
    }
}

// A reply that comes after the host's 3000 ms read, in any phase, is never taken for the reply
// to a later request: the run ends in success with the image in the flash, or in the phase's
// failure message. The first row is a PLC that acknowledges block 4 too late, acknowledges the
// resent block 4 without writing it again, and refuses the last block once.
struct LateCase {
    const char* model;
    bool startBoot;
    uint32_t imageBytes;
    std::vector<std::string> faults;
    bool ackResent;
    const char* message;
};

const std::vector<LateCase> kLateCases = {
    {"HB2", true, 5000, {"late:block@4:3400", "nak:block@40"}, true, SUCCESS_COM},
    {"HB2", true, 5000, {"late:block@4:3400", "nak:block@40"}, false, "Firmware update is FAILED"},
    {"HB2", true, 5000, {"late:block@4:12000", "nak:block@40"}, true, SUCCESS_COM},
    {"RP300", true, 12288, {"late:boot-id@1:3500"}, true, SUCCESS_USB},
    {"QM2-E", false, 12288, {"late:probe@1:3500"}, true, SUCCESS_COM},
    {"QM2-E", false, 12288, {"late:id@1:9000"}, true, SUCCESS_COM},
    {"QM2-C-V4", false, 12288, {"late:d1386@1:3400", "late:d1001@1:3400"}, true, SUCCESS_COM},
    {"QM2-E", false, 12288, {"late:enter@1:3400"}, true, SUCCESS_COM},
    {"PN2", true, 12288, {"late:erase@2:3400"}, true, SUCCESS_COM},
    {"RP200",
     true,
     12288,
     {"late:erase@2:3400"},
     true,
     "PLC DOES NOT respond to the erasing signal"},
    {"PN2", true, 12288, {"late:erase-eot@1:3500"}, true, SUCCESS_COM},
    {"NV", true, 12288, {"late:update@1:3400"}, true, SUCCESS_USB},
    {"QM2-E", true, 12288, {"late:eot@1:3400"}, true, SUCCESS_COM},
};

TEST_F(SimRun, LateRepliesAreNeverTakenForFreshOnes) {
    for (const LateCase& c : kLateCases) {
        SCOPED_TRACE(std::string(c.model) + " " + c.faults.front() + (c.ackResent ? "" : " nak"));
        Fresh(c.model, c.imageBytes);
        auto plc = Simulate(c.model, [&](plcsim::Config& cfg) {
            if (c.startBoot) cfg.start = plcsim::StartMode::Boot;
            cfg.ackResentBlock = c.ackResent;
        });
        for (const auto& f : c.faults) ASSERT_TRUE(plc->AddFault(f)) << f;
        Run();
        std::vector<std::string> texts = MessageTexts();
        ASSERT_FALSE(texts.empty());
        EXPECT_EQ(texts.back(), c.message);
        if (texts.back() == SUCCESS_COM || texts.back() == SUCCESS_USB) ExpectFlashIsTheImage(*plc);
        ExpectFullRunEnd();
    }
}

// A UART that switches to the transfer speed leaves a stray byte on the line after its ACK of
// "UPDATE". Whenever it comes within two block times, whatever the byte, the transfer neither
// resends a block nor counts an error, against a PLC that acknowledges a block it already has
// and one that refuses it.
TEST_F(SimRun, AByteLeftByTheSpeedSwitchIsNoReply) {
    struct Model {
        const char* name;
        uint32_t blockTimeUs;  // one block at 115200 baud, ten bits a byte
    } models[] = {{"30TR2-AIO", 261u * 10 * 1000000 / 115200},
                  {"QM2-E", 133u * 10 * 1000000 / 115200}};
    for (const Model& m : models)
        for (bool ackResent : {true, false})
            for (uint32_t halves : {0u, 1u, 2u, 4u})
                for (const char* byte : {"00", "FF", "15", "06"}) {
                    uint32_t ms = halves * m.blockTimeUs / 2000;
                    std::string fault = std::string("stray:update:") + byte + ":" +
                                        std::to_string(ms);
                    SCOPED_TRACE(std::string(m.name) + " " + fault + (ackResent ? "" : " nak"));
                    Fresh(m.name, 8192);
                    auto plc = Simulate(m.name, [&](plcsim::Config& cfg) {
                        cfg.start = plcsim::StartMode::Boot;
                        cfg.ackResentBlock = ackResent;
                    });
                    ASSERT_TRUE(plc->AddFault(fault));
                    Run();
                    EXPECT_EQ(LastMessage().text, SUCCESS_COM);
                    ExpectFlashIsTheImage(*plc);
                    EXPECT_EQ(plc->GetCounters().resendsSeen, 0u);
                    // The errors the window showed when the final message came.
                    size_t last = events.size();
                    while (last > 0 && events[last - 1].kind != FrontEndEvent::MessageBox) --last;
                    ASSERT_GT(last, 0u);
                    EXPECT_EQ(states[last - 1].totalErrors, 0);
                }
}

}  // namespace
}  // namespace plctest

namespace plctest {
namespace {

// The worker on its own thread, as "Start Burn" starts it, while the window thread reads the
// panel's counters and keeps changing the port list.
TEST_F(SimRun, WorkerThreadWhileThePanelReads) {
    Fresh("QM2-C-V4", 200000);
    SetSelectedComPort("COM5");
    auto plc = Simulate(
        "QM2-C-V4",
        [](plcsim::Config& c) {
            c.d1386 = 16696;
            c.d1001 = 0x40;
        },
        "COM5", false);
    // A joinable thread, so that the run has ended before the test tears its links down.
    std::thread worker(StartBurn, &paramStruct);
    int32_t maxProgress = 0;
    uint64_t reads = 0;
    while (enables.load() == 0) {
        maxProgress = std::max<int32_t>(maxProgress, progress);
        reads += static_cast<uint64_t>(flashStatus) + errCounter + totalErrCounter + elapsedTime;
        SetSelectedComPort("COM5");
        std::this_thread::yield();
    }
    worker.join();
    ExpectInformation(LastMessage(), SUCCESS_COM, "INFORMATION");
    ExpectFlashIsTheImage(*plc);
    EXPECT_LE(maxProgress, 100);
    (void)reads;
}

}  // namespace
}  // namespace plctest
