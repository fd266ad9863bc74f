// Transfer figures over pseudo-terminals, all in one run so that they share the machine's state:
//   bare      a loop that writes 261 bytes and reads a 1-byte acknowledgement, against a peer
//             that only acknowledges: the most a host can do on this link
//   plcsim    SendFW of the embedded image (RP200) into plcsim, no pacing
//   engine    the same SendFW into the peer that only acknowledges (the host's own share)
//   paced     SendFW of a 64 KiB image (NV, 256-byte blocks) into plcsim --pace at 115200 8N1,
//             against the time the bytes need on the wire
//   refusals  the same paced transfer into a PLC that refuses 2 % of the blocks at random: the
//             extra time per refused block, in paced block times
//   adapter   (pty_bench PLCSIM adapter) the paced transfer behind a USB-serial adapter whose
//             latency timer is 16 ms and one of 1 ms, in interleaved rounds: over the wire time,
//             and whether the transfer found the replies costly (the word the run says)
// The bare loop and plcsim take turns, round after round; the ratio is the median of the
// rounds' ratios, with its spread, since one round alone swings with the machine's other work.
// Usage: pty_bench PLCSIM [adapter]   (prints one "name value" line per figure)
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "applink/applink.h"
#include "bootloader/bootloader.h"
#include "catalogue/catalogue.h"
#include "catalogue/report.h"
#include "platform/resource_image.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// The host on one processor, every peer on another: a round trip's cost depends on where the
// scheduler puts the two ends (on one processor the bare loop runs twice as fast as across two),
// so both peers are measured with the same placement, the PLC's end apart from the host's as on
// a real link. Nothing is pinned on a machine with one processor. The paced run, measured
// against the wire alone, runs unpinned: there a pinned end would only wait for its processor.
const int HOST_CPU = 0;
const int PEER_CPU = 1;
const int ANY_CPU = -1;

void PinToCpu(pid_t pid, int cpu) {
    long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    if (cpus < 2) return;
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int c = 0; c < cpus && c < CPU_SETSIZE; ++c)
        if (cpu == ANY_CPU || c == cpu) CPU_SET(c, &set);
    sched_setaffinity(pid, sizeof set, &set);  // unpinned if refused: the figures only vary more
}

double Seconds(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

void Fail(const char* what) {
    std::fprintf(stderr, "pty_bench: %s\n", what);
    std::exit(1);
}

HANDLE OpenLink(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) Fail("cannot open the link");
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(h, &dcb);
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    SetCommState(h, &dcb);
    SetLinkTimeouts(h, BOOT_TIMEOUT_MS);
    return h;
}

// A peer process on a fresh pseudo-terminal that acknowledges every 261 bytes (and a lone EOT)
// at once; returns its pid and the slave's path.
pid_t StartAckPeer(int blocks, int* masterOut, std::string* slave) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) Fail("no pseudo-terminal");
    termios t{};
    tcgetattr(master, &t);
    cfmakeraw(&t);
    tcsetattr(master, TCSANOW, &t);
    *slave = ptsname(master);
    *masterOut = master;
    // The peer is a process of its own, as plcsim is: only what each side does differs.
    pid_t peer = fork();
    if (peer < 0) Fail("cannot fork");
    if (peer == 0) {
        PinToCpu(0, PEER_CPU);
        std::vector<uint8_t> buf(4096);
        long pending = 0, acked = 0;
        while (acked < blocks) {
            ssize_t n = read(master, buf.data(), buf.size());
            if (n <= 0) break;
            pending += n;
            if (pending == 1 && buf[0] == EOT) pending = 261;  // the closing EOT
            while (pending >= 261) {
                pending -= 261;
                const uint8_t ack = ACK;
                if (write(master, &ack, 1) != 1) _exit(1);
                ++acked;
            }
        }
        _exit(0);
    }
    return peer;
}

void StopAckPeer(pid_t peer, int master) {
    int status = 0;
    waitpid(peer, &status, 0);
    close(master);
}

// Blocks per second of the bare loop: write 261 bytes, read 1.
double BareLoop(int blocks) {
    int master = -1;
    std::string slave;
    pid_t peer = StartAckPeer(blocks, &master, &slave);
    HANDLE h = OpenLink(slave);
    std::vector<uint8_t> packet(261, 0x5A);
    auto t0 = Clock::now();
    for (int i = 0; i < blocks; ++i) {
        DWORD n = 0;
        uint8_t reply = 0;
        WriteFile(h, packet.data(), 261, &n, nullptr);
        ReadFile(h, &reply, 1, &n, nullptr);
        if (n != 1 || reply != ACK) Fail("bare loop lost an acknowledgement");
    }
    double s = Seconds(t0);
    CloseHandle(h);
    StopAckPeer(peer, master);
    return blocks / s;
}

