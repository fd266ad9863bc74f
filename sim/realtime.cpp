#include "sim/realtime.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <vector>

#include "sim/adapter.h"

namespace plcsim {

uint64_t MonotonicNowMs() { return MonotonicNowUs() / 1000; }

uint64_t MonotonicNowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

RealTimePlc::RealTimePlc(std::shared_ptr<Plc> plc, ServeOptions options)
    : plc_(std::move(plc)), opt_(std::move(options)) {
    updatesAtStart_ = plc_->GetCounters().updatesCompleted;
}

void RealTimePlc::Replace(std::shared_ptr<Plc> plc, uint64_t nowMs) {
    DropReplies();
    plc_ = std::move(plc);
    wasPresent_ = plc_->LinkPresent();
    if (hostOpen_) plc_->Open(nowMs);
}

void RealTimePlc::Note(const std::string& s) const {
    if (opt_.note) opt_.note(s);
}

void RealTimePlc::HostOpened(uint64_t nowMs) {
    if (hostOpen_) return;
    hostOpen_ = true;
    plc_->Open(nowMs);
    Note("host opened the link");
}

void RealTimePlc::HostClosed(uint64_t nowMs) {
    if (!hostOpen_) return;
    hostOpen_ = false;
    DropReplies();
    // The line is idle for the next host: what the last one left unread is gone.
    rxLineFreeUs_ = 0;
    txLineFreeUs_ = 0;

    plc_->Close(nowMs);
    plc_->TakeDropPending();
    Note("host closed the link");
}

// Wire time of one byte at the host's speed: start bit, 8 bits (7 data and parity, or 8 data),
// stop bit.
uint64_t RealTimePlc::ByteTimeUs(const HostLine& line) const {
    uint32_t baud = line.line.baud;
    if (baud == 0) baud = 9600;
    return 10ull * 1000000ull / baud;
}

void RealTimePlc::Take(const uint8_t* buf, size_t len, uint64_t now, const HostLine& line) {
    // Paced, the bytes the host wrote at once reach the PLC at the line's speed: what they
    // ask for is handled when the last of them has arrived.
    uint64_t arrivalUs = now;
    if (opt_.pace) {
        rxLineFreeUs_ = std::max(rxLineFreeUs_, now) + static_cast<uint64_t>(len) * ByteTimeUs(line);
        arrivalUs = rxLineFreeUs_;
    }
    uint64_t arrivalMs = arrivalUs / 1000;
    std::vector<TimedByte> replies;
    plc_->Write(buf, len, arrivalMs, line, &replies);
    if (plc_->TakeDropPending()) DropReplies();
    uint64_t pacedBy = 0;  // how much later the pace put the reply byte before a glitch
    for (const TimedByte& t : replies) {
        // The PLC counts in milliseconds from the arrival; keep the arrival's microseconds.
        uint64_t at = arrivalUs + (t.atMs - arrivalMs) * 1000;
        if (opt_.pace && t.glitch) {
            at += pacedBy;  // its time counts from the reply's last byte as the line sent it
        } else if (opt_.pace) {
            txLineFreeUs_ = std::max(txLineFreeUs_, at) + ByteTimeUs(line);
            pacedBy = txLineFreeUs_ - at;
            at = txLineFreeUs_;
        }
        Queue({t.byte, at});
    }
}

// In time order: a glitch may fall between replies queued before it and after it.
void RealTimePlc::Queue(const PendingByte& b) {
    auto pos = pending_.end();
    while (pos != pending_.begin() && std::prev(pos)->atUs > b.atUs) --pos;
    // One that came before a packet the adapter has let go of went with that packet.
    if (static_cast<size_t>(pos - pending_.begin()) < adapterOut_) ++adapterOut_;
    pending_.insert(pos, b);
}

void RealTimePlc::DropReplies() {
    pending_.clear();
    adapterOut_ = 0;
}

uint64_t RealTimePlc::HeadReleaseUs() const {
    // Bytes the adapter let go of and the host has not taken yet are on their way already.
    if (opt_.adapterLatencyMs == 0 || adapterOut_ > 0) return pending_.front().atUs;
    return AdapterReleaseAt(pending_, [](const PendingByte& b) { return b.atUs; },
                            opt_.adapterLatencyMs * 1000ull);
}

uint64_t RealTimePlc::NextReplyUs() const {
    return pending_.empty() ? 0 : HeadReleaseUs();
}

void RealTimePlc::Flush(uint64_t now,
                        const std::function<ssize_t(const uint8_t*, size_t)>& write) {
    while (!pending_.empty() && HeadReleaseUs() <= now) {
        // Every byte that is due in one go; behind an adapter, the packet it hands on.
        size_t limit = 512;
        if (opt_.adapterLatencyMs != 0 && adapterOut_ == 0) {
            uint64_t release = HeadReleaseUs();
            while (adapterOut_ < ADAPTER_PACKET_BYTES && adapterOut_ < pending_.size() &&
                   pending_[adapterOut_].atUs <= release)
                ++adapterOut_;
        }
        if (opt_.adapterLatencyMs != 0) limit = adapterOut_;
        uint8_t buf[512];
        size_t n = 0;
        while (n < limit && n < pending_.size() && pending_[n].atUs <= now)
            buf[n] = pending_[n].byte, ++n;
        ssize_t w = write(buf, n);
        if (w <= 0) return;  // the host is not reading; try again later
        pending_.erase(pending_.begin(), pending_.begin() + w);
        if (opt_.adapterLatencyMs != 0) adapterOut_ -= static_cast<size_t>(w);
    }
}

bool RealTimePlc::UpdateOver(uint64_t now) {
    bool present = plc_->LinkPresent();
    if (present != wasPresent_) {
        wasPresent_ = present;
        leftAtMs_ = now;
        Note(present ? "PLC back on the link" : "PLC left the link");
    }
    if (!present && opt_.replugAfterMs > 0 && now - leftAtMs_ >= opt_.replugAfterMs) {
        // The host never closed the port: take the time as the replug or power cycle.
        plc_->Close(now);
        plc_->TakeDropPending();
        DropReplies();
        Note("replug assumed after " + std::to_string(opt_.replugAfterMs) + " ms");
    }
    if (turn_) return turn_(now, *this);
    if (opt_.serveForever || plc_->GetCounters().updatesCompleted <= updatesAtStart_) return false;
    if (doneAtMs_ == 0) doneAtMs_ = now;
    // Let the host read the last ACK and close the port before the link goes away.
    return (!hostOpen_ && pending_.empty()) || now - doneAtMs_ >= opt_.lingerMs;
}

}  // namespace plcsim
