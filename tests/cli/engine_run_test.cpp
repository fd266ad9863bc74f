// The front end with the real worker and the simulated PLC on a virtual link: whole updates
// and failures as the command line reports them.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command/exit_status.h"
#include "cli/command/texts.h"
#include "cli/program/program.h"
#include "cli/record_names.h"
#include "cli/run/events.h"
#include "platform/resource_image.h"
#include "platform/virtual.h"
#include "sim/sim.h"
#include "tests/device/fake_tree.h"
#include "tests/support/engine_fixture.h"
#include "update/update.h"

namespace {

const char EMBEDDED[] = "RP200_v1.14.10_20240103_01.bin";
const char LINK[] = "clisim";

class CliEngineRun : public ::testing::Test {
  protected:
    void SetUp() override {
        plctest::ResetSharedState();
        platform::UnregisterAllVirtualLinks();
        platform::SetVirtualSleep(true);
    }
    void TearDown() override {
        platform::UnregisterAllVirtualLinks();
        platform::SetVirtualSleep(false);
        platform::UseEmbeddedResourceImage();
    }

    std::shared_ptr<plcsim::Plc> Attach(const char* model, std::vector<std::string> faults = {}) {
        auto plc = plcsim::Plc::Create(model);
        for (const auto& f : faults) EXPECT_TRUE(plc->AddFault(f)) << f;
        plcsim::AttachVirtual(plc, LINK);
        return plc;
    }

    // Results and progress in one stream, in the order a terminal shows them, unless split.
    int Run(const std::vector<std::string>& args, bool split = false, bool inputTerminal = false) {
        out.str("");
        err.str("");
        plccli::Io io{out, split ? err : out, in, false, inputTerminal};
        return plccli::Main(args, EMBEDDED, io, plccli::Engine{&StartBurn, &SetLinkOverride});
    }

    std::ostringstream out, err;
    std::istringstream in;
};

TEST_F(CliEngineRun, EmbeddedImageIntoAUsbAttachedPlc) {
    auto plc = Attach("RP200");
    EXPECT_EQ(Run({"--port", LINK, "--yes"}), plccli::EXIT_SUCCESSFUL) << out.str() << err.str();
    size_t size = 0;
    const uint8_t* image = platform::EmbeddedImage(&size);
    ASSERT_NE(image, nullptr);
    plcsim::FlashCheck check = plc->CompareFlash(image, size);
    EXPECT_TRUE(check.equal) << check.detail;
    EXPECT_TRUE(plc->Errors().empty());
    std::string text = out.str();
    EXPECT_NE(text.find("plcfwupdate: " + plccli::YesReconnectLine(true) + "\n    "),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("100%  Programming"), std::string::npos) << text;
    EXPECT_NE(
        text.find("[Information] Firmware update is SUCCESSFUL!, please REPLUG the USB cable\n"),
        std::string::npos);
}

TEST_F(CliEngineRun, ImageFileIntoAComPortPlc) {
    plctest::FakeTree tree;
    std::string file = tree.Path("QM2-E_v3.00.bin").string();
    std::vector<uint8_t> image(100000);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
    tree.File("QM2-E_v3.00.bin", std::string(image.begin(), image.end()));
    auto plc = Attach("QM2-E");
    EXPECT_EQ(Run({"--image", file, "--port", LINK, "-y", "-v"}, true), plccli::EXIT_SUCCESSFUL)
        << out.str();
    plcsim::FlashCheck check = plc->CompareFlash(image.data(), image.size());
    EXPECT_TRUE(check.equal) << check.detail;
    // The results on the standard output; -v's summary of what the PLC reported with the progress.
    EXPECT_EQ(out.str(), "[INFORMATION] Firmware update is SUCCESSFUL\n");
    EXPECT_NE(err.str().find(" blocks written\n"), std::string::npos) << err.str();
}

// The lines that tell a step, in the order printed.
std::vector<std::string> StepLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        for (int32_t step = STEP_NONE + 1; step < STEP_COUNT; ++step)
            if (line == std::string("plcfwupdate: ") + plccli::StepSentence(step))
                lines.push_back(line.substr(13));
    return lines;
}

