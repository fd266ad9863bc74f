// The probe loop: the QM3 id check on the first pass, the dispatch on the mode probe, the
// probe's failure messages and the passes that follow a successful application-mode stage.
#include "link/link.h"
#include "tests/update/update_fixture.h"

namespace plctest {
namespace {

class ProbeLoop : public UpdateRun {
  protected:
    std::shared_ptr<ScriptedPeer> Start(const char* model) {
        Select(model);
        UseImage(8192);
        return Plc();
    }
};

struct IdCase {
    const char* model;
    std::string reply;  // to the id read; empty: silence
    bool stops;         // "PLC type is WRONG" before the probe
    int idReads;        // id requests expected
};

const IdCase kIdCases[] = {
    {"QM3", PlcIdReply(0x0020), false, 1},
    {"QM3", "", false, 2},  // no answer reads as 0, which passes
    {"QM3", PlcIdReply(0x0000), false, 1},
    {"QM3", PlcIdReply(0x0021), true, 1},
    {"QM3", PlcIdReply(0x3010), true, 1},
    {"QM3", PlcIdReply(0x2000), true, 1},
    {"QM3-PACKAGE", PlcIdReply(0x0055), false, 0},
    {"TR3-AIO", PlcIdReply(0x0055), false, 0},
    {"RP200", PlcIdReply(0x0055), false, 0},
};

TEST_F(ProbeLoop, Qm3IdCheckRunsOnceBeforeTheFirstProbe) {
    for (const IdCase& c : kIdCases) {
        SCOPED_TRACE(std::string(c.model) + " " + c.reply);
        events.clear();
        states.clear();
        platform::UnregisterAllVirtualLinks();
        auto plc = Start(c.model);
        plc->On(FRAME_PLCID_0x67, c.reply);
        plc->On(FRAME_PROBE, Reply19(NAK, 1));
        plc->On(FRAME_PROBE_AIO, Reply19(NAK, 1));
        Run();
        EXPECT_EQ(plc->Count(FRAME_PLCID_0x67), c.idReads);
        if (c.stops) {
            ExpectStoppedWith("PLC type is WRONG");
            EXPECT_EQ(plc->Count(FRAME_PROBE), 0);
            // The wake-up burst came first.
            ASSERT_FALSE(plc->requests.empty());
            EXPECT_EQ(plc->requests.front(), FRAME_WAKEUP);
        } else {
            ExpectStoppedWith("PLC in RUN MODE");
        }
        ExpectFullRunEnd();
    }
}

struct ProbeCase {
    std::string reply;  // to every probe; empty: silence
    const char* message;
};

const ProbeCase kProbeCases[] = {
    {Reply19(NAK, 1), "PLC in RUN MODE"},
    {Reply19(NAK, 2, 1), "PLC type is WRONG"},
    {Reply19(NAK, 2, 2), "PLC type is WRONG"},
    {Reply19(NAK, 2, 7), "PLC type is WRONG"},
    {Reply19(NAK, 3), "UNKNOWN ERROR CODE @ State 1"},
    {Reply19(NAK, 0), "UNKNOWN ERROR CODE @ State 1"},
    {"", "NO RESPONSE @ State 1"},
    {Reply19(ENQ, 0, 0, true), "NO RESPONSE @ State 1"},  // lower-case hex
    {Reply19(ENQ, 0, 0, false, 1), "NO RESPONSE @ State 1"},        // wrong LRC
};

TEST_F(ProbeLoop, ProbeFailureShowsItsStateOneMessageAndResets) {
    for (const ProbeCase& c : kProbeCases) {
        SCOPED_TRACE(c.message);
        events.clear();
        states.clear();
        platform::UnregisterAllVirtualLinks();
        auto plc = Start("RP200");
        plc->On(FRAME_PROBE, c.reply);
        DirtyRunState();
        Run();
        ExpectStoppedWith(c.message);
        ExpectFullRunEnd();
        EXPECT_EQ(plc->Count(FRAME_PROBE), 6);
        EXPECT_EQ(plc->Count(FRAME_ID), 0);
        EXPECT_EQ(plc->closes, 1);
        // Until the operator closes the message the panel keeps the probe's failure count.
        EXPECT_EQ(states[states.size() - 2].errors, 6);
    }
}

TEST_F(ProbeLoop, SilentPlcTakesEighteenSecondsOfVirtualTime) {
    auto plc = Start("QM2-E");
    uint64_t start = platform::VirtualNowMs();
    Run();
    ExpectStoppedWith("NO RESPONSE @ State 1");
    // Six reads of 3000 ms, and a quiet second before each of the five resends.
    EXPECT_GE(LastMessage().atMs - start, 18000u + 5 * SETTLE_QUIET_MS);
    EXPECT_LT(LastMessage().atMs - start, 21000u + 5 * SETTLE_QUIET_MS);
}

TEST_F(ProbeLoop, AioModelsProbeWithTheirGroupCode) {
    for (const char* model : {"RP200-AIO", "TR3-AIO", "HB3-AIO", "30TR2-AIO"}) {
        SCOPED_TRACE(model);
        platform::UnregisterAllVirtualLinks();
        auto plc = Start(model);
        Run();
        EXPECT_EQ(plc->Count(FRAME_PROBE_AIO), 6);
        EXPECT_EQ(plc->Count(FRAME_PROBE), 0);
    }
}

TEST_F(ProbeLoop, PlcStillInApplicationAfterReconnectRunsTheStageAgain) {
    auto plc = Start("RP200");
    // ENQ on the first two probes: the stage and its prompt run twice; then the bootloader.
    plc->Application(0x3010);
    plc->On(FRAME_PROBE, {Reply19(ENQ), Reply19(ENQ), Reply19(ACK)});
    plc->Bootloader(0x3010);
    Run();
    ExpectInformation(LastMessage(), "Firmware update is SUCCESSFUL!, please REPLUG the USB cable",
                      "Information");
    std::vector<std::string> expected = {
        "Please REPLUG the USB Cable, and then press OK to continue",
        "Please REPLUG the USB Cable, and then press OK to continue",
        "Firmware update is SUCCESSFUL!, please REPLUG the USB cable"};
    EXPECT_EQ(MessageTexts(), expected);
    EXPECT_EQ(plc->Count(FRAME_ID), 2);
    EXPECT_EQ(plc->Count(FRAME_ENTER_BOOT), 2);
    EXPECT_EQ(plc->Count(FRAME_PROBE), 3);
    EXPECT_EQ(plc->Count(FRAME_WAKEUP), 15) << "a wake-up burst before every probe";
    EXPECT_EQ(plc->opens, 3);
    ExpectFullRunEnd();
}

TEST_F(ProbeLoop, Qm3IdIsReadOnlyOnTheFirstPass) {
    auto plc = Start("QM3");
    plc->Application(0x0020);
    plc->Bootloader(0x0020);
    plc->On(FRAME_PLCID_0x67, PlcIdReply(0x0020));
    Run();
    ExpectInformation(LastMessage(), "Firmware update is SUCCESSFUL!, please REPLUG the USB cable",
                      "Information");
    EXPECT_EQ(plc->Count(FRAME_PLCID_0x67), 1);
    EXPECT_EQ(plc->Count(FRAME_PROBE), 2);
    // The id read sits between the first burst and the first probe.
    std::vector<std::string> head(plc->requests.begin(), plc->requests.begin() + 7);
    EXPECT_EQ(head[5], FRAME_PLCID_0x67);
    EXPECT_EQ(head[6], FRAME_PROBE);
}

}  // namespace
}  // namespace plctest
