#include <gtest/gtest.h>

#include <string>

#include "catalogue/catalogue.h"
#include "cli/command/texts.h"
#include "cli/run/status_line.h"

namespace {

using plccli::PanelSnapshot;

TEST(StatusLine, ShowsEveryItemOfThePanel) {
    struct Case {
        PanelSnapshot s;
        plccli::TransferFigures t;
        std::string line;
    };
    const Case cases[] = {
        {{0, 0, IDLE, 0, 0}, {}, "    0 s [................]   0%  Idle         errors 0/0"},
        // Before the erase the step stands where the panel says "Idle".
        {{0, 0, IDLE, 0, 0, STEP_CONNECTING},
         {},
         "    0 s [................]   0%  connecting   errors 0/0"},
        {{1, 0, IDLE, 0, 0, STEP_IDENTIFYING},
         {},
         "    1 s [................]   0%  identifying  errors 0/0"},
        {{2, 0, IDLE, 1, 1, STEP_ENTERING_BOOTLOADER},
         {},
         "    2 s [................]   0%  entering bootloader  errors 1/1"},
        {{3, 0, IDLE, 0, 0, STEP_WAITING_FOR_REPLUG},
         {},
         "    3 s [................]   0%  waiting for replug  errors 0/0"},
        {{9, 0, IDLE, 0, 0, STEP_WAITING_FOR_REPLUG, true},
         {},
         "    9 s [................]   0%  waiting for the PLC's USB device  errors 0/0"},
        {{4, 0, IDLE, 0, 0, STEP_WAITING_FOR_POWER_CYCLE},
         {},
         "    4 s [................]   0%  waiting for power cycle  errors 0/0"},
        {{7, 1, ERASE, 0, 0, STEP_ERASING},
         {},
         "    7 s [................]   1%  Erasing      errors 0/0"},
        // While programming: bytes done of total, then rate and time left once there is a rate.
        {{7, 31, PROGRAM, 0, 0, STEP_PROGRAMMING},
         {20480, 65536, 10035.2},
         "    7 s [####............]  31%  Programming  20480/65536 B  9.8 KiB/s  0:05 left  "
         "errors 0/0"},
        {{5, 31, PROGRAM, 0, 0, STEP_PROGRAMMING},
         {20480, 65536, 0},
         "    5 s [####............]  31%  Programming  20480/65536 B  errors 0/0"},
        {{200, 50, PROGRAM, 12, 345, STEP_PROGRAMMING},
         {1036288, 2072576, 11264},
         "  200 s [########........]  50%  Programming  1012/2024 KiB  11.0 KiB/s  1:32 left  "
         "errors 12/345"},
        {{9, 1, PROGRAM, 0, 0, STEP_PROGRAMMING},
         {512, 65536, 10},
         "    9 s [................]   1%  Programming  512/65536 B  0.0 KiB/s  1:48:23 left  "
         "errors 0/0"},
        {{61, 100, PROGRAM, 2, 7, STEP_FINISHING},
         {65536, 65536, 3 * 1048576.0},
         "   61 s [################] 100%  Programming  65536/65536 B  3.0 MiB/s  0:00 left  "
         "errors 2/7"},
        {{61, 50, PROGRAM, 2, 7}, {}, "   61 s [########........]  50%  Programming  errors 2/7"},
        // Values the run never produces stay inside the line's frame.
        {{-1, 250, 9, -3, 0}, {}, "   -1 s [################] 250%               errors -3/0"},
        {{0, -20, -1, 0, 0, 99}, {}, "    0 s [................] -20%               errors 0/0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(plccli::StatusLine(c.s, c.t), c.line);
        EXPECT_LT(c.line.size(), 100u);
    }
}

TEST(StatusLine, FitsTheTerminalKeepingRateAndTimeLeftUntilAnErrorComes) {
    const PanelSnapshot clean{7, 31, PROGRAM, 0, 0, STEP_PROGRAMMING};
    const PanelSnapshot failing{7, 31, PROGRAM, 1, 3, STEP_PROGRAMMING};
    const plccli::TransferFigures t{20480, 65536, 10035.2};
    struct Case {
        size_t width;
        std::string clean, failing;
    };
    const std::string bar = "    7 s [####............]  31%  Programming  ";
    const std::string half = "    7 s [##......]  31%  Programming  ";
    const Case cases[] = {
        {120, bar + "20480/65536 B  9.8 KiB/s  0:05 left  errors 0/0",
         bar + "20480/65536 B  9.8 KiB/s  0:05 left  errors 1/3"},
        {90, bar + "20480/65536 B  9.8 KiB/s  0:05 left",
         bar + "20480/65536 B  0:05 left  errors 1/3"},
        {80, half + "20480/65536 B  9.8 KiB/s  0:05 left", bar + "20480/65536 B  errors 1/3"},
        {60, half + "9.8 KiB/s  0:05 left", bar + "errors 1/3"},
        {56, half + "0:05 left", half + "errors 1/3"},
        {40, "    7 s  31%  Programming  0:05 left", "    7 s  31%  Programming  errors 1/3"},
        {20, "    7 s  31%  Progr", "    7 s  31%  Progr"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(plccli::StatusLine(clean, t, c.width), c.clean);
        EXPECT_EQ(plccli::StatusLine(failing, t, c.width), c.failing);
    }
    // Whatever the step, a line never reaches the last column.
    for (size_t width : {40u, 60u, 80u, 120u})
        for (int32_t step = STEP_NONE; step < STEP_COUNT; ++step)
            EXPECT_LT(plccli::StatusLine({3599, 100, IDLE, 999, 9999, step}, t, width).size(),
                      width);
}

TEST(TransferMeter, RateFromTheFirstLookAtTheTransfer) {
    using Clock = plccli::TransferMeter::Clock;
    const Clock::time_point t0{};
    struct Sample {
        bool programming;
        uint64_t bytes;
        int ms;
        double rate, seconds;  // after the sample
    };
    const Sample samples[] = {
        {false, 0, 0, 0, 0},                      // erasing: not yet looked at
        {true, 1024, 500, 0, 0},                  // the first look, blocks already done
        {true, 3072, 900, 0, 0.4 * 3072 / 2048},  // under a second: no rate yet
        {true, 11264, 1500, 10240, 1.0 * 11264 / 10240},
        {true, 11264, 2500, 5120, 1.0 * 11264 / 10240},   // a stall lowers the rate, not the time
        {false, 11264, 9000, 5120, 1.0 * 11264 / 10240},  // after the run: ignored
    };
    plccli::TransferMeter meter;
    for (const auto& s : samples) {
        SCOPED_TRACE(s.ms);
        meter.Sample(s.programming, s.bytes, t0 + std::chrono::milliseconds(s.ms));
        EXPECT_DOUBLE_EQ(meter.Rate(), s.rate);
        EXPECT_NEAR(meter.Seconds(), s.seconds, 1e-9);
    }
    EXPECT_EQ(meter.DoneBytes(), 11264u);
    EXPECT_EQ(plccli::TransferSummary(65536, 7.2), "wrote 65536 bytes in 7.2 s (8.9 KiB/s)");
    EXPECT_EQ(plccli::TransferSummary(768, 0), "wrote 768 bytes");
}

TEST(PlainLineDue, OnAChangeOfPhaseStepTensOrErrors) {
    const PanelSnapshot base{5, 42, PROGRAM, 0, 3};
    struct Case {
        PanelSnapshot now;
        bool due;
    };
    const Case cases[] = {
        {{6, 42, PROGRAM, 0, 3}, false},  // seconds alone
        {{5, 49, PROGRAM, 0, 3}, false},  // within the same ten
        {{5, 50, PROGRAM, 0, 3}, true},
        {{5, 42, ERASE, 0, 3}, true},
        {{5, 42, PROGRAM, 1, 3}, true},
        {{5, 42, PROGRAM, 0, 4}, true},
        {{5, 42, PROGRAM, 0, 3, STEP_FINISHING}, true},
        {{0, 0, IDLE, 0, 0}, true},
    };
    for (const auto& c : cases) EXPECT_EQ(plccli::PlainLineDue(base, c.now), c.due);
}

TEST(Messages, PrintedWithTheirCaption) {
    struct Case {
        const char* caption;
        const char* text;
        const char* line;
    };
    const Case cases[] = {
        {"ERROR", "CANNOT open USB Port!!!", "[ERROR] CANNOT open USB Port!!!"},
        {"Information", "Please REPLUG the USB Cable, and then press OK to continue",
         "[Information] Please REPLUG the USB Cable, and then press OK to continue"},
        {"INFORMATION", "Firmware update is SUCCESSFUL",
         "[INFORMATION] Firmware update is SUCCESSFUL"},
        {nullptr, nullptr, "[] "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(plccli::MessageLine(c.caption, c.text), c.line);
    }
}

TEST(InterruptedLine, TellsThePhaseAndWhatThePlcIsLeftAs) {
    struct Case {
        int exitStatus;
        plccli::RunPoint point;
        std::string line;
    };
    const std::string again = ". Running the same command again completes the update.";
    const Case cases[] = {
        {130, {IDLE, 0, -1, false}, "interrupted before erasing began: the PLC was not changed"},
        {130,
         {IDLE, 0, ERR | NORESPONSE, false},
         "interrupted before erasing began: the PLC was not changed"},
        {143,
         {IDLE, 0, ENQ, false},
         "terminated before erasing began: the PLC still runs its application firmware and was "
         "not changed"},
        // Sent into its bootloader, waiting for the replug: the probe last saw the application.
        {130,
         {IDLE, 0, ENQ, true, STEP_WAITING_FOR_REPLUG},
         "interrupted while waiting for replug, before erasing began: the PLC waits in its "
         "bootloader, its flash not yet erased"},
        {130,
         {ERASE, 37, ACK, false},
         "interrupted during Erasing at 37%: the PLC's flash is partly erased and the PLC stays "
         "in its bootloader"},
        {130,
         {ERASE, 100, ACK, false},
         "interrupted during Erasing at 100%: the PLC's flash is erased and the PLC stays in its "
         "bootloader"},
        {143,
         {PROGRAM, 42, ACK, true},
         "terminated during Programming at 42%: the PLC's flash is erased and partly written, "
         "and the PLC stays in its bootloader"},
        // A failure (exit 1) says the same once the erase has begun, nothing before.
        {1,
         {PROGRAM, 42, ACK, true},
         "failed during Programming at 42%: the PLC's flash is erased and partly written, and "
         "the PLC stays in its bootloader"},
        {1,
         {ERASE, 100, ACK, false},
         "failed during Erasing at 100%: the PLC's flash is erased "
         "and the PLC stays in its bootloader"},
        {1, {IDLE, 0, ENQ, true, STEP_WAITING_FOR_REPLUG}, ""},
    };
    for (const auto& c : cases) {
        std::string line = c.exitStatus == 1 ? plccli::FailedLine(c.point)
                                             : plccli::InterruptedLine(c.exitStatus, c.point);
        EXPECT_EQ(line, c.line.empty() ? "" : c.line + again);
    }
    // The transfer shows 100 % once its end is acknowledged: the whole image is in, whatever the
    // run did not get to show; and an outcome already shown stands.
    EXPECT_EQ(plccli::InterruptedLine(131, {PROGRAM, 100, ACK, true, STEP_FINISHING}),
              "terminated after the transfer had ended: the PLC's flash holds the whole image, "
              "every block and the transfer's end acknowledged by its bootloader. Nothing needs "
              "writing again.");
    // A station's failed unit is set aside, not run again.
    EXPECT_EQ(plccli::FailedLine({PROGRAM, 42, ACK, true}, true),
              "failed during Programming at 42%: the PLC's flash is erased and partly written, and "
              "the PLC stays in its bootloader.");
    // After a message that asks for a re-power, the advice asks for it too.
    EXPECT_EQ(plccli::FailedLine({PROGRAM, 42, ACK, true}, false, true),
              "failed during Programming at 42%: the PLC's flash is erased and partly written, and "
              "the PLC stays in its bootloader. Re-power the PLC, then running the same command "
              "again completes the update.");
    EXPECT_EQ(plccli::EndedRunLine(130, 0),
              "interrupted after the run had ended: its outcome stands, exit status 0");
}

TEST(Sha256, KnownVectors) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnop"
         "qrlmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        // 55, 56 and 64 bytes: the length still fits the last block, just does not, a whole block.
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    };
    for (const auto& [text, hex] : cases)
        EXPECT_EQ(plccli::Sha256Hex(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
                  hex)
            << text.size() << " bytes";
}

TEST(Record, StringsStayValidJson) {
    const std::pair<std::string, std::string> cases[] = {
        {"COM3", "\"COM3\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"line\r\n\t", "\"line\\u000d\\u000a\\u0009\""},
        {"\xe9t\xe9\x7f", "\"\\u00e9t\\u00e9\\u007f\""},
    };
    for (const auto& [text, json] : cases) EXPECT_EQ(plccli::JsonString(text), json);
    EXPECT_EQ(plccli::BootloaderVersionText(0x10), "V1.0");
    EXPECT_EQ(plccli::BootloaderVersionText(0x09), "V0.9");
    EXPECT_EQ(plccli::UtcIsoTime(1704273300), "2024-01-03T09:15:00Z");
}

}  // namespace
