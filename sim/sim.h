// The PLC simulator: one PLC of any catalogue model, application firmware and bootloader.
//   - Plc: the transport-agnostic core. It takes the bytes the host wrote (with the time and the
//     host's line settings) and gives the reply bytes with the time each becomes readable.
//   - Config / DefaultConfig: reported ids, registers, versions, write protection, timing
//   - faults, scripted or random (faults.h, FAULT_SYNTAX): AddFault, ClearFaults, SetSeed
//   - inspection: Counters, Errors (protocol errors the host made), the flash it was given
//     (Received, CompareFlash), the phase it is in, an exchange log (SetLogSink)
//   - AttachVirtual: serves the PLC on a virtual link (virtual clock, in-process tests)
//   - PtyServer (pty_server.h): serves it on a pseudo-terminal in real time (the plcsim program)
//
// Typical test:
//     auto plc = plcsim::Plc::Create(plcList[ROW_RP200]);
//     plc->AddFault("nak-block:10x5");
//     plcsim::AttachVirtual(plc, "plc0");      // CreateFileA("plc0") now reaches the PLC
//     ... run the update ...
//     EXPECT_TRUE(plc->CompareFlash(image, size).equal);
//     EXPECT_TRUE(plc->Errors().empty());
//
// Behaviour in brief. Application firmware: the probe gets ENQ, the identity request ACK and the
// model id, register reads their values, the version request the version byte (decoded byte 4),
// the 0x67 id read the id in bytes 3 and 4, the enter-bootloader request ACK; after the
// confirmation frame the PLC restarts into its bootloader at once (COM-port models), leaves the
// link until it is closed and opened again (USB-attached models: writes are not taken), or, for
// QM2-C-V2, QM2-C-V4 and TR2-CAR, gives no reply to the request and restarts into its bootloader
// when the link is closed (the power cycle). Bootloader: the probe gets ACK, wake-up frames are
// ignored, "ID", "VERSION", "ERASE" (one page each), EOT and "UPDATE" are acknowledged; then
// numbered CRC-16 blocks are checked and programmed, and the closing EOT acknowledged, after
// which the new application firmware starts with the next frame or when the link is closed.
// A link that is closed in the middle of a transfer leaves the bootloader taking commands.
// Every host fault (bad LRC, lower case, wrong line settings, a gap in the block numbers, a
// bad CRC or complement, a block written twice or outside the erased area, an erase past the
// model's region, stray bytes) is
// recorded in Errors() and answered as a PLC would: no reply to a bad frame, NAK to a bad block.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/virtual.h"
#include "sim/faults.h"
#include "sim/flash.h"
#include "sim/models.h"
#include "sim/requests.h"

