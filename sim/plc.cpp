// The simulated PLC: stream parsing, the application firmware, the bootloader and the faults.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "bootloader/bootloader.h"
#include "catalogue/codes.h"
#include "sim/ascii.h"
#include "sim/sim.h"

namespace plcsim {

namespace {

// The longest request frame is 23 characters; anything much longer without LF is noise.
constexpr size_t MAX_FRAME_CHARS = 64;

// What a glitch on the line (a power cycle, a plug) leaves in the receiver.
constexpr uint8_t STRAY_BYTE = 0x00;

const char* const kWords[] = {"ID", "VERSION", "ERASE", "UPDATE"};

// Data register Dn has the address 0x1000 + n.
constexpr uint16_t REGISTER_BASE = 0x1000;

bool StartsWith(const std::string& s, const char* w) {
    size_t n = std::strlen(w);
    return s.size() >= n && s.compare(0, n, w) == 0;
}

bool IsPrefixOf(const std::string& s, const char* w) {
    size_t n = std::strlen(w);
    return s.size() < n && std::memcmp(s.data(), w, s.size()) == 0;
}

// A byte that can start a bootloader request.
bool BootStart(uint8_t c) {
    return c == ':' || c == EOT || c == STX || c == 'I' || c == 'V' || c == 'E' || c == 'U';
}

}  // namespace

// One whole request cut from the byte stream.
struct Plc::Unit {
    enum Type { AsciiFrame, Word, EotByte, BlockPacket, Junk } type = Junk;
    std::string bytes;
};

struct Plc::Reply {
    std::vector<uint8_t> bytes;  // binary reply, or the decoded bytes of an ASCII one (no LRC)
    bool ascii = false;
    std::string note;
};

bool DefaultConfig(const std::string& model, Config* cfg, std::string* error) {
    const ModelTraits* t = FindModel(model);
    if (t == nullptr) {
        if (error) *error = "unknown model '" + model + "'";
        return false;
    }
    Config c;
    c.model = t->name;
    c.appId = c.id67 = c.bootId = t->id;
    c.d1386 = t->d1386;
    c.d1001 = t->d1001;
    c.d1148 = t->d1148;
    *cfg = c;
    return true;
}

std::string FormatLogLine(const LogLine& l) {
    char head[64];
    std::snprintf(head, sizeof head, "%10llu ms %-8s %-12s ",
                  static_cast<unsigned long long>(l.atMs), PhaseName(l.phase), KindName(l.kind));
    std::string s = head;
    s += "host " + l.host;
    s += l.reply.empty() ? " -> (no reply)" : " -> plc " + l.reply;
    if (!l.note.empty()) s += "  [" + l.note + "]";
    return s;
}

Plc::Plc(const Config& cfg) : model_(FindModel(cfg.model)), cfg_(cfg) {
    if (model_ == nullptr) {
        // A caller that skipped DefaultConfig still gets a working PLC rather than a crash.
        model_ = FindModel(plcList[ROW_RP200]);
        errors_.push_back("unknown model '" + cfg.model + "', playing " + model_->name);
    }
    flash_ = Flash(model_->pageBytes);
    phase_ = cfg.start == StartMode::Boot ? Phase::Boot : Phase::App;
    // The flash the bootloader may erase: as many pages as the largest image of the model takes.
    regionPages_ = ErasePageCount(model_->catalogueIdx, MaxImageBytes(model_->catalogueIdx));
}

std::shared_ptr<Plc> Plc::Create(const std::string& model, std::string* error) {
    Config cfg;
    if (!DefaultConfig(model, &cfg, error)) return nullptr;
    return std::make_shared<Plc>(cfg);
}

Config Plc::GetConfig() const {
    std::lock_guard<std::mutex> lock(mu_);
    return cfg_;
}

void Plc::SetConfig(const Config& cfg) {
    std::lock_guard<std::mutex> lock(mu_);
    std::string model = cfg_.model;
    cfg_ = cfg;
    cfg_.model = model;
}

bool Plc::AddFault(const std::string& faultText, std::string* error) {
    std::lock_guard<std::mutex> lock(mu_);
    return faults_.Add(faultText, error);
}

void Plc::AddFault(const Fault& f) {
    std::lock_guard<std::mutex> lock(mu_);
    faults_.Add(f);
}

void Plc::ClearFaults() {
    std::lock_guard<std::mutex> lock(mu_);
    faults_.Clear();
    busyUntilMs_ = 0;  // late replies were the faults' doing
    if (link_ == LinkState::Vanished) {
        link_ = LinkState::Present;
        if (phase_ == Phase::Transfer) phase_ = Phase::Boot;
    }
}

void Plc::SetSeed(uint32_t seed) {
    std::lock_guard<std::mutex> lock(mu_);
    faults_.Seed(seed);
}

void Plc::SetLogSink(std::function<void(const LogLine&)> sink) {
    std::lock_guard<std::mutex> lock(mu_);
    sink_ = std::move(sink);
}

void Plc::RestartInto(StartMode mode) {
    std::lock_guard<std::mutex> lock(mu_);
    link_ = LinkState::Present;
    in_.clear();
    if (mode == StartMode::Boot)
        EnterBoot();
    else
        EnterApp();
}

void Plc::Unplug() {
    std::lock_guard<std::mutex> lock(mu_);
    link_ = LinkState::Vanished;
    vanishComesBack_ = false;
    in_.clear();
    dropPending_ = true;
}

Phase Plc::CurrentPhase() const {
    std::lock_guard<std::mutex> lock(mu_);
    return phase_;
}

bool Plc::LinkPresent() const {
    std::lock_guard<std::mutex> lock(mu_);
    return link_ == LinkState::Present;
}

Counters Plc::GetCounters() const {
    std::lock_guard<std::mutex> lock(mu_);
    return counters_;
}

std::vector<std::string> Plc::Errors() const {
    std::lock_guard<std::mutex> lock(mu_);
    return errors_;
}

const std::vector<Fault> Plc::Faults() const {
    std::lock_guard<std::mutex> lock(mu_);
    return faults_.List();
}

uint32_t Plc::ReceivedBytes() const {
    std::lock_guard<std::mutex> lock(mu_);
    return receivedBytes_;
}

std::vector<uint8_t> Plc::Received() const {
    std::lock_guard<std::mutex> lock(mu_);
    return flash_.Read(0, receivedBytes_);
}

bool Plc::TransferComplete() const {
    std::lock_guard<std::mutex> lock(mu_);
    return transferComplete_;
}

uint32_t Plc::ErasedPages() const {
    std::lock_guard<std::mutex> lock(mu_);
    return flash_.ErasedPageCount();
}

FlashCheck Plc::CompareFlash(const uint8_t* image, size_t size) const {
    std::lock_guard<std::mutex> lock(mu_);
    FlashCheck c;
    uint32_t n = static_cast<uint32_t>(std::min<size_t>(size, Flash::CAPACITY_BYTES));
    // The 4 KiB-page models never get the image's last 4096 bytes.
    c.imageBytesSent = ImageBytesSent(model_->catalogueIdx, n);
    uint32_t bs = model_->blockBytes;
    c.expectedReceived = (c.imageBytesSent + bs - 1) / bs * bs;
    c.receivedBytes = receivedBytes_;
    if (!transferComplete_) {
        c.detail = "no transfer was completed";
    } else if (c.receivedBytes != c.expectedReceived) {
        c.detail = "received " + std::to_string(c.receivedBytes) + " bytes, expected " +
                   std::to_string(c.expectedReceived);
    }
    std::vector<uint8_t> got = flash_.Read(0, c.expectedReceived);
    for (uint32_t i = 0; i < c.expectedReceived; ++i) {
        uint8_t want = i < c.imageBytesSent ? image[i] : static_cast<uint8_t>(SUB);
        if (got[i] != want) {
            c.firstDifference = i;
            char buf[96];
            std::snprintf(buf, sizeof buf, "byte %u is 0x%02X, expected 0x%02X%s", i, got[i], want,
                          i < c.imageBytesSent ? "" : " (filler)");
            if (c.detail.empty())
                c.detail = buf;
            else
                c.detail += std::string("; ") + buf;
            break;
        }
    }
    c.equal = c.detail.empty();
    return c;
}

bool Plc::TakeDropPending() {
    std::lock_guard<std::mutex> lock(mu_);
    bool d = dropPending_;
    dropPending_ = false;
    return d;
}

void Plc::RecordError(const std::string& what) {
    if (errors_.size() >= MAX_ERRORS_KEPT) {
        ++counters_.errorsDropped;
        return;
    }
    char head[32];
    std::snprintf(head, sizeof head, "%llu ms: ", static_cast<unsigned long long>(nowMs_));
    errors_.push_back(head + what);
}

void Plc::EnterBoot() {
    phase_ = Phase::Boot;
    busyUntilMs_ = 0;
    awaitingConfirm_ = false;
    inEraseSequence_ = false;
    expectedNum_ = 1;
    lastNum_ = -1;
    dropPending_ = true;
    ++counters_.restartsToBoot;
}

void Plc::EnterApp() {
    phase_ = Phase::App;
    busyUntilMs_ = 0;
    awaitingConfirm_ = false;
    inEraseSequence_ = false;
    dropPending_ = true;
}

bool Plc::Open(uint64_t nowMs) {
    std::lock_guard<std::mutex> lock(mu_);
    nowMs_ = nowMs;
    // A USB device that left the bus for good cannot be opened.
    if (link_ == LinkState::Vanished && !vanishComesBack_ && model_->usb) return false;
    ++counters_.opens;
    return true;
}

void Plc::Close(uint64_t nowMs) {
    std::lock_guard<std::mutex> lock(mu_);
    nowMs_ = nowMs;
    ++counters_.closes;
    in_.clear();
    // The replies still due are lost with the link: the next opener is not kept waiting for them.
    busyUntilMs_ = 0;
    switch (link_) {
        case LinkState::Detached:
        case LinkState::PowerCyclePending:
            // Replugged or power-cycled: by the time anyone opens the link again the PLC
            // runs its bootloader.
            link_ = LinkState::Present;
            EnterBoot();
            return;
        case LinkState::Vanished:
            if (!vanishComesBack_) return;
            link_ = LinkState::Present;
            break;
        case LinkState::Present:
            break;
    }
    if (phase_ == Phase::Transfer) {
        if (transferComplete_)
            EnterApp();
        else
            phase_ = Phase::Boot;
    }
}

size_t Plc::Write(const uint8_t* data, size_t len, uint64_t nowMs, const HostLine& line,
                  std::vector<TimedByte>* replies) {
    std::lock_guard<std::mutex> lock(mu_);
    nowMs_ = nowMs;
    bool usbGone = model_->usb && link_ == LinkState::Vanished;
    if (link_ == LinkState::Detached || usbGone) return 0;
    if (link_ == LinkState::Vanished || link_ == LinkState::PowerCyclePending) {
        // Taken by the port, heard by no one.
        if (sink_) {
            LogLine l{
                nowMs,
                phase_,
                Kind::Junk,
                Escape(data, std::min<size_t>(len, 40)),
                "",
                link_ == LinkState::Vanished ? "link gone" : "restarting, waits for a power cycle"};
            sink_(l);
        }
        return len;
    }
    if (!in_.empty() && nowMs - lastByteMs_ > cfg_.interByteTimeoutMs) {
        RecordError("incomplete request discarded: " + Escape(in_.substr(0, 40)));
        in_.clear();
    }
    in_.append(reinterpret_cast<const char*>(data), len);
    lastByteMs_ = nowMs;
    Unit u;
    while (link_ == LinkState::Present && NextUnit(&u)) Handle(u, nowMs, line, replies);
    if (link_ != LinkState::Present) in_.clear();
    return len;
}

bool Plc::Paced() const {
    std::lock_guard<std::mutex> lock(mu_);
    return cfg_.pace;
}

uint32_t Plc::AdapterLatencyMs() const {
    std::lock_guard<std::mutex> lock(mu_);
    return cfg_.adapterLatencyMs;
}

bool Plc::NextUnit(Unit* u) {
    if (in_.empty()) return false;
    uint8_t c = static_cast<uint8_t>(in_[0]);
    auto take = [&](Unit::Type type, size_t n) {
        u->type = type;
        u->bytes = in_.substr(0, n);
        in_.erase(0, n);
        return true;
    };
    if (c == ':') {
        size_t lf = in_.find('\n');
        if (lf != std::string::npos && lf < MAX_FRAME_CHARS) return take(Unit::AsciiFrame, lf + 1);
        if (in_.size() < MAX_FRAME_CHARS) return false;
        size_t next = in_.find(':', 1);
        return take(Unit::Junk, next == std::string::npos ? in_.size() : next);
    }
    if (phase_ == Phase::App) {
        size_t next = in_.find(':');
        return take(Unit::Junk, next == std::string::npos ? in_.size() : next);
    }
    if (c == EOT) return take(Unit::EotByte, 1);
    if (c == STX) {
        size_t packet = 3 + model_->blockBytes + 2;
        if (in_.size() < packet) return false;
        return take(Unit::BlockPacket, packet);
    }
    for (const char* w : kWords) {
        if (StartsWith(in_, w)) return take(Unit::Word, std::strlen(w));
        if (IsPrefixOf(in_, w)) return false;
    }
    size_t n = 1;
    while (n < in_.size() && !BootStart(static_cast<uint8_t>(in_[n]))) ++n;
    return take(Unit::Junk, n);
}

uint32_t Plc::BlockPosition(const Unit& u) const {
    uint8_t num = static_cast<uint8_t>(u.bytes[1]);
    if (counters_.blocksAccepted > 0 && num == static_cast<uint8_t>(expectedNum_ - 1))
        return counters_.blocksAccepted;
    return counters_.blocksAccepted + 1;
}

namespace {

Kind ClassifyFrame(const std::vector<uint8_t>& f) {
    // f holds address, function, data..., LRC.
    size_t n = f.size() - 3;  // data bytes
    const uint8_t* d = f.data() + 2;
    switch (f[1]) {
        case 0x7F:
            return n == 0 ? Kind::Wakeup : Kind::Frame;
        case 0x64:
            if (n < 3 || d[0] != 0x01 || (d[1] != 0x59 && d[1] != 0x5B)) return Kind::Frame;
            if (n == 3 && d[2] == 0x01) return Kind::Probe;
            if (n == 3 && d[2] == 0x05) return Kind::Version;
            if (n == 3 && d[2] == ACK) return Kind::Confirm;
            if (n == 4 && d[2] == 'I' && d[3] == 'D') return Kind::Id;
            if (n == 7 && std::memcmp(d + 2, "ERASE", 5) == 0) return Kind::Enter;
            return Kind::Frame;
        case 0x03: {
            if (n != 4 || d[2] != 0 || d[3] != 1) return Kind::Frame;
            uint16_t addr = static_cast<uint16_t>(d[0] << 8 | d[1]);
            if (addr == REGISTER_BASE + 1386) return Kind::D1386;
            if (addr == REGISTER_BASE + 1001) return Kind::D1001;
            if (addr == REGISTER_BASE + 1148) return Kind::D1148;
            return Kind::Register;
        }
        case 0x67:
            return n == 4 && d[0] == 0x00 && d[1] == 0x13 && d[2] == 0x00 && d[3] == 0x02
                       ? Kind::Id67
                       : Kind::Frame;
        default:
            return Kind::Frame;
    }
}

std::string Summarise(const std::string& bytes, size_t blockBytes) {
    const uint8_t* b = reinterpret_cast<const uint8_t*>(bytes.data());
    if (!bytes.empty() && b[0] == STX && bytes.size() == 5 + blockBytes) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "STX #%u ~%u [%zu data] CRC %02X%02X", b[1], b[2],
                      blockBytes, b[3 + blockBytes], b[4 + blockBytes]);
        return buf;
    }
    if (bytes.size() > 48) return Escape(b, 48) + "...(" + std::to_string(bytes.size()) + " bytes)";
    return Escape(b, bytes.size());
}