// -v tells each step as it begins; -q leaves the final message alone.
TEST_F(CliEngineRun, StepsAndTheTransferSummaryAsTheOptionsAskForThem) {
    plctest::FakeTree tree;
    tree.File("QM2-E_1.bin", std::string(12345, '\x5A'));
    const std::vector<std::string> steps = {"connecting to the PLC",
                                            "identifying the PLC",
                                            "sending the PLC into its bootloader",
                                            "waiting for the PLC to restart into its bootloader",
                                            "connecting to the PLC",
                                            "identifying the PLC",
                                            "erasing the flash",
                                            "writing the image",
                                            "every block written; finishing"};
    struct Case {
        const char* option;
        bool steps, summary;
    };
    const Case cases[] = {{"-v", true, true}, {"--yes", false, true}, {"-q", false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        plctest::ResetSharedState();
        Attach("QM2-E");
        EXPECT_EQ(
            Run({"--image", tree.Path("QM2-E_1.bin").string(), "--port", LINK, "--yes", c.option}),
            plccli::EXIT_SUCCESSFUL);
        std::string text = out.str();
        EXPECT_EQ(StepLines(text), c.steps ? steps : std::vector<std::string>{}) << text;
        EXPECT_EQ(text.find("plcfwupdate: wrote 12345 bytes") != std::string::npos, c.summary)
            << text;
        if (c.option == std::string("-q")) {
            EXPECT_EQ(text, "[INFORMATION] Firmware update is SUCCESSFUL\n");
        }
    }
}

TEST_F(CliEngineRun, FailuresExitOneWithTheirMessage) {
    struct Case {
        std::vector<std::string> faults;
        const char* message;
    };
    const Case cases[] = {
        {{"runmode"}, "[ERROR] PLC in RUN MODE\n"},
        {{"silent"}, "[ERROR] NO RESPONSE @ State 1\n"},
        {{"nok-block:10"},
         "[ERROR] Flash write error, maybe due to flash write protection. RE-POWER PLC and update "
         "FW again\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.faults[0]);
        plctest::ResetSharedState();
        auto plc = Attach("RP200", c.faults);
        EXPECT_EQ(Run({"--port", LINK, "--yes"}), plccli::EXIT_FAILED);
        EXPECT_NE(out.str().find(c.message), std::string::npos) << out.str();
        // The advice after a flash write error goes with its message: re-power first.
        bool rePower = c.faults[0] == "nok-block:10";
        EXPECT_EQ(out.str().find("Re-power the PLC, then running the same command again") !=
                      std::string::npos,
                  rePower)
            << out.str();
        EXPECT_EQ(platform::OpenHandleCount(), 0);
        EXPECT_EQ(platform::LoadedResourceCount(), 0);
    }
}

// After a failure that the PLC's report explains, one line says what to do.
TEST_F(CliEngineRun, HintsAfterFailuresThePlcExplains) {
    struct Case {
        const char* plcModel;
        std::vector<std::string> faults;
        std::string message;
        std::string hint;  // "": none
    };
    const Case cases[] = {
        {"QM2-E",
         {"runmode"},
         "[ERROR] PLC in RUN MODE",
         "plcfwupdate: hint: the PLC runs its program (RUN mode); switch it to STOP and run the "
         "same command again"},
        {"DK2",
         {},
         "[ERROR] NO RESPONSE @ State 2",
         "plcfwupdate: hint: the PLC reports the id 0x0013, that of DK2, DK28, not that of QM2-E "
         "(0x0017); use the image for the PLC's model"},
        {"QM2-E",
         {"silent"},
         "[ERROR] NO RESPONSE @ State 1",
         "plcfwupdate: hint: no answer from the PLC on clisim: check the cable, that the PLC is "
         "powered, that this is its port (see --list-ports), and that QM2-E is reached through a "
         "serial port"},
    };
    plctest::FakeTree tree;
    tree.File("QM2-E_1.bin", std::string(10000, '\x5A'));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        plctest::ResetSharedState();
        Attach(c.plcModel, c.faults);
        EXPECT_EQ(Run({"--image", tree.Path("QM2-E_1.bin").string(), "--port", LINK, "--yes"}),
                  plccli::EXIT_FAILED);
        std::string text = out.str();
        EXPECT_NE(text.find(c.message + "\n" + c.hint), std::string::npos) << text;
        EXPECT_EQ(text.find("hint:") != std::string::npos, !c.hint.empty()) << text;
    }
}

// --info on PLCs of every kind: what it prints, its exit status, and that the PLC got no request
// that changes it.
TEST_F(CliEngineRun, InfoIdentifiesThePlcAndChangesNothing) {
    struct Case {
        const char* selected;
        const char* plcModel;
        void (*configure)(plcsim::Config*);
        std::vector<std::string> faults;
        int status;
        std::vector<std::string> lines;
    };
    const int stop = plccli::EXIT_WOULD_STOP;
    const Case cases[] = {
        {"QM2-E",
         "QM2-E",
         nullptr,
         {},
         0,
         {"image:          10000 bytes; QM2-E takes at most 917504 bytes",
          "mode:           application firmware", "model id:       0x0017: QM2-E",
          "bootloader:     V1.4", "identity check: passed", "rules and gate: passed",
          "verdict:        the update would go on to erase and write the image"}},
        {"QM2-E",
         "QM2-E",
         [](plcsim::Config* c) { c->start = plcsim::StartMode::Boot; },
         {},
         0,
         {"mode:           bootloader", "model id:       0x0017: QM2-E", "bootloader:     V1.4",
          "rules and gate: passed"}},
        {"QM2-E",
         "DK2",
         nullptr,
         {},
         stop,
         {"model id:       0x0013: DK2, DK28",
          "identity check: fails: the PLC reports the id 0x0013, that of DK2, DK28, not that of "
          "QM2-E (0x0017); it needs an image for DK2 or DK28",
          "rules and gate: not reached",
          "verdict:        the update would stop with [ERROR] NO RESPONSE @ State 2"}},
        {"QM2-C-V4",
         "QM2-C-V4",
         [](plcsim::Config* c) {
             c->d1386 = 16696;
             c->d1001 = 0x31;
         },
         {},
         stop,
         {"D1386:          16696 = 0x4138 (QM2-C family)",
          "D1001:          49 = 0x0031 (generation V2/V3)", "identity check: passed",
          "rules and gate: fails: [ERROR] QM2-C V2.xx / V3.xx CAN NOT upgrade to V4.xx "}},
        {"TR3-AIO",
         "TR3-AIO",
         [](plcsim::Config* c) {
             c->start = plcsim::StartMode::Boot;
             c->bootVersion = 0x10;
         },
         {},
         stop,
         {"bootloader:     V1.0",
          "rules and gate: fails: [ERROR] The bootloader version is V1.0, do not support AIO FW "
          "update"}},
        {"QM2-E",
         "QM2-E",
         nullptr,
         {"runmode"},
         stop,
         {"mode:           application firmware in RUN mode", "identity check: not reached",
          "verdict:        the update would stop with [ERROR] PLC in RUN MODE"}},
        {"QM2-E",
         "QM2-E",
         nullptr,
         {"silent"},
         1,
         {"mode:           no answer (NO RESPONSE @ State 1)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.selected) + " on " + c.plcModel);
        plctest::ResetSharedState();
        plcsim::Config config;
        ASSERT_TRUE(plcsim::DefaultConfig(c.plcModel, &config));
        if (c.configure) c.configure(&config);
        auto plc = std::make_shared<plcsim::Plc>(config);
        for (const auto& f : c.faults) EXPECT_TRUE(plc->AddFault(f)) << f;
        plcsim::AttachVirtual(plc, LINK);
        plctest::FakeTree tree;
        tree.File("image.bin", std::string(10000, '\x5A'));
        EXPECT_EQ(Run({"--info", "--model", c.selected, "--port", LINK, "--image",
                       tree.Path("image.bin").string()}),
                  c.status);
        for (const auto& line : c.lines)
            EXPECT_NE(out.str().find(line + "\n"), std::string::npos) << line << "\n" << out.str();
        plcsim::Counters seen = plc->GetCounters();
        for (plcsim::Kind k : {plcsim::Kind::Enter, plcsim::Kind::Confirm, plcsim::Kind::Erase,
                               plcsim::Kind::Update, plcsim::Kind::Block})
            EXPECT_EQ(seen.Seen(k), 0u) << "request kind " << static_cast<int>(k);
        EXPECT_EQ(platform::OpenHandleCount(), 0);
    }
}

TEST_F(CliEngineRun, EventsFollowTheRunToItsOutcome) {
    auto plc = Attach("RP200");
    // -v adds lines of its own, which go to the standard error with events.
    EXPECT_EQ(Run({"--port", LINK, "--yes", "--events", "-v"}, true), plccli::EXIT_SUCCESSFUL)
        << out.str();
    EXPECT_NE(err.str().find("8096 of 8096 blocks written"), std::string::npos) << err.str();
    std::vector<std::string> events;
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);) {
        EXPECT_EQ(line.rfind("{\"event\":", 0), 0u) << line;
        events.push_back(line);
    }
    ASSERT_GE(events.size(), 4u) << out.str();
    EXPECT_EQ(plccli::EventField(events.front(), "event"), "start");
    EXPECT_EQ(plccli::EventField(events.front(), "model"), "RP200");
    EXPECT_EQ(plccli::EventField(events.back(), "event"), "outcome");
    EXPECT_EQ(plccli::EventField(events.back(), "exit_status"), "0");
    bool prompt = false, programming = false, full = false;
    for (const auto& e : events) {
        prompt = prompt || plccli::EventField(e, "event") == "prompt";
        programming = programming || plccli::EventField(e, "status") == "Programming";
        full = full || plccli::EventField(e, "percent") == "100";
    }
    EXPECT_TRUE(prompt && programming && full) << out.str();
}

// Nothing changes the PLC before the operator consents: a terminal is asked once, after the
// checks; without a terminal or --yes the run stops there; --info never asks. In application
// mode the enter-bootloader request is the first change, in bootloader mode the erase.
TEST_F(CliEngineRun, ConsentBeforeThePlcIsChanged) {
    plctest::FakeTree tree;
    tree.File("QM2-E_1.bin", std::string(12345, '\x5A'));
    const std::string image = tree.Path("QM2-E_1.bin").string();
    const char QUESTION[] = "Update this PLC? [y/N] ";
    const char NOT_ASKED[] = "";
    struct Case {
        const char* name;
        bool terminal;
        const char* input;
        const char* option;
        plcsim::StartMode start;
        int status;
        bool written;
        const char* question;  // NOT_ASKED: no question printed
        const char* last;      // the run's last line
    };
    const auto APP = plcsim::StartMode::App, BOOT = plcsim::StartMode::Boot;
    const char* const SUCCESS = "[INFORMATION] Firmware update is SUCCESSFUL";
    const char* const NO_APP =
        "plcfwupdate: not updated: the answer was not y; the PLC still runs its application "
        "firmware and was not changed";
    const Case cases[] = {
        {"terminal, y", true, "y\n", nullptr, APP, 0, true, QUESTION, SUCCESS},
        {"terminal, Yes", true, " Yes \n", nullptr, APP, 0, true, QUESTION, SUCCESS},
        {"terminal, n", true, "n\n", nullptr, APP, 2, false, QUESTION, NO_APP},
        {"terminal, empty", true, "\n", nullptr, APP, 2, false, QUESTION, NO_APP},
        {"terminal, yess", true, "yess\n", nullptr, APP, 2, false, QUESTION, NO_APP},
        {"terminal, end of input", true, "", nullptr, APP, 2, false, QUESTION, NO_APP},
        {"terminal, bootloader, n", true, "n\n", nullptr, BOOT, 2, false, QUESTION,
         "plcfwupdate: not updated: the answer was not y; the PLC waits in its bootloader, its "
         "flash not yet erased"},
        {"no terminal", false, "y\n", nullptr, APP, 2, false, NOT_ASKED,
         "plcfwupdate: not updated: give --yes to update without asking; the PLC still runs its "
         "application firmware and was not changed"},
        {"--yes", true, "n\n", "--yes", APP, 0, true, NOT_ASKED, SUCCESS},
        {"-y, no terminal", false, "", "-y", BOOT, 0, true, NOT_ASKED, SUCCESS},
        {"--info", true, "y\n", "--info", APP, 0, false, NOT_ASKED,
         "verdict:        the update would go on to erase and write the image"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        plctest::ResetSharedState();
        plcsim::Config config;
        ASSERT_TRUE(plcsim::DefaultConfig("QM2-E", &config));
        config.start = c.start;
        auto plc = std::make_shared<plcsim::Plc>(config);
        plcsim::AttachVirtual(plc, LINK);
        tree.File("runs.jsonl", "");
        in.clear();
        in.str(c.input);
        std::vector<std::string> args = {"--image", image,      "--port",
                                         LINK,      "--record", tree.Path("runs.jsonl").string()};
        if (c.option != nullptr) args.push_back(c.option);
        EXPECT_EQ(Run(args, true, c.terminal), c.status) << out.str() << err.str();
        plcsim::Counters seen = plc->GetCounters();
        EXPECT_EQ(seen.Seen(plcsim::Kind::Enter) + seen.Seen(plcsim::Kind::Erase) > 0, c.written);
        EXPECT_EQ(seen.updatesCompleted, c.written ? 1u : 0u);
        std::string e = err.str();
        EXPECT_EQ(e.find(QUESTION) != std::string::npos, c.question == QUESTION) << e;
        if (c.question == QUESTION) {
            // Asked once, naming the PLC as it answered, the port and the image.
            EXPECT_EQ(e.find(QUESTION), e.rfind(QUESTION)) << e;
            std::string mode = c.start == BOOT ? "bootloader" : "application";
            EXPECT_NE(e.find("plcfwupdate: PLC:   QM2-E (id 0x0017), in " + mode +
                             " mode\nplcfwupdate: port:  " + LINK +
                             "\nplcfwupdate: image: QM2-E_1.bin, 12345 bytes, SHA-256 " +
                             plccli::Sha256Hex(reinterpret_cast<const uint8_t*>(
                                                   std::string(12345, '\x5A').data()),
                                               12345)
                                 .substr(0, 12) +
                             "\n"),
                      std::string::npos)
                << e;
        }
        std::string o = out.str();
        EXPECT_NE(o.find(std::string(c.last) + "\n"), std::string::npos) << o;
        std::ifstream record(tree.Path("runs.jsonl"));
        std::string line;
        std::getline(record, line);
        EXPECT_NE(line.find("\"exit_status\":" + std::to_string(c.status)), std::string::npos)
            << line;
        if (c.status == plccli::EXIT_USAGE) {
            EXPECT_NE(line.find("\"message\":\"" + std::string(c.last).substr(13) + "\""),
                      std::string::npos)
                << line;
            EXPECT_NE(line.find("\"entered_bootloader\":false"), std::string::npos) << line;
        }
        EXPECT_EQ(platform::OpenHandleCount(), 0);
    }
}

TEST_F(CliEngineRun, NoPlcOnTheLink) {
    EXPECT_EQ(Run({"--port", "/nonexistent/plc", "--yes"}), plccli::EXIT_FAILED);
    EXPECT_NE(out.str().find("[ERROR] CANNOT open /nonexistent/plc Port!!!\n"), std::string::npos)
        << out.str();
}

}  // namespace
