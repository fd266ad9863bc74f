// The front end with the real worker and the simulated PLC on a virtual link: whole updates
// and failures as the command line reports them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
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
        const char* model = "RP200";
        uint64_t imageBytes = 0;  // an --image file of this size (sparse); 0: the embedded image
    };
    // An image over the model's maximum, one byte or far over, for every size class: the run's
    // own size check ends it (the file is judged by its size, unread).
    const Case cases[] = {
        {{"runmode"}, "[ERROR] PLC in RUN MODE\n"},
        {{"silent"}, "[ERROR] NO RESPONSE @ State 1\n"},
        {{"nok-block:10"},
         "[ERROR] Flash write error, maybe due to flash write protection. RE-POWER PLC and update "
         "FW again\n"},
        {{},
         "[ERROR] The file size EXCEEDS the MAXIMUM size (128 * 1024 * 4)\n",
         "QM2-C-V2",
         524289},
        {{}, "[ERROR] The file size EXCEEDS the MAXIMUM size (128 * 1024 * 7)\n", "QM2-E", 917505},
        {{}, "[ERROR] The file size EXCEEDS the MAXIMUM size (4 * 1024)\n", "30TR2-AIO", 12289},
        {{}, "[ERROR] The file size EXCEEDS the MAXIMUM size (40 * 1024)\n", "RP200-AIO", 40961},
        {{}, "[ERROR] The file size EXCEEDS the MAXIMUM size (2028 * 1024)\n", "RP200", 2076673},
        {{}, "[ERROR] The file size EXCEEDS the MAXIMUM size (2 * 1024 * 240)\n", "PN2", 493569},
        {{}, "[ERROR] The file size EXCEEDS the MAXIMUM size (2028 * 1024)\n", "RP200", 64 << 20},
        {{},
         "[ERROR] The file size EXCEEDS the MAXIMUM size (2 * 1024 * 240)\n",
         "PN2",
         (4ull << 30) + 1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " " + c.message);
        plctest::ResetSharedState();
        auto plc = Attach(c.model, c.faults);
        plctest::FakeTree tree;
        std::vector<std::string> args = {"--port", LINK, "--yes"};
        if (c.imageBytes != 0) {
            tree.File(std::string(c.model) + "_1.bin");
            std::filesystem::resize_file(tree.Path(std::string(c.model) + "_1.bin"), c.imageBytes);
            args.insert(args.end(),
                        {"--image", tree.Path(std::string(c.model) + "_1.bin").string()});
        }
        EXPECT_EQ(Run(args), plccli::EXIT_FAILED);
        EXPECT_NE(out.str().find(c.message), std::string::npos) << out.str();
        // The advice after a flash write error goes with its message: re-power first.
        bool rePower = !c.faults.empty() && c.faults[0] == "nok-block:10";
        EXPECT_EQ(out.str().find("Re-power the PLC, then running the same command again") !=
                      std::string::npos,
                  rePower)
            << out.str();
        EXPECT_EQ(platform::OpenHandleCount(), 0);
        EXPECT_EQ(platform::LoadedResourceCount(), 0);
        if (c.imageBytes == 0) continue;
        // The size check comes before the link: the PLC heard nothing. The line after the
        // message, the outcome event and the record line give the file's own size.
        EXPECT_EQ(plc->GetCounters().Seen(plcsim::Kind::Wakeup), 0u);
        std::string message(c.message, std::strlen(c.message) - 1);
        std::string size = std::to_string(c.imageBytes);
        EXPECT_NE(out.str().find(message + "\nplcfwupdate: the image is " + size + " bytes; " +
                                 c.model + " takes at most"),
                  std::string::npos)
            << out.str();
        args.insert(args.end(), {"--events", "--record", tree.Path("runs.jsonl").string()});
        EXPECT_EQ(Run(args, true), plccli::EXIT_FAILED);
        std::string last = out.str().substr(out.str().rfind("{\"event\":"));
        EXPECT_EQ(plccli::EventField(last, "event"), "outcome");
        EXPECT_EQ(plccli::EventField(last, "caption"), "ERROR");
        EXPECT_EQ(plccli::EventField(last, "message"), message.substr(8));
        EXPECT_EQ(plccli::EventField(last, "exit_status"), "1");
        std::ifstream record(tree.Path("runs.jsonl"));
        std::string line;
        ASSERT_TRUE(std::getline(record, line));
        EXPECT_NE(line.find("\"bytes\":" + size + ",\"sha256\":\"\""), std::string::npos) << line;
        EXPECT_NE(line.find("\"final\":{\"caption\":\"ERROR\",\"message\":\"" + message.substr(8)),
                  std::string::npos)
            << line;
        EXPECT_NE(line.find("\"exit_status\":1"), std::string::npos) << line;
        // The blocks such an image would take, however large it is (not from its low 32 bits).
        size_t blocksAt = line.find("\"blocks_total\":");
        ASSERT_NE(blocksAt, std::string::npos) << line;
        EXPECT_GE(std::stoull(line.substr(blocksAt + 15)),
                  std::min<uint64_t>(c.imageBytes, UINT32_MAX) / 512)
            << line;
        // The size check comes before the link, whatever the port is.
        tree.File("not-a-port");
        args = {"--port", tree.Path("not-a-port").string(), "--yes", "--image", args[4]};
        EXPECT_EQ(Run(args), plccli::EXIT_FAILED);
        EXPECT_NE(out.str().find(c.message), std::string::npos) << out.str();
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
        uint64_t imageBytes = 10000;
    };
    const int stop = plccli::EXIT_WOULD_STOP;
    const Case cases[] = {
        // The size is checked first, as an update checks it: the PLC is not asked.
        {"QM2-E",
         "QM2-E",
         nullptr,
         {},
         stop,
         {"image:          the image is 1048576 bytes; QM2-E takes at most 917504 bytes",
          "verdict:        the update would stop with [ERROR] The file size EXCEEDS the MAXIMUM "
          "size (128 * 1024 * 7)"},
         1048576},
        {"30TR2-AIO",
         "30TR2-AIO",
         nullptr,
         {},
         stop,
         {"image:          the image is 12289 bytes; 30TR2-AIO takes at most 12288 bytes",
          "verdict:        the update would stop with [ERROR] The file size EXCEEDS the MAXIMUM "
          "size (4 * 1024)"},
         12289},
        {"PN2",
         "PN2",
         nullptr,
         {},
         0,
         {"image:          493568 bytes; PN2 takes at most 493568 bytes"},
         493568},
        {"RP200",
         "RP200",
         nullptr,
         {},
         0,
         {"image:          2076672 bytes; RP200 takes at most 2076672 bytes"},
         2076672},
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
        tree.File("image.bin");
        std::filesystem::resize_file(tree.Path("image.bin"), c.imageBytes);
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

namespace {

// Behind a USB-serial adapter whose latency timer holds every reply 16 ms, the run says once, on
// the error stream and in --events, what the replies cost, and its record carries the figures;
// behind one of 1 ms it says nothing. The application-mode exchanges keep working behind both.
TEST_F(CliEngineRun, RepliesHeldByAnAdapterAreSaidOnce) {
    plctest::FakeTree tree;
    tree.File("QM2-E_1.bin", std::string(128 * 100, '\x33'));
    const std::string word = "plcfwupdate: each reply comes about ";
    struct Case {
        uint32_t adapterMs;
        const char* said;  // nullptr: nothing
        const char* median;
    };
    const Case cases[] = {
        {16,
         "each reply comes about 18 ms after its block: the update takes about 2.6 times the "
         "line's time; a USB-serial adapter's latency timer is the usual cause: set it to 1 ms "
         "(Windows: Device Manager, the port, Port Settings, Advanced)\n",
         "\"turnaround_ms\":{\"median\":18.4,"},
        {1, nullptr, "\"turnaround_ms\":{\"median\":3.4,"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.adapterMs) + " ms");
        plctest::ResetSharedState();
        auto plc = Attach("QM2-E");
        plcsim::Config cfg = plc->GetConfig();
        cfg.pace = true;
        cfg.adapterLatencyMs = c.adapterMs;
        plc->SetConfig(cfg);
        std::string record = tree.Path("runs.jsonl").string();
        std::remove(record.c_str());
        EXPECT_EQ(Run({"--image", tree.Path("QM2-E_1.bin").string(), "--port", LINK, "--yes",
                       "--events", "--record", record},
                      true),
                  plccli::EXIT_SUCCESSFUL)
            << err.str();
        size_t at = err.str().find(word);
        EXPECT_EQ(at != std::string::npos, c.said != nullptr) << err.str();
        if (c.said != nullptr && at != std::string::npos) {
            EXPECT_EQ(err.str().substr(at + 13, std::string(c.said).size()), c.said);
            EXPECT_EQ(err.str().find(word, at + 1), std::string::npos) << "once";
        }
        size_t events = 0;
        std::istringstream lines(out.str());
        for (std::string line; std::getline(lines, line);)
            events += plccli::EventField(line, "event") == "slow_replies";
        EXPECT_EQ(events, c.said != nullptr ? 1u : 0u) << out.str();
        std::ifstream file(record);
        std::string line;
        std::getline(file, line);
        EXPECT_NE(line.find(c.median), std::string::npos) << line;
    }
}

}  // namespace
