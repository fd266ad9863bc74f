#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "catalogue/catalogue.h"
#include "cli/command/exit_status.h"
#include "cli/command/texts.h"
#include "cli/program/program.h"
#include "cli/run/frontend.h"
#include "platform/virtual.h"
#include "tests/device/fake_tree.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/scripted_peer.h"

namespace {

const char REPLUG[] = "Please REPLUG the USB Cable, and then press OK to continue";
const char SUCCESS[] = "Firmware update is SUCCESSFUL!, please REPLUG the USB cable";

// What the scripted run observed from inside the worker.
struct Observed {
    std::atomic<int32_t> elapsedAtStop{-1};
    std::atomic<int32_t> elapsedLater{-1};
    std::atomic<bool> countedDuringPrompt{false};
};
Observed* gObserved = nullptr;

// Waits, without sleeping, until pred holds or a real second has passed.
template <typename Pred>
bool SpinUntil(Pred pred) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::yield();
    }
    return true;
}

// A whole run as the worker makes it, on a virtual link: the prompt, both phases, the timer
// stop and the final message, then the run reset.
void ScriptedRun(void* param) {
    auto* p = static_cast<ParamStruct*>(param);
    ClearPlcReport();  // as every run starts
    EnableWindow(p->lParam, FALSE);
    hSerial = CreateFileA("cli-plc", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD n = 0;
    uint8_t reply[3];
    WriteFile(hSerial, "ID", 2, &n, nullptr);
    ReadFile(hSerial, reply, 3, &n, nullptr);
    MessageBoxA(p->hwnd, REPLUG, "Information", MB_ICONINFORMATION);
    gObserved->countedDuringPrompt = SpinUntil([] { return elapsedTime >= 2; });
    flashStatus = ERASE;
    for (int i = 0; i <= 100; i += 5) progress = i;
    flashStatus = PROGRAM;
    for (int i = 0; i <= 100; ++i) {
        progress = i;
        if (i % 25 == 0) ++totalErrCounter;
    }
    KillTimer(p->hwnd, 5);
    gObserved->elapsedAtStop = elapsedTime;
    // Several of this test's short seconds pass while the final message would be open.
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
    while (std::chrono::steady_clock::now() < until) std::this_thread::yield();
    gObserved->elapsedLater = elapsedTime;
    plcReport.outcome = OUTCOME_SUCCESS;
    MessageBoxA(p->hwnd, SUCCESS, "Information", MB_ICONINFORMATION);
    ResetRunState(p);
}

class FrontEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        plctest::ResetSharedState();
        platform::UnregisterAllVirtualLinks();
        peer = std::make_shared<plctest::ScriptedPeer>();
        peer->Then(std::string("\x06\x30\x10", 3));
        platform::RegisterVirtualLink("cli-plc", peer);
        gObserved = &observed;
    }
    void TearDown() override {
        platform::UnregisterAllVirtualLinks();
        gObserved = nullptr;
    }

    plccli::FrontEndConfig Config(bool terminal, bool yes) {
        plccli::FrontEndConfig c;
        c.terminal = terminal;
        c.yes = yes;
        c.tick = std::chrono::milliseconds(1);
        c.second = std::chrono::milliseconds(1);
        return c;
    }

    std::shared_ptr<plctest::ScriptedPeer> peer;
    Observed observed;
};

