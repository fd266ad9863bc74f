// The simulated PLC on a virtual link: the host's writes reach the core with the virtual time
// and the line settings the host applied; the replies are queued on the link with their times,
// through the adapter the PLC may sit behind.
#include <algorithm>

#include "sim/adapter.h"
#include "sim/sim.h"

namespace plcsim {

namespace {

class VirtualPlcPeer : public platform::VirtualPeer {
public:
    explicit VirtualPlcPeer(std::shared_ptr<Plc> plc) : plc_(std::move(plc)) {}

    bool OnOpen(platform::VirtualLink& link) override {
        (void)link;
        return plc_->Open(platform::VirtualNowMs());
    }

    void OnClose(platform::VirtualLink& link) override {
        plc_->Close(platform::VirtualNowMs());
        // A closed port loses what was still on its way in.
        link.DropPending();
        held_.clear();
        rxLineFreeUs_ = 0;
        plc_->TakeDropPending();
    }

    size_t OnWrite(platform::VirtualLink& link, const uint8_t* data, size_t len,
                   uint64_t nowMs) override {
        HostLine line{link.Line(), true};
        std::vector<TimedByte> replies;
        size_t took = plc_->Write(data, len, ArrivalMs(line, len, nowMs), line, &replies);
        if (plc_->TakeDropPending()) {
            link.DropPending();
            held_.clear();
        }
        if (plc_->AdapterLatencyMs() > 0) {
            for (const TimedByte& t : replies) Hold(t);
            return took;
        }
        Deliver(link, replies);
        return took;
    }

    // The adapter hands on what its timer or a full packet lets go of by the read's deadline.
    void OnRead(platform::VirtualLink& link, uint64_t nowMs, uint64_t deadlineMs) override {
        (void)nowMs;
        uint64_t latency = plc_->AdapterLatencyMs();
        while (!held_.empty()) {
            uint64_t at =
                AdapterReleaseAt(held_, [](const TimedByte& t) { return t.atMs; }, latency);
            if (at > deadlineMs) break;
            size_t n = 0;
            while (n < held_.size() && n < ADAPTER_PACKET_BYTES && held_[n].atMs <= at) ++n;
            std::vector<uint8_t> run;
            for (size_t i = 0; i < n; ++i) run.push_back(held_[i].byte);
            link.Deliver(run.data(), run.size(), at);
            held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(n));
        }
    }

private:
    // Paced, the host's bytes reach the PLC when the last of them has had its time on the wire.
    uint64_t ArrivalMs(const HostLine& line, size_t len, uint64_t nowMs) {
        if (!plc_->Paced()) return nowMs;
        const platform::LineSettings& s = line.line;
        uint64_t bits =
            1 + s.byteSize + (s.parity != NOPARITY ? 1 : 0) + (s.stopBits == ONESTOPBIT ? 1 : 2);
        uint64_t baud = s.baud ? s.baud : 9600;
        rxLineFreeUs_ = std::max(rxLineFreeUs_, nowMs * 1000) + len * bits * 1000000 / baud;
        return (rxLineFreeUs_ + 999) / 1000;
    }

    // In time order among the bytes the adapter holds.
    void Hold(const TimedByte& t) {
        auto pos = held_.end();
        while (pos != held_.begin() && std::prev(pos)->atMs > t.atMs) --pos;
        held_.insert(pos, t);
    }

    static void Deliver(platform::VirtualLink& link, const std::vector<TimedByte>& replies) {
        // Deliver runs of bytes that share their time together.
        size_t i = 0;
        while (i < replies.size()) {
            if (replies[i].glitch) {
                link.DeliverGlitch(replies[i].byte, replies[i].atMs);
                ++i;
                continue;
            }
            size_t j = i;
            std::vector<uint8_t> run;
            while (j < replies.size() && !replies[j].glitch && replies[j].atMs == replies[i].atMs)
                run.push_back(replies[j++].byte);
            link.Deliver(run.data(), run.size(), replies[i].atMs);
            i = j;
        }
    }

    std::shared_ptr<Plc> plc_;
    std::vector<TimedByte> held_;  // in the adapter's chip
    uint64_t rxLineFreeUs_ = 0;     // paced: when the host's last byte has fully arrived
};

}  // namespace

platform::VirtualLink& AttachVirtual(const std::shared_ptr<Plc>& plc, const std::string& linkName) {
    return platform::RegisterVirtualLink(linkName, std::make_shared<VirtualPlcPeer>(plc));
}

}  // namespace plcsim