namespace plcsim {

enum class FrameError : uint8_t;  // sim/ascii.h

// Reply bytes reach the host one by one, each at its time (ms on the transport's clock).
struct TimedByte {
    uint8_t byte;
    uint64_t atMs;
    // A glitch of the line, not a byte the PLC's transmitter sent: it takes no turn on the line
    // and the replies around it keep their times.
    bool glitch = false;
};

// The line settings the host applied. On a pseudo-terminal only the speed is known: Linux
// forces 8 data bits and no parity there.
struct HostLine {
    platform::LineSettings line;
    bool framingKnown = true;
};

enum class StartMode : uint8_t { App, Boot };

struct Config {
    std::string model;
    StartMode start = StartMode::App;
    uint16_t appId = 0;        // reported by the identity request (default: the catalogue id)
    uint16_t id67 = 0;         // reported by the 0x67 id read (default: the catalogue id)
    uint16_t bootId = 0;       // reported by the bootloader's "ID" (default: the catalogue id)
    bool bootIdBit15 = false;  // COM-port models: true also reports bit 15 of bootId (their
                               // bootloaders report the id without it)
    uint16_t d1386 = 0, d1001 = 0, d1148 = 0;  // defaults pass the model's compatibility rule
    std::map<uint16_t, uint16_t> registers;    // other data registers: n -> value of Dn
    uint8_t appVersion = 0x14;   // the application firmware's answer to the version request
    uint8_t bootVersion = 0x14;  // the bootloader's "VERSION": sent as 0x06, v >> 4, v << 4
    bool writeProtected = false;   // every block is answered NOK
    // A correct block under the number of the block just programmed (the host missed the ACK):
    // acknowledged without programming it again (true, as XMODEM-style receivers do), or
    // refused with NAK as out of sequence (false).
    bool ackResentBlock = true;
    bool answerWakeup = true;      // the application firmware answers wake-up frames
    bool powerCycleReplies = false;  // QM2-C-V2, QM2-C-V4, TR2-CAR acknowledge the request
    bool pace = false;             // reply bytes spaced at the line's speed
    uint32_t replyLatencyMs = 1;   // time from the end of a request to its first reply byte
    // On a virtual link: a USB-serial adapter between the PLC and the host, whose latency timer
    // holds the replies this long (sim/adapter.h); 0: none. With pace, the host's bytes also
    // take their time on the wire there before the PLC has them.
    uint32_t adapterLatencyMs = 0;
    // A request whose bytes stop coming for longer than this is discarded as incomplete.
    uint32_t interByteTimeoutMs = 1000;
};

// The configuration of a PLC of that catalogue model, every value at its default.
bool DefaultConfig(const std::string& model, Config* cfg, std::string* error = nullptr);

// The protocol errors listed in Errors(); a host that floods the line with bad frames only
// makes the count of the others grow.
constexpr size_t MAX_ERRORS_KEPT = 1000;

struct Counters {
    std::array<uint32_t, KIND_COUNT> requests{};  // requests seen, per Kind
    uint32_t pagesErased = 0;      // "ERASE" requests that erased a page
    uint32_t blocksAccepted = 0;   // blocks programmed by the current or last transfer
    uint32_t resendsSeen = 0;      // blocks that came with the number of the block before
    uint32_t naksSent = 0;         // NAK replies of any kind
    uint32_t noksSent = 0;
    uint32_t repliesDropped = 0;   // replies lost by a fault
    uint32_t restartsToBoot = 0;   // times the PLC entered its bootloader
    uint32_t updatesCompleted = 0; // transfers closed by an acknowledged EOT
    uint32_t opens = 0, closes = 0;
    // Wake-up frames right after a mode probe: a host looking for a PLC (an update run's passes
    // begin with wake-up frames after other requests, never after a probe).
    uint32_t looks = 0;
    uint32_t errorsDropped = 0;    // protocol errors past the MAX_ERRORS_KEPT listed, counted only
    uint32_t Seen(Kind k) const { return requests[static_cast<size_t>(k)]; }
};

// The flash compared with the image the host was given.
struct FlashCheck {
    bool equal = false;
    uint32_t imageBytesSent = 0;    // the image bytes the host sends for this model
    uint32_t expectedReceived = 0;  // those rounded up to whole blocks
    uint32_t receivedBytes = 0;     // bytes programmed by the last transfer, filler included
    int64_t firstDifference = -1;   // offset of the first wrong byte
    std::string detail;             // why not equal
};

// One line of the exchange log: what came, what went back, what the PLC made of it.
struct LogLine {
    uint64_t atMs = 0;
    Phase phase = Phase::App;
    Kind kind = Kind::Junk;
    std::string host;   // the request as text (blocks summarised)
    std::string reply;  // the reply as text, empty when none
    std::string note;
};
std::string FormatLogLine(const LogLine& l);

class Plc {
public:
    explicit Plc(const Config& cfg);  // cfg from DefaultConfig
    // A PLC of that catalogue model with the default configuration; nullptr when unknown.
    static std::shared_ptr<Plc> Create(const std::string& model, std::string* error = nullptr);

    // ----- configuration (any time; takes effect with the next request) -----
    Config GetConfig() const;
    void SetConfig(const Config& cfg);  // the model must stay the same
    bool AddFault(const std::string& faultText, std::string* error = nullptr);
    void AddFault(const Fault& f);
    // Removes every fault and brings back a link that vanished; the PLC keeps its phase, so
    // the next run finds it where the faults left it (for example in its bootloader).
    void ClearFaults();
    void SetSeed(uint32_t seed);
    // Called for every exchange, under the PLC's lock (the sink must not call the PLC).
    void SetLogSink(std::function<void(const LogLine&)> sink);
    // Puts the PLC into its application firmware or its bootloader (as if it had restarted).
    void RestartInto(StartMode mode);
    // Takes the PLC off the link for good, as a unit unplugged from a bench: a USB device is
    // gone, a COM line stays silent.
    void Unplug();

    // ----- transport side -----
    // The host opened the link. False: the device is absent (a USB link that vanished).
    bool Open(uint64_t nowMs);
    void Close(uint64_t nowMs);
    // The host wrote len bytes at nowMs. Returns how many the PLC took (0 when the link is
    // gone); appends the replies to *replies.
    size_t Write(const uint8_t* data, size_t len, uint64_t nowMs, const HostLine& line,
                 std::vector<TimedByte>* replies);
    // True once after the PLC restarted or its link vanished: replies still queued for the
    // host must be discarded.
    bool TakeDropPending();