// Blocks per second of the engine's SendFW (RP200) into the peer that only acknowledges: the
// host's own share of the difference between plcsim and the bare loop.
double EngineIntoAckPeer(const std::vector<uint8_t>& image, int blocks) {
    int master = -1;
    std::string slave;
    pid_t peer = StartAckPeer(blocks + 1, &master, &slave);
    SelectPLC(ROW_RP200);
    platform::SetResourceImage(image.data(), image.size());
    if (!LoadImage()) Fail("no image");
    hSerial = OpenLink(slave);
    auto t0 = Clock::now();
    if (SendFW(hSerial) != OK) Fail("transfer into the acknowledging peer failed");
    double s = Seconds(t0);
    CloseHandle(hSerial);
    hSerial = INVALID_HANDLE_VALUE;
    CloseFile();
    StopAckPeer(peer, master);
    return blocks / s;
}

pid_t StartSim(const std::string& plcsim, const char* model, const std::string& link, bool pace,
               const char* fault, uint32_t adapterMs) {
    std::vector<std::string> args = {plcsim, "--model", model, "--link", link, "--start", "boot",
                                     "--latency", "0"};
    if (pace) args.push_back("--pace");
    if (adapterMs > 0) args.insert(args.end(), {"--adapter-latency", std::to_string(adapterMs)});
    if (fault != nullptr) args.insert(args.end(), {"--fault", fault, "--seed", "7"});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, plcsim.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        Fail("cannot start plcsim");
    if (!pace) PinToCpu(pid, PEER_CPU);
    for (int i = 0; i < 200; ++i) {
        struct stat st{};
        if (lstat(link.c_str(), &st) == 0) return pid;
        usleep(10000);
    }
    Fail("plcsim did not create its link");
    return pid;
}

void StopSim(pid_t pid) {
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
}

// Erases, starts programming and times SendFW alone; returns seconds and the block count, and
// the failed attempts of the transfer in *failures when asked.
double TimedTransfer(const std::string& plcsim, const char* model, bool pace,
                     const std::vector<uint8_t>& image, int* blocks, const char* fault = nullptr,
                     int32_t* failures = nullptr, uint32_t adapterMs = 0) {
    std::string link = "/tmp/pty_bench_" + std::to_string(getpid()) + "_" + model;
    pid_t pid = StartSim(plcsim, model, link, pace, fault, adapterMs);
    uint32_t idx = 0;
    LookupPLC(model, &idx, nullptr);
    SelectPLC(idx);
    platform::SetResourceImage(image.data(), image.size());
    if (!LoadImage()) Fail("no image");
    hSerial = OpenLink(link);
    if (SendErase_B(hSerial) != OK) Fail("erase failed");
    if (SendUpdate(hSerial) != OK) Fail("UPDATE failed");
    int32_t errorsBefore = totalErrCounter;
    auto t0 = Clock::now();
    if (SendFW(hSerial) != OK) Fail("transfer failed");
    double s = Seconds(t0);
    if (failures != nullptr) *failures = totalErrCounter - errorsBefore;
    *blocks = static_cast<int>(TransferBlockCount(idx, static_cast<uint32_t>(image.size())));
    CloseHandle(hSerial);
    hSerial = INVALID_HANDLE_VALUE;
    CloseFile();
    StopSim(pid);
    return s;
}

std::vector<uint8_t> SmallImage() {
    std::vector<uint8_t> small(65536);
    for (size_t i = 0; i < small.size(); ++i) small[i] = static_cast<uint8_t>(i * 7 + 3);
    return small;
}

// On the wire: each block and its acknowledgement, then EOT and its acknowledgement, 10 bits a
// byte at 8N1.
double WireSeconds(int blocks) {
    return (blocks * (261.0 + 1.0) + 2.0) * 10.0 / 115200.0;
}