// The bytes of a reply on the wire: an ASCII reply framed (lower-case hex or a wrong LRC when a
// fault says so), then corrupted when a fault says so.
std::vector<uint8_t> WireBytes(const std::vector<uint8_t>& bytes, bool ascii,
                               const ReplyPlan& plan) {
    std::vector<uint8_t> wire;
    if (ascii) {
        std::string text = EncodeFrame(bytes, plan.lowercase, plan.badLrc ? 1 : 0);
        wire.assign(text.begin(), text.end());
    } else {
        wire = bytes;
    }
    if (plan.corrupt) {
        // An ASCII reply gets one hex digit changed (its LRC no longer holds); a bootloader
        // reply loses its ACK.
        if (ascii) {
            uint8_t& digit = wire[wire.size() - 5];
            digit = digit == '0' ? '1' : '0';
        } else {
            wire[0] ^= 0x80;
        }
    }
    return wire;
}

// What the faults did to a reply, for the log; empty when nothing.
std::string FaultNote(const ReplyPlan& plan) {
    std::string note;
    if (plan.lowercase) note += " lower-case";
    if (plan.badLrc) note += " bad LRC";
    if (plan.corrupt) note += " corrupted";
    if (plan.delayMs) note += " " + std::to_string(plan.delayMs) + " ms late";
    if (plan.drop) note += " dropped";
    if (plan.twice)
        note += plan.twiceGapMs ? " sent twice, the copy " + std::to_string(plan.twiceGapMs) +
                                      " ms later"
                                : std::string(" sent twice");
    if (plan.cut) note += " cut short";
    if (plan.split) note += " split, its rest " + std::to_string(plan.splitGapMs) + " ms later";
    if (plan.noise) note += " a stray byte before it";
    if (plan.stray) note += " a stray byte " + std::to_string(plan.strayAfterMs) + " ms after it";
    return note;
}

}  // namespace

