// The application-mode operations against the simulated PLC: what the engine sends is what a
// PLC takes, and what a PLC answers is what the engine expects.
#include "sim/sim.h"
#include "tests/applink/protocol_fixture.h"

namespace plctest {
namespace {

class AgainstSim : public EngineTest {
  protected:
    // A PLC of that model on the link "plc", opened into hSerial.
    void Start(const char* model, const std::vector<std::string>& faults = {}) {
        Select(model);
        plc = plcsim::Plc::Create(model);
        ASSERT_NE(plc, nullptr);
        for (const auto& f : faults) ASSERT_TRUE(plc->AddFault(f)) << f;
        link = &plcsim::AttachVirtual(plc, "plc");
        Reopen();
        totalErrCounter = PLANTED_TOTAL_ERR_COUNTER;
        startMs = platform::VirtualNowMs();
    }
    void Reopen() {
        if (hSerial != INVALID_HANDLE_VALUE) CloseHandle(hSerial);
        hSerial =
            CreateFileA("plc", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(hSerial, INVALID_HANDLE_VALUE);
    }
    uint64_t ElapsedMs() const { return platform::VirtualNowMs() - startMs; }
    int32_t TotalGrowth() const { return totalErrCounter - PLANTED_TOTAL_ERR_COUNTER; }

    std::shared_ptr<plcsim::Plc> plc;
    platform::VirtualLink* link = nullptr;
    uint64_t startMs = 0;
};

// USB and COM-port models, with and without the AIO group code, and one no-reply model.
const char* const kModels[] = {"RP200", "QM2-E", "30TR2-AIO", "RP200-AIO", "QM2-C-V4", "RP200-Z"};

TEST_F(AgainstSim, ApplicationStageOfEveryGroup) {
    for (const char* model : kModels) {
        SCOPED_TRACE(model);
        Start(model);
        DummyComm(hSerial);
        EXPECT_EQ(ConfirmComm(hSerial), ENQ);
        EXPECT_EQ(CheckID_A(hSerial), OK);
        EXPECT_EQ(read_fu_version_A(), plc->GetConfig().appVersion);
        EXPECT_EQ(errCounter, 0);
        EXPECT_EQ(TotalGrowth(), 0);
        EXPECT_TRUE(plc->Errors().empty()) << plc->Errors().front();
        CloseHandle(hSerial);
        hSerial = INVALID_HANDLE_VALUE;
    }
}

TEST_F(AgainstSim, RegistersAndIdAsConfigured) {
    Start("QM3");
    plcsim::Config cfg = plc->GetConfig();
    cfg.d1386 = 0x1386;
    cfg.d1001 = 0xBEEF;
    cfg.d1148 = 7;
    cfg.id67 = 0x0020;
    plc->SetConfig(cfg);
    EXPECT_EQ(read_0x67_PLCID(), 0x0020);
    EXPECT_EQ(READ_D1386(hSerial), 0x1386);
    EXPECT_EQ(READ_D1001(hSerial), 0xBEEF);
    EXPECT_EQ(READ_D1148(hSerial), 7);
    EXPECT_EQ(TotalGrowth(), 0);
    EXPECT_TRUE(plc->Errors().empty());
}

TEST_F(AgainstSim, IdentityRule) {
    const struct {
        const char* model;
        uint16_t reports;
        uint8_t result;
    } rows[] = {
        {"QM2-C-V4", 0x000D, OK},
        {"RP200-Z", 0x3010, OK},
        {"RP200", 0xA010, ERR | NORESPONSE},
        {"RP200", 0x0020, ERR | NORESPONSE},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.model);
        Start(row.model);
        plcsim::Config cfg = plc->GetConfig();
        cfg.appId = row.reports;
        plc->SetConfig(cfg);
        EXPECT_EQ(CheckID_A(hSerial), row.result);
        CloseHandle(hSerial);
        hSerial = INVALID_HANDLE_VALUE;
    }
}

TEST_F(AgainstSim, EnterBootloaderThenBootloaderAnswersProbe) {
    // COM-port models restart at once; a USB-attached one comes back once reopened; a no-reply
    // model waits for its power cycle.
    const struct {
        const char* model;
        bool reopen;
        uint32_t confirmations;
        uint64_t enterMs;
    } rows[] = {
        {"QM2-E", false, 1, 0},
        {"30TR2-AIO", false, 1, 0},
        {"RP200", true, 1, 0},
        {"TR2-CAR", true, 0, 3000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.model);
        Start(row.model);
        ASSERT_EQ(ConfirmComm(hSerial), ENQ);
        uint64_t before = platform::VirtualNowMs();
        EXPECT_EQ(SendErase_A(hSerial), OK);
        uint64_t took = platform::VirtualNowMs() - before;
        EXPECT_GE(took, row.enterMs);
        EXPECT_LE(took, row.enterMs + 100);
        EXPECT_EQ(errCounter, 0);
        EXPECT_EQ(plc->GetCounters().Seen(plcsim::Kind::Confirm), row.confirmations);
        if (row.reopen) Reopen();
        EXPECT_EQ(ConfirmComm(hSerial), ACK);
        EXPECT_EQ(TotalGrowth(), 0);
        EXPECT_TRUE(plc->Errors().empty()) << plc->Errors().front();
        CloseHandle(hSerial);
        hSerial = INVALID_HANDLE_VALUE;
    }
}

TEST_F(AgainstSim, Faults) {
    const uint64_t Q = SETTLE_QUIET_MS;
    const struct {
        const char* fault;
        uint8_t (*op)(HANDLE);
        uint8_t result;
        int32_t errCounter;
        int32_t totalGrowth;
        uint64_t elapsedMs;
    } rows[] = {
        // A whole NAK is the answer to that very request: it goes out again at once. A read
        // without a whole reply that another attempt follows, and a reply accepted after such
        // reads, each wait for a quiet line (Q).
        {"runmode", ConfirmComm, ERR | RUNMODE, 6, 6, 0},
        {"flow:2", ConfirmComm, ERR | FLOWERROR_STATE2, 6, 6, 0},
        {"flow:3:id", CheckID_A, ERR | FLOWERROR_STATE3, 6, 6, 0},
        {"flow:4:enter", SendErase_A, ERR | FLOWERROR_STATE4, 6, 6, 0},
        {"unknown-class:3:enter", SendErase_A, ERR | UNKNOWN_ERROR_CODE, 6, 6, 0},
        {"lowercase:probe@1", ConfirmComm, ENQ, 0, 1, 2 * Q},
        {"bad-lrc:id@1x2", CheckID_A, OK, 2, 2, 3 * Q},
        {"silent", ConfirmComm, ERR | NORESPONSE, 6, 6, 18000 + 5 * Q},
        {"silent", SendErase_A, ERR | NORESPONSE, 6, 6, 18000 + 5 * Q},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        Start("QM2-E", {row.fault});
        EXPECT_EQ(row.op(hSerial), row.result);
        EXPECT_EQ(errCounter, row.errCounter);
        EXPECT_EQ(TotalGrowth(), row.totalGrowth);
        // The simulated PLC takes a millisecond or so per reply.
        EXPECT_GE(ElapsedMs(), row.elapsedMs);
        EXPECT_LE(ElapsedMs(), row.elapsedMs + 100);
        CloseHandle(hSerial);
        hSerial = INVALID_HANDLE_VALUE;
    }
}

}  // namespace
}  // namespace plctest
