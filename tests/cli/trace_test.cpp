#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <future>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/trace/trace.h"

namespace {

using platform::LinkEvent;
using platform::LinkEventKind;

TEST(TraceLine, TextAsTextOtherBytesInHex) {
    struct Case {
        bool write;
        std::string bytes;
        uint32_t requested;
        uint64_t ms, baseMs;
        std::string line;
    };
    const Case cases[] = {
        {true, ":006401590141\r\n", 15, 12345, 0, "12.345 W 15 :006401590141\\r\\n"},
        {false, std::string("\x06\x30\x10", 3), 3, 1000, 1000, "0.000 R 3 06 30 10"},
        {false, "\x06", 1, 1000, 1000, "0.000 R 1 06 ACK"},
        {true, "\x04", 1, 1000, 1000, "0.000 W 1 04 EOT"},
        {false, "\x7f", 1, 1000, 1000, "0.000 R 1 7F"},
        {false, "", 19, 4000, 1000, "3.000 R timeout (0/19)"},
        {false, ":00", 19, 1001, 1000, "0.001 R 3/19 :00"},
        {true, "ID", 2, 5, 10, "0.000 W 2 ID"},  // a clock behind the base counts as 0
        {true, "a\\b", 3, 0, 0, "0.000 W 3 a\\\\b"},
        {true, std::string("ab\0", 3), 5, 0, 0, "0.000 W 3/5 61 62 00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(plccli::FormatTraceLine(c.write, reinterpret_cast<const uint8_t*>(c.bytes.data()),
                                          c.bytes.size(), c.requested, c.ms, c.baseMs),
                  c.line);
    }
}

// One call into the writer: an exchange, or an event when event.kind is set.
struct Step {
    uint64_t ms;
    char what;  // 'W', 'R', 'E' or 'N' (the engine names its requests; empty: no name)
    std::string bytes;
    uint32_t requested = 0;
    LinkEvent event{};
};

Step W(uint64_t ms, const std::string& bytes) {
    return {ms, 'W', bytes, static_cast<uint32_t>(bytes.size())};
}
Step R(uint64_t ms, const std::string& bytes, uint32_t requested) {
    return {ms, 'R', bytes, requested};
}
Step N(const std::string& name) {
    return {0, 'N', name};
}
Step E(uint64_t ms, LinkEventKind kind, bool ok = true) {
    Step s{ms, 'E', ""};
    s.event.kind = kind;
    s.event.ok = ok;
    return s;
}
Step Open(uint64_t ms, const char* name, bool ok, uint32_t error = 0) {
    Step s = E(ms, LinkEventKind::Open, ok);
    s.event.name = name;
    s.event.error = error;
    return s;
}
Step Line(uint64_t ms, DWORD baud, BYTE bits, BYTE parity, bool ok = true) {
    Step s = E(ms, LinkEventKind::Line, ok);
    s.event.dcb.BaudRate = baud;
    s.event.dcb.ByteSize = bits;
    s.event.dcb.Parity = parity;
    s.event.dcb.StopBits = ONESTOPBIT;
    return s;
}
Step Timeouts(uint64_t ms, DWORD totalMs) {
    Step s = E(ms, LinkEventKind::Timeouts);
    s.event.timeouts = {MAXDWORD, 0, totalMs, 0, totalMs};
    return s;
}
Step Pause(uint64_t ms, uint32_t pauseMs) {
    Step s = E(ms, LinkEventKind::Pause);
    s.event.pauseMs = pauseMs;
    return s;
}
// A block as the transfer sends it: STX, number, complement, 4 data bytes, CRC.
std::string Block(uint8_t number) {
    return std::string{'\x02', static_cast<char>(number), static_cast<char>(~number)} +
           std::string("\x11\x22\x33\x44\xAB\xCD", 6);
}