Kind Plc::Classify(const Unit& u, std::vector<uint8_t>* frame, FrameError* ferr) const {
    switch (u.type) {
        case Unit::AsciiFrame:
            *ferr = DecodeFrame(u.bytes, frame);
            return *ferr != FrameError::None ? Kind::BadFrame : ClassifyFrame(*frame);
        case Unit::Word:
            return u.bytes == "ID"        ? Kind::BootId
                   : u.bytes == "VERSION" ? Kind::BootVersion
                   : u.bytes == "ERASE"   ? Kind::Erase
                                          : Kind::Update;
        case Unit::EotByte:
            return phase_ == Phase::Transfer ? Kind::Eot : Kind::EraseEot;
        case Unit::BlockPacket:
            return Kind::Block;
        case Unit::Junk:
            return Kind::Junk;
    }
    return Kind::Junk;
}

void Plc::Handle(const Unit& u, uint64_t now, const HostLine& line, std::vector<TimedByte>* out) {
    std::vector<uint8_t> frame;
    FrameError ferr = FrameError::None;
    const Kind kind = Classify(u, &frame, &ferr);
    ++counters_.requests[static_cast<size_t>(kind)];
    if (kind == Kind::Wakeup && lastKind_ == Kind::Probe) ++counters_.looks;
    lastKind_ = kind;

    LogLine log;
    log.atMs = now;
    log.phase = phase_;
    log.kind = kind;
    // The texts of the log only when someone reads them: a transfer is thousands of blocks.
    if (sink_) log.host = Summarise(u.bytes, model_->blockBytes);

    ReplyPlan plan = faults_.Plan(kind, phase_, kind == Kind::Block ? BlockPosition(u) : 0);
    Reply r;
    if (plan.vanish) {
        link_ = LinkState::Vanished;
        vanishComesBack_ = plan.vanishComesBack;
        dropPending_ = true;
        log.note =
            vanishComesBack_ ? "link vanishes (fault; back after reopen)" : "link vanishes (fault)";
    } else if (plan.silent) {
        log.note = "ignored (silent fault)";
    } else {
        if (kind == Kind::BadFrame)
            RecordError("bad frame " + Escape(u.bytes) + ": " + FrameErrorText(ferr));
        r = Process(u, kind, frame, plan, line);
        log.note = r.note;
    }
    if (!r.bytes.empty()) SendReply(r, plan, now, line, &log, out);
    if (sink_) sink_(log);
}

