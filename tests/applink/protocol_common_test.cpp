// What every application-mode operation shares: the 3000 ms link time-outs, set at its start,
// and the line settings, which only the probe touches (and only for the COM-port models).
#include "tests/applink/protocol_fixture.h"

namespace plctest {
namespace {

struct Operation {
    const char* name;
    void (*call)(HANDLE);
    bool setsLine;
};
void PrintTo(const Operation& c, std::ostream* os) {
    *os << c.name;
}

const Operation kOperations[] = {
    {"ConfirmComm", [](HANDLE h) { ConfirmComm(h); }, true},
    {"CheckID_A", [](HANDLE h) { CheckID_A(h); }, false},
    {"READ_D1386", [](HANDLE h) { READ_D1386(h); }, false},
    {"READ_D1001", [](HANDLE h) { READ_D1001(h); }, false},
    {"READ_D1148", [](HANDLE h) { READ_D1148(h); }, false},
    {"read_fu_version_A", [](HANDLE) { read_fu_version_A(); }, false},
    {"read_0x67_PLCID", [](HANDLE) { read_0x67_PLCID(); }, false},
    {"SendErase_A", [](HANDLE h) { SendErase_A(h); }, false},
};

class EveryOperation : public ProtocolTest, public ::testing::WithParamInterface<Operation> {};

TEST_P(EveryOperation, SetsReadTimeoutsAndLineOnlyWhereDue) {
    const Operation& op = GetParam();
    for (const char* model : {"QM2-E", "30TR2-AIO", "RP200", "TR3-AIO"}) {
        SCOPED_TRACE(model);
        Select(model);
        SetLinkTimeouts(hSerial, WAKEUP_TIMEOUT_MS);
        size_t linesBefore = link->LineHistory().size();
        op.call(hSerial);
        const COMMTIMEOUTS& t = link->Timeouts();
        EXPECT_EQ(t.ReadIntervalTimeout, 0u);
        EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
        EXPECT_EQ(t.ReadTotalTimeoutConstant, 3000u);
        EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0u);
        EXPECT_EQ(t.WriteTotalTimeoutConstant, 3000u);
        bool comPort = SelectedPLCIn(COM_PORT_MODELS);
        EXPECT_EQ(link->LineHistory().size() - linesBefore, op.setsLine && comPort ? 1u : 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Common, EveryOperation, ::testing::ValuesIn(kOperations),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace plctest