TEST_F(FrontEndTest, AWholeRunWithThePanelAndTheTimer) {
    struct Case {
        bool terminal;
        bool yes;
        std::string input;
        std::streamoff inputLeft;  // bytes of input not consumed
    };
    const Case cases[] = {
        {false, true, "\n", 1},  // --yes answers by itself
        {false, false, "\nmore", 4},
        {true, false, "\n", 0},
        {false, false, "", 0},  // a closed input: the program is told, which ends there
    };
    static std::atomic<int> endOfInput{0};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.terminal) + std::to_string(c.yes));
        plctest::ResetSharedState();
        std::ostringstream out;
        std::istringstream in(c.input);
        plccli::FrontEndConfig config = Config(c.terminal, c.yes);
        endOfInput = 0;
        config.endOfInput = [](int status) { endOfInput = status; };
        plccli::CliFrontEnd frontEnd(out, out, in, config);
        EXPECT_EQ(frontEnd.Run(&ScriptedRun), plccli::EXIT_SUCCESSFUL);
        EXPECT_EQ(endOfInput, c.input.empty() && !c.yes ? plccli::EXIT_USAGE : 0);
        EXPECT_EQ(out.str().find("end of input at the prompt; answer it, or give --yes\n") !=
                      std::string::npos,
                  endOfInput != 0);

        std::string rest((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(static_cast<std::streamoff>(rest.size()), c.inputLeft);
        EXPECT_EQ(frontEnd.Messages(),
                  (std::vector<std::string>{std::string("[Information] ") + REPLUG,
                                            std::string("[Information] ") + SUCCESS}));
        EXPECT_TRUE(observed.countedDuringPrompt) << "the timer counts through the prompt";
        EXPECT_GE(observed.elapsedAtStop, 2);
        EXPECT_EQ(observed.elapsedLater.load(), observed.elapsedAtStop.load())
            << "no second is counted once the worker stopped the timer";
        EXPECT_EQ(elapsedTime, 0);
        EXPECT_EQ(platform::OpenHandleCount(), 0);

        std::string text = out.str();
        // The last status line before the final message shows the end of the transfer.
        size_t final = text.find(std::string("[Information] ") + SUCCESS);
        ASSERT_NE(final, std::string::npos) << text;
        size_t lastStatus = text.rfind(" s [", final);
        ASSERT_NE(lastStatus, std::string::npos) << text;
        EXPECT_NE(text.find("100%  Programming  errors 0/5", lastStatus), std::string::npos)
            << text;
        EXPECT_EQ(text.find("\r", final), std::string::npos) << "nothing drawn after the end";
        EXPECT_EQ(text.back(), '\n');
        if (c.terminal) {
            EXPECT_NE(text.find("\r"), std::string::npos);
            EXPECT_NE(text.find("\033[K"), std::string::npos);
        } else {
            EXPECT_EQ(text.find("\r"), std::string::npos);
            // A plain line only on a change of what it shows beyond the seconds.
            std::istringstream lines(text);
            std::string previous;
            for (std::string line; std::getline(lines, line);) {
                size_t bar = line.find(" s [");
                if (bar == std::string::npos) continue;
                EXPECT_NE(line.substr(bar), previous) << text;
                previous = line.substr(bar);
            }
        }
        EXPECT_EQ(text.find("press Enter") != std::string::npos, !c.yes);
    }
}

TEST_F(FrontEndTest, ResultsToTheOutputProgressAndPromptsToTheErrorStream) {
    struct Case {
        bool yes, progress;
    };
    for (const Case c : {Case{true, true}, Case{false, true}, Case{true, false}}) {
        plctest::ResetSharedState();
        std::ostringstream out, err;
        std::istringstream in("\n");
        plccli::FrontEndConfig config = Config(false, c.yes);
        config.progress = c.progress;
        plccli::CliFrontEnd frontEnd(out, err, in, config);
        EXPECT_EQ(frontEnd.Run(&ScriptedRun), plccli::EXIT_SUCCESSFUL);
        EXPECT_EQ(out.str(), std::string("[Information] ") + SUCCESS + "\n");
        std::string e = err.str();
        EXPECT_EQ(e.find(" s [") != std::string::npos, c.progress) << e;
        // Under --yes nobody is told to press OK.
        EXPECT_EQ(e.find(REPLUG) != std::string::npos, !c.yes) << e;
        EXPECT_EQ(e.find("plcfwupdate: " + plccli::YesReconnectLine(true)) != std::string::npos,
                  c.yes)
            << e;
    }
}

// A worker that ends at once, as when the link cannot be opened.
void EarlyEnd(void* param) {
    auto* p = static_cast<ParamStruct*>(param);
    ClearPlcReport();  // as every run starts
    EnableWindow(p->lParam, FALSE);
    KillTimer(p->hwnd, 5);
    plcReport.outcome = OUTCOME_FAILURE;
    MessageBoxA(p->hwnd, "CANNOT open USB Port!!!", "ERROR", MB_ICONERROR);
    elapsedTime = 0;
    EnableWindow(p->lParam, TRUE);
}

// A worker that ends without any message (a missing image resource, say).
void SilentEnd(void* param) {
    EnableWindow(static_cast<ParamStruct*>(param)->lParam, TRUE);
}

TEST_F(FrontEndTest, RunsThatEndWithoutSuccessExitOne) {
    for (auto* worker : {&EarlyEnd, &SilentEnd}) {
        plctest::ResetSharedState();
        std::ostringstream out;
        std::istringstream in;
        plccli::CliFrontEnd frontEnd(out, out, in, Config(false, false));
        EXPECT_EQ(frontEnd.Run(worker), plccli::EXIT_FAILED);
    }
}

