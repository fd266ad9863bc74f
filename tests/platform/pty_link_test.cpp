// The tty backend on real pseudo-terminals. These tests use the real clock with time-outs of
// tens of milliseconds: what they check is exactly how a read ends in real time.
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <poll.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/platform.h"

namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point t0) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
}

class PtyLink : public ::testing::Test {
  protected:
    void SetUp() override {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        slavePath = ptsname(master);
        termios t{};
        tcgetattr(master, &t);
        cfmakeraw(&t);
        tcsetattr(master, TCSANOW, &t);
        h = CreateFileA(slavePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        close(master);
    }
    void Timeouts(DWORD totalMs) {
        COMMTIMEOUTS t{MAXDWORD, 0, totalMs, 0, totalMs};
        ASSERT_TRUE(SetCommTimeouts(h, &t));
    }
    int master = -1;
    std::string slavePath;
    HANDLE h = INVALID_HANDLE_VALUE;
};

TEST_F(PtyLink, SpeedOfEachSetupReadsBackThroughASecondDescriptor) {
    struct Case {
        DWORD baud;
        BYTE size, parity;
        speed_t speed;
    } cases[] = {{9600, 7, EVENPARITY, B9600}, {115200, 8, NOPARITY, B115200}};
    for (const Case& c : cases) {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        ASSERT_TRUE(GetCommState(h, &dcb));
        dcb.BaudRate = c.baud;
        dcb.ByteSize = c.size;
        dcb.Parity = c.parity;
        dcb.StopBits = ONESTOPBIT;
        ASSERT_TRUE(SetCommState(h, &dcb));
        int second = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(second, 0);
        termios t{};
        ASSERT_EQ(tcgetattr(second, &t), 0);
        EXPECT_EQ(cfgetospeed(&t), c.speed) << c.baud;
        close(second);
    }
}

TEST_F(PtyLink, ReadEndsAtItsTotalTimeoutWithWhatArrived) {
    Timeouts(60);
    uint8_t buf[19];
    DWORD got = 99;
    auto t0 = Clock::now();
    EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &got, nullptr));
    long silentMs = MsSince(t0);
    EXPECT_EQ(got, 0u);
    EXPECT_GE(silentMs, 55);
    EXPECT_LT(silentMs, 1000);

    ASSERT_EQ(write(master, ":0064", 5), 5);
    t0 = Clock::now();
    EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &got, nullptr));
    EXPECT_EQ(got, 5u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 5), ":0064");
    EXPECT_GE(MsSince(t0), 55);
}

TEST_F(PtyLink, ReadOfBytesThatAllArriveReturnsAtOnce) {
    Timeouts(3000);
    ASSERT_EQ(write(master, "\x06\x30\x10", 3), 3);
    uint8_t buf[3];
    DWORD got = 0;
    auto t0 = Clock::now();
    EXPECT_TRUE(ReadFile(h, buf, 3, &got, nullptr));
    EXPECT_EQ(got, 3u);
    EXPECT_LT(MsSince(t0), 500);
}

TEST_F(PtyLink, WrittenBytesReachTheFarEnd) {
    Timeouts(3000);
    DWORD put = 0;
    EXPECT_TRUE(WriteFile(h, "UPDATE", 6, &put, nullptr));
    EXPECT_EQ(put, 6u);
    char buf[16] = {};
    ssize_t n = 0;
    for (int i = 0; i < 100 && n < 6; ++i) {
        ssize_t r = read(master, buf + n, sizeof buf - static_cast<size_t>(n));
        if (r > 0) n += r;
    }
    EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), "UPDATE");
}