void Plc::SendReply(const Reply& r, const ReplyPlan& plan, uint64_t now, const HostLine& line,
                    LogLine* log, std::vector<TimedByte>* out) {
    std::vector<uint8_t> wire = WireBytes(r.bytes, r.ascii, plan);
    if (wire.size() == 1 && wire[0] == NAK) ++counters_.naksSent;
    if (wire.size() == 1 && wire[0] == NOK) ++counters_.noksSent;
    if (sink_)
        log->reply = r.ascii ? Escape(wire.data(), wire.size()) : Hex(wire.data(), wire.size());
    if (plan.drop) ++counters_.repliesDropped;
    std::string faultNote = FaultNote(plan);
    if (!faultNote.empty()) log->note += (log->note.empty() ? "fault:" : "; fault:") + faultNote;
    uint64_t at = std::max(now, busyUntilMs_) + cfg_.replyLatencyMs + plan.delayMs;
    // Busy until the reply's last byte is out: a split reply keeps the PLC busy over its gap,
    // a reply sent twice until its copy.
    busyUntilMs_ = at + (plan.split ? plan.splitGapMs : 0);
    uint64_t copyAt = busyUntilMs_ + plan.twiceGapMs;
    if (plan.twice) busyUntilMs_ = copyAt;
    if (plan.cut) wire.resize(wire.size() / 2);
    size_t before = out->size();
    if (!plan.drop && !wire.empty()) {
        if (plan.noise) Emit({STRAY_BYTE}, at, line, out);
        if (plan.split) {
            size_t half = wire.size() / 2;
            Emit({wire.begin(), wire.begin() + static_cast<std::ptrdiff_t>(half)}, at, line, out);
            Emit({wire.begin() + static_cast<std::ptrdiff_t>(half), wire.end()}, busyUntilMs_,
                 line, out);
        } else {
            Emit(wire, at, line, out);
        }
        if (plan.twice) Emit(wire, copyAt, line, out);
    }
    // The line's glitch does not depend on the reply: it comes after the reply's last byte, or
    // after the time the reply was due when there was none.
    if (plan.stray) {
        uint64_t last = out->size() > before ? out->back().atMs : at;
        out->push_back({plan.strayByte, last + plan.strayAfterMs, true});
    }
}