// The paced 64 KiB transfer behind adapters of 16 ms and 1 ms, round after round in turn.
int AdapterRows(const std::string& plcsim) {
    const int rounds = 5;
    const uint32_t adapters[] = {16, 1};
    std::vector<uint8_t> small = SmallImage();
    std::vector<double> ratios[2], medians[2];
    int said[2] = {0, 0};
    for (int round = 0; round < rounds; ++round) {
        for (int a = 0; a < 2; ++a) {
            int blocks = 0;
            double s = TimedTransfer(plcsim, plcList[ROW_NV], true, small, &blocks, nullptr,
                                     nullptr, adapters[a]);
            ratios[a].push_back(s / WireSeconds(blocks));
            medians[a].push_back(plcReport.turnaroundMedianUs / 1000.0);
            said[a] += plcReport.slowReplies != 0;
        }
    }
    for (int a = 0; a < 2; ++a) {
        std::sort(ratios[a].begin(), ratios[a].end());
        std::sort(medians[a].begin(), medians[a].end());
        std::printf("adapter%u_over_wire %.3f\n", adapters[a], ratios[a][rounds / 2]);
        std::printf("adapter%u_over_wire_min %.3f\n", adapters[a], ratios[a].front());
        std::printf("adapter%u_over_wire_max %.3f\n", adapters[a], ratios[a].back());
        std::printf("adapter%u_median_ms %.1f\n", adapters[a], medians[a][rounds / 2]);
        std::printf("adapter%u_said %d\n", adapters[a], said[a]);
    }
    std::printf("adapter_rounds %d\n", rounds);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    bool adapter = argc == 3 && std::string(argv[2]) == "adapter";
    if (argc != 2 && !adapter) {
        std::fprintf(stderr, "usage: pty_bench PLCSIM [adapter]\n");
        return 2;
    }
    std::string plcsim = argv[1];
    if (adapter) return AdapterRows(plcsim);
    PinToCpu(0, HOST_CPU);
    size_t embeddedSize = 0;
    const uint8_t* embedded = platform::EmbeddedImage(&embeddedSize);
    if (embedded == nullptr) Fail("no embedded image");
    std::vector<uint8_t> image(embedded, embedded + embeddedSize);

    // Rounds of the loops in turn; each round's plcsim figure over its own bare figure.
    const int rounds = 7;
    std::vector<double> ratios, engineRatios;
    double bare = 0, sim = 0, engine = 0;
    for (int round = 0; round < rounds; ++round) {
        int simBlocks = static_cast<int>(TransferBlockCount(ROW_RP200, static_cast<uint32_t>(image.size())));
        double roundBare = BareLoop(simBlocks);
        double simSeconds = TimedTransfer(plcsim, plcList[ROW_RP200], false, image, &simBlocks);
        double roundEngine = EngineIntoAckPeer(image, simBlocks);
        ratios.push_back(simBlocks / simSeconds / roundBare);
        engineRatios.push_back(roundEngine / roundBare);
        bare += roundBare / rounds;
        sim += simBlocks / simSeconds / rounds;
        engine += roundEngine / rounds;
    }
    std::sort(ratios.begin(), ratios.end());
    std::sort(engineRatios.begin(), engineRatios.end());

    std::vector<uint8_t> small = SmallImage();
    int pacedBlocks = 0;
    PinToCpu(0, ANY_CPU);
    double pacedSeconds = TimedTransfer(plcsim, plcList[ROW_NV], true, small, &pacedBlocks);
    double wireSeconds = WireSeconds(pacedBlocks);
    // The same image again, with the clean run measured beside the faulted one.
    int32_t refused = 0;
    double cleanSeconds = TimedTransfer(plcsim, plcList[ROW_NV], true, small, &pacedBlocks);
    double refusingSeconds = TimedTransfer(plcsim, plcList[ROW_NV], true, small, &pacedBlocks,
                                           "nak:0.02:block", &refused);
    if (refused == 0) Fail("the refusing PLC refused no block");
    double blockSeconds = cleanSeconds / pacedBlocks;
    double perRefusal = (refusingSeconds - cleanSeconds) / refused;

    std::printf("bare_blocks_per_s %.0f\n", bare);
    std::printf("plcsim_blocks_per_s %.0f\n", sim);
    std::printf("plcsim_over_bare %.3f\n", ratios[rounds / 2]);
    std::printf("plcsim_over_bare_min %.3f\n", ratios.front());
    std::printf("plcsim_over_bare_max %.3f\n", ratios.back());
    std::printf("engine_blocks_per_s %.0f\n", engine);
    std::printf("engine_over_bare %.3f\n", engineRatios[rounds / 2]);
    std::printf("paced_seconds %.3f\n", pacedSeconds);
    std::printf("wire_seconds %.3f\n", wireSeconds);
    std::printf("paced_over_wire %.3f\n", pacedSeconds / wireSeconds);
    std::printf("refusal_clean_seconds %.3f\n", cleanSeconds);
    std::printf("refusal_faulted_seconds %.3f\n", refusingSeconds);
    std::printf("refusal_count %d\n", refused);
    std::printf("refusal_block_times %.2f\n", perRefusal / blockSeconds);
    return 0;
}