TEST_F(PtyLink, SecondOpenOfALinkInUseFails) {
    HANDLE again = CreateFileA(slavePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(again, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    CloseHandle(h);
    h = CreateFileA(slavePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
}

TEST(BadHandles, NeverCrashAndReportNoBytes) {
    const char* names[] = {"", "/nonexistent/dir/tty", "ttyNOSUCH99", "\\\\.\\COM99"};
    for (const char* name : names) {
        EXPECT_EQ(CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr),
                  INVALID_HANDLE_VALUE)
            << name;
        EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND) << name;
    }
    EXPECT_EQ(CreateFileA(nullptr, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    int fd = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    grantpt(fd);
    unlockpt(fd);
    HANDLE closed = CreateFileA(ptsname(fd), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(closed, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(CloseHandle(closed));
    close(fd);

    HANDLE bad[] = {closed, INVALID_HANDLE_VALUE, nullptr, reinterpret_cast<HANDLE>(0x1234)};
    for (HANDLE b : bad) {
        uint8_t buf[4] = {1, 2, 3, 4};
        DWORD n = 77;
        EXPECT_FALSE(ReadFile(b, buf, 4, &n, nullptr));
        EXPECT_EQ(n, 0u);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        n = 77;
        EXPECT_FALSE(WriteFile(b, buf, 4, &n, nullptr));
        EXPECT_EQ(n, 0u);
        DCB dcb{};
        EXPECT_FALSE(GetCommState(b, &dcb));
        EXPECT_FALSE(SetCommState(b, &dcb));
        COMMTIMEOUTS t{};
        EXPECT_FALSE(SetCommTimeouts(b, &t));
        EXPECT_FALSE(CloseHandle(b));
    }
}

}  // namespace

namespace {

// Input that arrived before PurgeComm is gone; what the far end sends afterwards is read.
TEST_F(PtyLink, PurgeDropsWhatArrivedBefore) {
    Timeouts(50);
    ASSERT_EQ(write(master, "stale", 5), 5);
    // Wait until the bytes have crossed the pseudo-terminal, watching a second descriptor.
    int watch = open(slavePath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY);
    ASSERT_GE(watch, 0);
    pollfd p{watch, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    close(watch);
    ASSERT_TRUE(PurgeComm(h, PURGE_RXCLEAR));
    ASSERT_EQ(write(master, "\x06", 1), 1);
    char buf[8] = {};
    DWORD got = 0;
    ReadFile(h, buf, sizeof buf, &got, nullptr);
    EXPECT_EQ(std::string(buf, got), "\x06");
}

}  // namespace

namespace {

// A far end that hung up (a simulator that ended) sends nothing more; a read still lasts its
// time-out, as on a silent port, so that the retries keep their pace.
TEST_F(PtyLink, ReadAfterTheFarEndHungUpLastsItsTimeout) {
    Timeouts(80);
    close(master);
    master = open("/dev/null", O_RDONLY);  // TearDown closes something harmless
    char buf[4];
    DWORD got = 1;
    auto t0 = Clock::now();
    ReadFile(h, buf, sizeof buf, &got, nullptr);
    EXPECT_EQ(got, 0u);
    EXPECT_GE(MsSince(t0), 70);
}

}  // namespace

namespace {

// MAXDWORD, 0, 0: take what is there and return; an empty line gives nothing at once. A read
// that waited instead is ended by the far end's bytes after a second.
TEST_F(PtyLink, AZeroTimeOutReadOfAnEmptyLinkReturnsAtOnce) {
    Timeouts(0);
    uint8_t buf[16];
    DWORD got = 99;
    std::atomic<bool> done{false};
    std::thread rescue([&] {
        for (int i = 0; i < 100 && !done; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!done) (void)write(master, "0123456789abcdef", 16);
    });
    auto t0 = Clock::now();
    EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &got, nullptr));
    long took = MsSince(t0);
    done = true;
    rescue.join();
    EXPECT_EQ(got, 0u);
    EXPECT_LT(took, 200);
}

// A serial driver is asked for its low-latency mode on open and given its flags back on close;
// a pseudo-terminal has no such mode and refuses. The refusal is silent and the link works and
// closes as any other. (A driver that takes the request is real hardware: not testable here.)
TEST_F(PtyLink, RefusedLowLatencyModeLeavesTheLinkAsItIs) {
    int slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(slave, 0);
    serial_struct serial{};
    EXPECT_NE(ioctl(slave, TIOCGSERIAL, &serial), 0) << "a pseudo-terminal took TIOCGSERIAL";
    termios before{};
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    testing::internal::CaptureStderr();
    Timeouts(50);
    DWORD n = 0;
    EXPECT_TRUE(WriteFile(h, "ID", 2, &n, nullptr));
    EXPECT_EQ(n, 2u);
    char got[2] = {};
    EXPECT_EQ(read(master, got, 2), 2);
    EXPECT_TRUE(CloseHandle(h));
    h = CreateFileA(slavePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << "the link was not released";
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    termios after{};
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    close(slave);
}

// Protocol bytes go to a terminal device only, whatever checked the name before: a file, a
// directory, a FIFO or /dev/null does not open as a link, and gets nothing.
TEST(TtyLinkOpen, WhatIsNoTerminalDeviceDoesNotOpen) {
    char dirTemplate[] = "/tmp/plcttyXXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string dir = dirTemplate;
    const std::string file = dir + "/file", fifo = dir + "/fifo";
    close(open(file.c_str(), O_CREAT | O_WRONLY, 0644));
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    // Held open for reading, so that a write into the FIFO would neither block nor fail.
    int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    for (const std::string& name : {file, dir, fifo, std::string("/dev/null")}) {
        HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(h, INVALID_HANDLE_VALUE) << name;
        EXPECT_EQ(GetLastError(), ERROR_BAD_DEVICE) << name;
        WriteFile(h, ":007F81\r\n", 9, nullptr, nullptr);
    }
    char buf[16];
    EXPECT_LE(read(reader, buf, sizeof buf), 0);
    EXPECT_EQ(std::filesystem::file_size(file), 0u);
    close(reader);
    std::filesystem::remove_all(dir);
}

}  // namespace