void Plc::Emit(const std::vector<uint8_t>& bytes, uint64_t at, const HostLine& line,
               std::vector<TimedByte>* out) const {
    if (!cfg_.pace) {
        for (uint8_t b : bytes) out->push_back({b, at});
        return;
    }
    const platform::LineSettings& s = line.line;
    uint32_t baud = s.baud ? s.baud : 9600;
    uint32_t bits =
        1 + s.byteSize + (s.parity != NOPARITY ? 1 : 0) + (s.stopBits == ONESTOPBIT ? 1 : 2);
    for (size_t i = 0; i < bytes.size(); ++i) {
        uint64_t us = (static_cast<uint64_t>(i) + 1) * bits * 1000000ull / baud;
        out->push_back({bytes[i], at + (us + 999) / 1000});
    }
}

void Plc::CheckLine(const HostLine& hl, Kind kind) {
    if (model_->usb) return;  // a USB-attached PLC ignores the line settings
    const platform::LineSettings& s = hl.line;
    bool fast = phase_ == Phase::Transfer && kind != Kind::Update;
    uint32_t baud = fast ? 115200 : 9600;
    uint8_t bits = fast ? 8 : 7;
    uint8_t parity = fast ? NOPARITY : EVENPARITY;
    bool ok = s.baud == baud && (!hl.framingKnown || (s.byteSize == bits && s.parity == parity &&
                                                      s.stopBits == ONESTOPBIT));
    std::string expected = fast ? "115200 8N1" : "9600 7E1";
    if (ok) {
        lastLineError_.clear();
        return;
    }
    char got[48];
    std::snprintf(got, sizeof got, "%u %u%c%s", s.baud, s.byteSize,
                  s.parity == NOPARITY     ? 'N'
                  : s.parity == EVENPARITY ? 'E'
                                           : 'O',
                  s.stopBits == ONESTOPBIT ? "1" : "2");
    std::string what = std::string("line ") + (hl.framingKnown ? got : std::to_string(s.baud)) +
                       " at " + KindName(kind) + ", expected " + expected;
    // One error per change of the wrong setting, not one per block.
    std::string key = std::string(got) + expected;
    if (key != lastLineError_) RecordError(what);
    lastLineError_ = key;
}