    // ----- inspection -----
    const ModelTraits& Model() const { return *model_; }
    bool Paced() const;
    uint32_t AdapterLatencyMs() const;
    Phase CurrentPhase() const;
    bool LinkPresent() const;  // false while it has left the link (replug, vanish, power cycle)
    Counters GetCounters() const;
    std::vector<std::string> Errors() const;  // the first MAX_ERRORS_KEPT
    const std::vector<Fault> Faults() const;
    // Bytes programmed by the last transfer (filler included), and those bytes.
    uint32_t ReceivedBytes() const;
    std::vector<uint8_t> Received() const;
    bool TransferComplete() const;  // the last transfer ended with an acknowledged EOT
    FlashCheck CompareFlash(const uint8_t* image, size_t size) const;
    uint32_t ErasedPages() const;

private:
    enum class LinkState : uint8_t { Present, Detached, PowerCyclePending, Vanished };
    struct Unit;
    struct Reply;

    bool NextUnit(Unit* u);
    void Handle(const Unit& u, uint64_t now, const HostLine& line, std::vector<TimedByte>* out);
    Kind Classify(const Unit& u, std::vector<uint8_t>* frame, FrameError* ferr) const;
    void SendReply(const Reply& r, const ReplyPlan& plan, uint64_t now, const HostLine& line,
                   LogLine* log, std::vector<TimedByte>* out);
    Reply Process(const Unit& u, Kind kind, const std::vector<uint8_t>& frame,
                  const ReplyPlan& plan, const HostLine& line);
    Reply ProcessApp(Kind kind, const std::vector<uint8_t>& frame, const ReplyPlan& plan);
    Reply ProcessBoot(const Unit& u, Kind kind, const std::vector<uint8_t>& frame,
                      const ReplyPlan& plan);
    void AppReply(Kind kind, const std::vector<uint8_t>& frame, uint8_t group, Reply* r);
    std::string ConfirmEnter();
    Reply BootFrameReply(Kind kind, const std::vector<uint8_t>& frame, const ReplyPlan& plan);
    uint8_t ErasePage(std::string* note);
    void StartTransfer();
    Reply ProcessBlock(const Unit& u, const ReplyPlan& plan);
    void CheckLine(const HostLine& line, Kind kind);
    void Emit(const std::vector<uint8_t>& bytes, uint64_t at, const HostLine& line,
              std::vector<TimedByte>* out) const;
    void EnterBoot();
    void EnterApp();
    void RecordError(const std::string& what);
    uint32_t BlockPosition(const Unit& u) const;
    uint8_t GroupCode() const { return model_->aio ? 0x5B : 0x59; }

    mutable std::mutex mu_;
    const ModelTraits* model_;
    Config cfg_;
    FaultSet faults_;
    Flash flash_;
    Counters counters_;
    std::vector<std::string> errors_;
    std::function<void(const LogLine&)> sink_;

    Phase phase_ = Phase::App;
    Kind lastKind_ = Kind::Junk;  // the request before this one
    LinkState link_ = LinkState::Present;
    bool vanishComesBack_ = false;
    bool dropPending_ = false;
    bool awaitingConfirm_ = false;
    uint64_t nowMs_ = 0;
    // The PLC handles one request at a time: a request that comes while a late reply is still
    // due is answered after it.
    uint64_t busyUntilMs_ = 0;

    // bootloader
    bool inEraseSequence_ = false;
    uint32_t eraseCursor_ = 0;
    uint32_t regionPages_ = 0;
    uint8_t expectedNum_ = 1;
    int lastNum_ = -1;
    bool transferComplete_ = false;
    uint32_t receivedBytes_ = 0;

    // bytes taken but not yet a whole request
    std::string in_;
    uint64_t lastByteMs_ = 0;
    std::string lastLineError_;
};

// Registers the PLC under a virtual link name (replacing any earlier peer of that name) and
// returns the link; CreateFileA of that name then reaches the PLC on the virtual clock. The
// PLC reads the host's line settings from VirtualLink::Line(); replies still queued are
// discarded when the host closes the link (a closed port loses its input).
platform::VirtualLink& AttachVirtual(const std::shared_ptr<Plc>& plc, const std::string& linkName);

}  // namespace plcsim