std::vector<std::string> TraceOf(const std::vector<Step>& steps, bool data) {
    std::ostringstream out;
    plccli::TraceWriter writer(out, 3, data);
    for (const Step& s : steps) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(s.bytes.data());
        if (s.what == 'E')
            writer.Event(s.event, s.ms);
        else if (s.what == 'N')
            writer.Requests(s.bytes.empty() ? nullptr : s.bytes.c_str());
        else
            writer.Exchange(s.what == 'W', bytes, s.bytes.size(), s.requested, s.ms);
    }
    writer.Finish();
    std::vector<std::string> lines;
    std::istringstream in(out.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(TraceWriter, OneLineABlockAndEveryEvent) {
    struct Case {
        const char* name;
        bool data;
        std::vector<Step> steps;
        std::vector<std::string> lines;
    };
    const std::string ack = "\x06", nak = "\x15";
    const Case cases[] = {
        {"events",
         false,
         {Open(100, "\\\\.\\COM9", false, 2), Open(200, "COM3", true),
          Line(201, 9600, 7, EVENPARITY), Timeouts(202, 3000), Timeouts(203, 3000),
          E(204, LinkEventKind::Purge, false), E(300, LinkEventKind::Close), Pause(301, 3000),
          Line(6000, 115200, 8, NOPARITY, false)},
         {"0.000 open \\\\.\\COM9 failed: no such port", "0.100 open COM3", "0.101 line 9600 7E1",
          "0.102 time-outs read 3000 ms, write 3000 ms", "0.104 purge input refused", "0.200 close",
          "0.201 pause 3000 ms", "5.900 line 115200 8N1 refused"}},
        {"frames around a purge",
         false,
         {E(0, LinkEventKind::Purge), W(1, ":01\r\n"), R(50, ack, 1), R(3050, "", 64)},
         {"0.000 purge input", "0.001 W 5 :01\\r\\n", "0.050 R 1 06 ACK",
          "3.050 R timeout (0/64)"}},
        {"blocks, a resend and a timeout",
         false,
         {W(0, "UPDATE"), R(10, ack, 1), E(20, LinkEventKind::Purge), W(21, Block(1)),
          R(30, ack, 1), E(31, LinkEventKind::Purge), W(32, Block(2)), R(40, nak, 1),
          Timeouts(41, 1000), R(1041, "", 64), Timeouts(1042, 3000), E(1043, LinkEventKind::Purge),
          W(1044, Block(2)), R(1050, ack, 1), W(1051, Block(3)), R(4051, "", 1)},
         {"0.000 W 6 UPDATE", "0.010 R 1 06 ACK", "0.021 block 1/3 9 B -> ACK",
          "0.032 block 2/3 9 B -> NAK", "0.041 time-outs read 1000 ms, write 1000 ms",
          "1.041 R timeout (0/64)", "1.042 time-outs read 3000 ms, write 3000 ms",
          "1.044 block 2/3 9 B -> ACK", "1.051 block 3/3 9 B -> timeout (0/1)"}},
        {"erase requests as the engine names them, one refused, then the erase closed",
         false,
         {W(0, "ERASE"), R(1, ack, 1), N("erase request"), E(2, LinkEventKind::Purge),
          W(3, "ERASE"), R(4, ack, 1), W(5, "ERASE"), R(6, nak, 1), W(7, "ERASE"), R(8, ack, 1),
          N(""), W(9, "\x04"), R(10, ack, 1)},
         {"0.000 W 5 ERASE", "0.001 R 1 06 ACK", "0.003 erase request 1 -> ACK",
          "0.005 erase request 2 -> NAK", "0.007 erase request 3 -> ACK", "0.009 W 1 04 EOT",
          "0.010 R 1 06 ACK"}},
        {"a block without its reply, then a new transfer",
         false,
         {W(0, Block(1)), W(5, "\x04"), R(6, ack, 1), W(7, Block(1)), E(8, LinkEventKind::Close)},
         {"0.000 block 1/3 9 B -> no reply read", "0.005 W 1 04 EOT", "0.006 R 1 06 ACK",
          "0.007 block 1/3 9 B -> no reply read", "0.008 close"}},
        {"--trace-data keeps the bytes and every purge",
         true,
         {Timeouts(0, 3000), E(1, LinkEventKind::Purge), W(2, Block(1)), R(3, ack, 1),
          Timeouts(4, 3000)},
         {"0.000 time-outs read 3000 ms, write 3000 ms", "0.001 purge input",
          "0.002 W 9 02 01 FE 11 22 33 44 AB CD", "0.002 block 1/3 9 B -> ACK",
          "0.004 time-outs read 3000 ms, write 3000 ms"}},
    };
    for (const auto& c : cases) EXPECT_EQ(TraceOf(c.steps, c.data), c.lines) << c.name;
}

// A reader that takes nothing: the lines that do not fit are left out, and the file says where
// and how many, so that every line pushed is either in the file or counted there.
TEST(LineQueue, AStalledReaderCostsLinesThatTheFileCounts) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    fcntl(fds[1], F_SETPIPE_SZ, 4096);
    const int PUSHED = 1000;  // 64 KB: far more than the pipe and the queue hold
    plccli::LineQueue queue(fds[1], 1024);
    for (int i = 0; i < PUSHED; ++i) {
        std::string line = "0.000 block " + std::to_string(i) + " ";
        queue.Push(line + std::string(63 - line.size(), '.') + "\n");
    }
    std::string read;
    std::thread reader([&] {
        char buffer[4096];
        for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
            read.append(buffer, static_cast<size_t>(n));
    });
    std::string failure;
    uint64_t leftOut = 0;
    EXPECT_FALSE(queue.Close(std::chrono::seconds(10), &failure, &leftOut));
    reader.join();
    close(fds[0]);
    EXPECT_EQ(failure, "");
    std::istringstream lines(read);
    const std::regex note("# ([0-9]+) lines left out here: the trace's reader fell behind");
    int blocks = 0, notes = 0;
    uint64_t counted = 0;
    std::smatch m;
    for (std::string line; std::getline(lines, line);) {
        if (std::regex_match(line, m, note)) {
            ++notes;
            counted += std::stoull(m[1]);
        } else {
            EXPECT_EQ(line.size(), 63u) << "a whole line: " << line;
            ++blocks;
        }
    }
    EXPECT_GE(notes, 1);
    EXPECT_EQ(counted, leftOut);
    EXPECT_EQ(blocks + static_cast<int>(counted), PUSHED);
}