Plc::Reply Plc::Process(const Unit& u, Kind kind, const std::vector<uint8_t>& frame,
                        const ReplyPlan& plan, const HostLine& line) {
    Reply r;
    if (kind == Kind::Junk) {
        RecordError("stray bytes " + Escape(u.bytes.substr(0, 40)) + " in " + PhaseName(phase_));
        r.note = "stray bytes";
        return r;
    }
    if (kind == Kind::BadFrame) {
        r.note = "bad frame, no reply";
        return r;
    }
    if (u.type == Unit::AsciiFrame && frame[0] != 0x00) {
        RecordError("frame for address " + std::to_string(frame[0]) + ": " + Escape(u.bytes));
        r.note = "not our address";
        return r;
    }
    if (phase_ == Phase::Transfer && u.type == Unit::AsciiFrame) {
        // A frame after a completed transfer meets the new application firmware; in the middle
        // of one it means a host starting over, and the bootloader goes back to its commands.
        if (transferComplete_)
            EnterApp();
        else
            phase_ = Phase::Boot;
    }
    CheckLine(line, kind);
    if (phase_ == Phase::App) {
        if (u.type != Unit::AsciiFrame) {
            RecordError("bootloader request in application mode: " + Escape(u.bytes));
            r.note = "not understood by the application firmware";
            return r;
        }
        return ProcessApp(kind, frame, plan);
    }
    return ProcessBoot(u, kind, frame, plan);
}

Plc::Reply Plc::ProcessApp(Kind kind, const std::vector<uint8_t>& frame, const ReplyPlan& plan) {
    Reply r;
    r.ascii = true;
    uint8_t group = frame.size() > 3 && frame[1] == 0x64 ? frame[3] : GroupCode();
    auto status = [&](uint8_t st, uint8_t b5, uint8_t b6) {
        r.bytes = {0x00, frame[1], 0x01, group, st, b5, b6};
    };
    if (plan.nak || plan.nok) {
        uint8_t st = plan.nak ? NAK : NOK;
        if (frame[1] == 0x03)
            r.bytes = {0x00, 0x83, 0x02};  // register read: exception reply
        else
            status(st, 0, 0);
        if (plan.nak)
            ++counters_.naksSent;
        else
            ++counters_.noksSent;
        r.note = plan.nak ? "NAK (fault)" : "NOK (fault)";
        return r;
    }
    Refusal refusal = faults_.RefusalFor(kind);
    if (refusal.refused) {
        status(NAK, refusal.errorClass, refusal.state);
        ++counters_.naksSent;
        r.note = refusal.errorClass == 1 ? "RUN mode"
                                         : "refused, class " + std::to_string(refusal.errorClass) +
                                               " state " + std::to_string(refusal.state);
        return r;
    }
    AppReply(kind, frame, group, &r);
    return r;
}