std::atomic<bool> gTransferring{false};
std::atomic<bool> gRelease{false};

// A worker in the middle of its transfer until the test releases it.
void TransferUntilReleased(void* param) {
    auto* p = static_cast<ParamStruct*>(param);
    ClearPlcReport();  // as every run starts
    EnableWindow(p->lParam, FALSE);
    plcReport.probeResult = ACK;
    flashStatus = PROGRAM;
    progress = 42;
    gTransferring = true;
    SpinUntil([] { return gRelease.load(); });
    KillTimer(p->hwnd, 5);
    plcReport.outcome = OUTCOME_FAILURE;
    MessageBoxA(p->hwnd, "Firmware update is FAILED", "ERROR", MB_ICONERROR);
    ResetRunState(p);
}

TEST_F(FrontEndTest, AnInterruptEndsTheStatusLineWithWhereTheRunStood) {
    gTransferring = false;
    gRelease = false;
    std::ostringstream out;
    std::istringstream in;
    plccli::CliFrontEnd frontEnd(out, out, in, Config(true, true));
    std::thread run([&] { frontEnd.Run(&TransferUntilReleased); });
    ASSERT_TRUE(SpinUntil([] { return gTransferring.load(); }));
    // Let the panel draw at least once, so that a status line is open.
    SpinUntil([&] { return frontEnd.Messages().empty() && elapsedTime > 0; });
    EXPECT_EQ(plccli::CliFrontEnd::Active(), &frontEnd);
    EXPECT_TRUE(frontEnd.Interrupt(plccli::EXIT_INTERRUPTED));
    EXPECT_FALSE(frontEnd.Interrupt(plccli::EXIT_TERMINATED)) << "one line only";
    gRelease = true;
    run.join();
    EXPECT_FALSE(frontEnd.Interrupt(plccli::EXIT_INTERRUPTED)) << "nothing after the run";
    std::string text = out.str();
    size_t at = text.find(
        "plcfwupdate: interrupted during Programming at 42%: the PLC's flash "
        "is erased and partly written");
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_TRUE(at == 0 || text[at - 1] == '\n') << "the status line is ended first: " << text;
    EXPECT_EQ(text.find("FAILED"), std::string::npos) << "nothing after the interrupt: " << text;
}

// Writes and reads on the link while a --trace file is open.
void TracedRun(void* param) {
    auto* p = static_cast<ParamStruct*>(param);
    ClearPlcReport();  // as every run starts
    hSerial = CreateFileA("cli-plc", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    COMMTIMEOUTS t{MAXDWORD, 0, 3000, 0, 3000};
    SetCommTimeouts(hSerial, &t);
    DWORD n = 0;
    uint8_t reply[8];
    WriteFile(hSerial, ":006401590141\r\n", 15, &n, nullptr);
    ReadFile(hSerial, reply, 3, &n, nullptr);
    ReadFile(hSerial, reply, 4, &n, nullptr);  // nothing more comes
    KillTimer(p->hwnd, 5);
    plcReport.outcome = OUTCOME_FAILURE;
    MessageBoxA(p->hwnd, "Firmware update is FAILED", "ERROR", MB_ICONERROR);
    ResetRunState(p);
}

void NoOverride(const char*) {}

TEST_F(FrontEndTest, TraceFileHoldsTheHeaderEveryExchangeAndEvent) {
    plctest::FakeTree tree;
    std::string trace = tree.Path("trace.log").string();
    std::ostringstream out, err;
    std::istringstream in;
    plccli::Io io{out, err, in, false};
    EXPECT_EQ(plccli::Main({"--trace", trace}, "RP200_x.bin", io,
                           plccli::Engine{&TracedRun, &NoOverride}),
              plccli::EXIT_FAILED);
    std::ifstream file(trace);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    const std::vector<std::string> body = {
        "0.000 open cli-plc",
        "0.000 time-outs read 3000 ms, write 3000 ms",
        "0.000 W 15 :006401590141\\r\\n",
        "0.000 R 3 06 30 10",
        "3.000 R timeout (0/4)",  // a silent read: its time-out
        "3.000 close",
    };
    ASSERT_GT(lines.size(), body.size());
    EXPECT_EQ(lines[0].rfind("# plcfwupdate ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[3], "# model   RP200");
    EXPECT_EQ(std::vector<std::string>(lines.end() - body.size(), lines.end()), body);
}

}  // namespace
