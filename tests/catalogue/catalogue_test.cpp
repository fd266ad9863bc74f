#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>

#include "catalogue/catalogue.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/scripted_peer.h"

namespace {

std::set<std::string> Names(const ModelSet& set) {
    std::set<std::string> out;
    for (uint32_t i = 0; i < PLC_COUNT; ++i)
        if (ModelIn(i, set)) out.insert(plcList[i]);
    return out;
}

TEST(Catalogue, GroupsPartitionTheThirtyThreeModels) {
    auto usb = Names(USB_ATTACHED_MODELS), com = Names(COM_PORT_MODELS), aio = Names(AIO_MODELS);
    EXPECT_EQ(usb.size(), 15u);
    EXPECT_EQ(com.size(), 18u);
    EXPECT_EQ(aio.size(), 4u);
    for (uint32_t i = 0; i < PLC_COUNT; ++i) {
        bool inUsb = usb.count(plcList[i]) == 1, inCom = com.count(plcList[i]) == 1;
        EXPECT_NE(inUsb, inCom) << plcList[i] << " must be in exactly one link group";
        EXPECT_EQ(ModelIn(i, USB_ATTACHED_MODELS), inUsb) << plcList[i];
    }
    EXPECT_EQ(aio, (std::set<std::string>{"30TR2-AIO", "RP200-AIO", "TR3-AIO", "HB3-AIO"}));
    EXPECT_EQ(com.count("30TR2-AIO"), 1u);  // the one AIO model on a COM port
    EXPECT_EQ(usb.count("NV26"), 1u);
}

TEST(Catalogue, RowsThatShareAnId) {
    std::map<uint16_t, std::set<std::string>> byId;
    for (uint32_t i = 0; i < PLC_COUNT; ++i) byId[plcID[i]].insert(plcList[i]);
    const std::map<uint16_t, std::set<std::string>> shared = {
        {0x000C, {"QM2-TR2-V2", "QM2-C-V2", "QM2-TR2-V4", "QM2-C-V4"}},
        {0x0013, {"DK2", "DK28"}},
        {0x0015, {"NV", "NV26"}},
        {0x0008, {"HB-V3", "HB-V4"}},
        {0xA001, {"WJB-QM2-V2", "WJB-QM2-V4"}},
        {0x3010, {"RP200", "RP200-AIO", "RP200-TO-RP300"}},
        {0x0020, {"QM3", "TR3-AIO", "QM3-PACKAGE"}},
        {0x0022, {"GW3HB3", "HB3-AIO"}},
    };
    for (const auto& [id, names] : shared) EXPECT_EQ(byId[id], names) << std::hex << id;
    int sharedRows = 0;
    for (const auto& [id, names] : byId)
        if (names.size() > 1) sharedRows += static_cast<int>(names.size());
    EXPECT_EQ(sharedRows, 20);
}

TEST(Catalogue, LookupByExactName) {
    struct Case {
        const char* name;
        bool found;
        uint32_t idx;
        uint16_t id;
    } cases[] = {
        {"QM2-TR2-V2", true, 0, 0x000C},
        {"LC3", true, 6, 0x0000},
        {"RP200", true, 17, 0x3010},
        {"RP200-Z", true, 32, 0xA010},
        {"RP200-TO-RP300", true, 31, 0x3010},
        {"rp200", false, 0, 0},
        {"RP200 ", false, 0, 0},
        {"", false, 0, 0},
        {"RP20", false, 0, 0},
    };
    for (const Case& c : cases) {
        uint32_t idx = 99;
        uint16_t id = 0xFFFF;
        EXPECT_EQ(LookupPLC(c.name, &idx, &id), c.found) << c.name;
        if (c.found) {
            EXPECT_EQ(idx, c.idx) << c.name;
            EXPECT_EQ(id, c.id) << c.name;
        } else {
            EXPECT_EQ(idx, 99u) << c.name;
        }
    }
}

TEST(Catalogue, NamesFitTheirRowsAndAreUnique) {
    std::set<std::string> seen;
    for (uint32_t i = 0; i < PLC_COUNT; ++i) {
        EXPECT_LE(std::strlen(plcList[i]), 14u);
        EXPECT_TRUE(seen.insert(plcList[i]).second) << plcList[i];
        for (size_t k = std::strlen(plcList[i]); k < PLC_NAME_BYTES; ++k)
            EXPECT_EQ(plcList[i][k], '\0') << plcList[i];
    }
    EXPECT_EQ(std::strlen(plcList[31]), 14u);
}

class SharedState : public plctest::EngineTest {};

TEST_F(SharedState, SelectingTheLongestNameKeepsItsNulAndTheNeighbours) {
    SelectPLC(31);
    EXPECT_STREQ(selectedPLC, "RP200-TO-RP300");
    EXPECT_EQ(selectedPLCIdx, 31u);
    EXPECT_EQ(selectedPLCID, 0x3010);
    EXPECT_TRUE(SelectedPLCIs("RP200-TO-RP300"));
    EXPECT_FALSE(SelectedPLCIs("RP200"));
}

TEST_F(SharedState, PortNameIsCopiedWholeAndCutToNineCharacters) {
    char out[PORT_NAME_BYTES];
    SetSelectedComPort("COM12");
    GetSelectedComPort(out);
    EXPECT_STREQ(out, "COM12");
    SetSelectedComPort("ttyUSB1234567");
    GetSelectedComPort(out);
    EXPECT_STREQ(out, "ttyUSB123");
    SetSelectedComPort("ttyS12345");  // exactly the nine that fit
    GetSelectedComPort(out);
    EXPECT_STREQ(out, "ttyS12345");
    SetSelectedComPort("ttyACM1234");  // one more: cut, and still ended by its NUL
    GetSelectedComPort(out);
    EXPECT_STREQ(out, "ttyACM123");
    SetSelectedComPort(nullptr);
    GetSelectedComPort(out);
    EXPECT_STREQ(out, "");
}

TEST_F(SharedState, RunResetClearsThePanelThenClosesTheLinkThenEnablesTheButton) {
    auto peer = std::make_shared<plctest::ScriptedPeer>();
    platform::RegisterVirtualLink("plc", peer);
    hSerial =
        CreateFileA("plc", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hSerial, INVALID_HANDLE_VALUE);
    elapsedTime = 42;
    flashStatus = PROGRAM;
    progress = 77;
    errCounter = 3;
    totalErrCounter = 9;
    onMessage = nullptr;
    bool closedWhenEnabled = false;
    platform::FrontEndHooks hooks;
    hooks.enableWindow = [&](HWND, BOOL) {
        closedWhenEnabled = peer->closes > 0;
        EXPECT_EQ(int32_t(elapsedTime), 0);
        EXPECT_EQ(int32_t(flashStatus), IDLE);
        return TRUE;
    };
    platform::SetFrontEndHooks(hooks);
    ResetRunState(&paramStruct);
    EXPECT_TRUE(closedWhenEnabled) << "a run started with the button would lose its new link";
    EXPECT_EQ(peer->closes, 1);
    EXPECT_EQ(int32_t(progress), 0);
    EXPECT_EQ(int32_t(errCounter), 0);
    EXPECT_EQ(int32_t(totalErrCounter), 0);
    EXPECT_EQ(hSerial, INVALID_HANDLE_VALUE);
    EXPECT_EQ(platform::OpenHandleCount(), 0);
}

}  // namespace