void Plc::AppReply(Kind kind, const std::vector<uint8_t>& frame, uint8_t group, Reply* r) {
    auto status = [&](uint8_t st, uint8_t b5, uint8_t b6) {
        r->bytes = {0x00, frame[1], 0x01, group, st, b5, b6};
    };
    auto hi = [](uint16_t v) { return static_cast<uint8_t>(v >> 8); };
    auto lo = [](uint16_t v) { return static_cast<uint8_t>(v & 0xFF); };
    auto registerReply = [&](uint16_t v) { r->bytes = {0x00, 0x03, 0x02, hi(v), lo(v)}; };
    switch (kind) {
        case Kind::Wakeup:
            if (cfg_.answerWakeup) r->bytes = {0x00, 0x7F, ACK};
            r->note = "wake-up";
            break;
        case Kind::Probe:
            status(ENQ, 0, 0);
            r->note = "application firmware";
            break;
        case Kind::Id:
            status(ACK, hi(cfg_.appId), lo(cfg_.appId));
            break;
        case Kind::Version:
            status(cfg_.appVersion, 0, 0);
            break;
        case Kind::D1386:
            registerReply(cfg_.d1386);
            break;
        case Kind::D1001:
            registerReply(cfg_.d1001);
            break;
        case Kind::D1148:
            registerReply(cfg_.d1148);
            break;
        case Kind::Register: {
            uint16_t n = static_cast<uint16_t>((frame[2] << 8 | frame[3]) - REGISTER_BASE);
            auto it = cfg_.registers.find(n);
            registerReply(it == cfg_.registers.end() ? 0 : it->second);
            break;
        }
        case Kind::Id67:
            r->bytes = {0x00, 0x67, 0x04, hi(cfg_.id67), lo(cfg_.id67), 0x00, 0x00};
            break;
        case Kind::Enter:
            if (model_->restart == Restart::PowerCycle && !cfg_.powerCycleReplies) {
                link_ = LinkState::PowerCyclePending;
                r->note = "restarts into the bootloader after a power cycle";
                break;
            }
            status(ACK, 0, 0);
            awaitingConfirm_ = true;
            r->note = "waits for the confirmation";
            break;
        case Kind::Confirm:
            r->note = ConfirmEnter();
            break;
        default:
            RecordError("request not understood: " + Hex(frame.data(), frame.size()));
            r->note = "not understood";
            break;
    }
}

// The confirmation of the enter-bootloader request: the PLC leaves its application firmware
// the way its model restarts. Returns the note of the exchange.
std::string Plc::ConfirmEnter() {
    if (!awaitingConfirm_) {
        RecordError("confirmation without an enter-bootloader request");
        return "unexpected confirmation";
    }
    awaitingConfirm_ = false;
    switch (model_->restart) {
        case Restart::AtOnce:
            EnterBoot();
            return "restarts into the bootloader";
        case Restart::Replug:
            link_ = LinkState::Detached;
            dropPending_ = true;
            return "leaves the USB bus until replugged";
        case Restart::PowerCycle:
            link_ = LinkState::PowerCyclePending;
            return "restarts into the bootloader after a power cycle";
    }
    return "";
}

Plc::Reply Plc::ProcessBoot(const Unit& u, Kind kind, const std::vector<uint8_t>& frame,
                            const ReplyPlan& plan) {
    Reply r;
    auto single = [&](uint8_t b) { r.bytes = {b}; };
    if (kind != Kind::Erase) inEraseSequence_ = false;
    if (u.type == Unit::AsciiFrame) return BootFrameReply(kind, frame, plan);
    if (plan.nak || plan.nok) {
        if (kind == Kind::Block) return ProcessBlock(u, plan);
        single(plan.nak ? NAK : NOK);
        r.note = plan.nak ? "NAK (fault)" : "NOK (fault)";
        return r;
    }
    switch (kind) {
        case Kind::BootId: {
            uint16_t id = cfg_.bootId;
            if (!model_->usb && !cfg_.bootIdBit15) id &= 0x7FFF;
            r.bytes = {ACK, static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id & 0xFF)};
            break;
        }
        case Kind::BootVersion: {
            // The host rebuilds v as ((b1 << 4) + (b2 >> 4)) & 0xFF.
            uint8_t v = cfg_.bootVersion;
            r.bytes = {ACK, static_cast<uint8_t>(v >> 4), static_cast<uint8_t>((v & 0x0F) << 4)};
            break;
        }
        case Kind::Erase:
            single(ErasePage(&r.note));
            break;
        case Kind::EraseEot:
            single(ACK);
            r.note = "erase done";
            break;
        case Kind::Update:
            StartTransfer();
            single(ACK);
            r.note = "expects 115200 8N1 blocks";
            break;
        case Kind::Block:
            return ProcessBlock(u, plan);
        case Kind::Eot:
            if (!transferComplete_) {
                transferComplete_ = true;
                ++counters_.updatesCompleted;
                r.note = "transfer complete, " + std::to_string(receivedBytes_) + " bytes";
            } else {
                r.note = "EOT again";
            }
            single(ACK);
            break;
        default:
            break;
    }
    return r;
}