// The lines after a write that failed are left out too, and counted.
TEST(LineQueue, AFailedWriteIsReported) {
    int fd = open("/dev/full", O_WRONLY);
    ASSERT_GE(fd, 0);
    plccli::LineQueue queue(fd, 1024);
    queue.Push("0.000 open COM3\n0.001 close\n");
    queue.Push("0.002 open COM3\n0.003 W 2 ID\n0.004 close\n");
    std::string failure;
    uint64_t leftOut = 0;
    EXPECT_FALSE(queue.Close(std::chrono::seconds(10), &failure, &leftOut));
    EXPECT_EQ(failure, "No space left on device");
    EXPECT_EQ(leftOut, 5u);
}

// A pipe with its write end as the trace opens a FIFO: without blocking.
struct TracePipe {
    TracePipe() {
        EXPECT_EQ(pipe(fds), 0);
        fcntl(fds[1], F_SETFL, O_NONBLOCK);
        fcntl(fds[1], F_SETPIPE_SZ, 4096);
    }
    ~TracePipe() { close(fds[0]); }
    // The next bytes of the pipe, waiting at most five seconds for them.
    std::string Read(size_t bytes) {
        std::string got;
        pollfd p{fds[0], POLLIN, 0};
        char buffer[4096];
        while (got.size() < bytes && poll(&p, 1, 5000) == 1) {
            ssize_t n = ::read(fds[0], buffer, std::min(sizeof buffer, bytes - got.size()));
            if (n <= 0) break;
            got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }
    int fds[2];
};

// Through a reader that keeps up, any number of lines pass a queue far smaller than they are.
TEST(LineQueue, AReaderThatKeepsUpGetsEveryLine) {
    TracePipe pipe;
    plccli::LineQueue queue(pipe.fds[1], 256);
    for (int i = 0; i < 64; ++i) {
        std::string line = "0.000 block " + std::to_string(i) + " ";
        line += std::string(63 - line.size(), '.') + "\n";
        queue.Push(line);
        ASSERT_EQ(pipe.Read(line.size()), line) << "line " << i;
    }
    std::string failure;
    uint64_t leftOut = 0;
    EXPECT_TRUE(queue.Close(std::chrono::seconds(10), &failure, &leftOut)) << failure;
    EXPECT_EQ(leftOut, 0u);
}

// A reader that never reads holds the close up no longer than its wait, and costs the lines.
TEST(LineQueue, AReaderThatNeverReadsCostsTheLinesAfterTheWait) {
    TracePipe pipe;
    plccli::LineQueue queue(pipe.fds[1], 64 * 1024);
    for (int i = 0; i < 256; ++i) queue.Push(std::string(63, '.') + "\n");
    std::string failure;
    uint64_t leftOut = 0;
    auto closing = std::async(std::launch::async, [&] {
        return queue.Close(std::chrono::milliseconds(50), &failure, &leftOut);
    });
    bool bounded = closing.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    // Unstuck, so that the test ends either way.
    while (closing.wait_for(std::chrono::seconds(0)) != std::future_status::ready) pipe.Read(4096);
    EXPECT_TRUE(bounded) << "the close waited for the reader";
    EXPECT_FALSE(closing.get());
    EXPECT_EQ(failure, "its reader took nothing");
    EXPECT_GT(leftOut, 0u);
}

}  // namespace