// An application-mode frame reaching the bootloader: only the probe is answered.
Plc::Reply Plc::BootFrameReply(Kind kind, const std::vector<uint8_t>& frame,
                               const ReplyPlan& plan) {
    Reply r;
    if (kind == Kind::Probe) {
        r.ascii = true;
        r.bytes = {0x00, 0x64, 0x01, frame[3], plan.nak ? uint8_t(NAK) : uint8_t(ACK), 0, 0};
        r.note = "bootloader";
    } else if (kind == Kind::Wakeup) {
        r.note = "wake-up ignored";
    } else {
        r.note = "application request ignored by the bootloader";
    }
    return r;
}

// One "ERASE": the next page of the model's region. Returns the reply byte.
uint8_t Plc::ErasePage(std::string* note) {
    if (phase_ == Phase::Transfer) {
        RecordError("ERASE during a transfer");
        return NAK;
    }
    if (!inEraseSequence_) {
        inEraseSequence_ = true;
        eraseCursor_ = 0;
    }
    if (eraseCursor_ >= regionPages_) {
        RecordError("ERASE of page " + std::to_string(eraseCursor_) +
                    ", past the model's region of " + std::to_string(regionPages_) + " pages");
        return NAK;
    }
    std::string err;
    if (!flash_.ErasePage(eraseCursor_, &err)) {
        RecordError(err);
        return NAK;
    }
    ++counters_.pagesErased;
    *note = "page " + std::to_string(eraseCursor_) + " erased";
    ++eraseCursor_;
    return ACK;
}

// "UPDATE": a new transfer from block 1.
void Plc::StartTransfer() {
    if (phase_ == Phase::Transfer && counters_.blocksAccepted > 0 && !transferComplete_)
        RecordError("UPDATE in the middle of a transfer");
    phase_ = Phase::Transfer;
    expectedNum_ = 1;
    lastNum_ = -1;
    counters_.blocksAccepted = 0;
    receivedBytes_ = 0;
    transferComplete_ = false;
}

Plc::Reply Plc::ProcessBlock(const Unit& u, const ReplyPlan& plan) {
    Reply r;
    const uint8_t* b = reinterpret_cast<const uint8_t*>(u.bytes.data());
    uint32_t bs = model_->blockBytes;
    uint8_t num = b[1];
    auto answer = [&](uint8_t c, const std::string& note) {
        r.bytes = {c};
        r.note = note;
        return r;
    };
    if (phase_ != Phase::Transfer) {
        RecordError("block #" + std::to_string(num) + " before UPDATE");
        return answer(NAK, "block before UPDATE");
    }
    if (lastNum_ == num) ++counters_.resendsSeen;
    lastNum_ = num;
    if (transferComplete_) {
        RecordError("block #" + std::to_string(num) + " after the closing EOT");
        return answer(NAK, "block after EOT");
    }
    if (b[2] != static_cast<uint8_t>(255 - num)) {
        RecordError("block #" + std::to_string(num) + ": complement " + std::to_string(b[2]));
        return answer(NAK, "bad complement");
    }
    uint32_t crc = CRC(b + 3, bs);
    uint32_t sent = static_cast<uint32_t>(b[3 + bs] << 8 | b[4 + bs]);
    if (crc != sent) {
        char buf[80];
        std::snprintf(buf, sizeof buf, "block #%u: CRC %04X, computed %04X", num, sent, crc);
        RecordError(buf);
        return answer(NAK, "bad CRC");
    }
    bool resend = counters_.blocksAccepted > 0 && num == static_cast<uint8_t>(expectedNum_ - 1);
    if (num != expectedNum_ && !resend) {
        RecordError("block #" + std::to_string(num) + " out of sequence, expected #" +
                    std::to_string(expectedNum_));
        return answer(NAK, "out of sequence");
    }
    if (plan.nak) return answer(NAK, "NAK (fault)");
    if (plan.nok || cfg_.writeProtected)
        return answer(NOK, plan.nok ? "NOK (fault)" : "NOK: flash write-protected");
    if (resend && !cfg_.ackResentBlock) return answer(NAK, "resent block refused");
    if (resend) {
        // The host missed our ACK: the block is already programmed.
        uint32_t at = (counters_.blocksAccepted - 1) * bs;
        if (flash_.Read(at, bs) != std::vector<uint8_t>(b + 3, b + 3 + bs))
            RecordError("block #" + std::to_string(num) + " resent with other data");
        return answer(ACK, "resent block, already programmed");
    }
    std::string err;
    uint32_t at = counters_.blocksAccepted * bs;
    if (!flash_.Program(at, b + 3, bs, &err)) RecordError(err);
    ++counters_.blocksAccepted;
    receivedBytes_ = counters_.blocksAccepted * bs;
    ++expectedNum_;
    return answer(ACK, "");
}

}  // namespace plcsim
