// The simulated PLC on a virtual link: the host's writes reach the core with the virtual time
// and the line settings the host applied; the replies are queued on the link with their times.
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
        plc_->TakeDropPending();
    }

    size_t OnWrite(platform::VirtualLink& link, const uint8_t* data, size_t len,
                   uint64_t nowMs) override {
        HostLine line{link.Line(), true};
        std::vector<TimedByte> replies;
        size_t took = plc_->Write(data, len, nowMs, line, &replies);
        if (plc_->TakeDropPending()) link.DropPending();
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
        return took;
    }

private:
    std::shared_ptr<Plc> plc_;
};

}  // namespace

platform::VirtualLink& AttachVirtual(const std::shared_ptr<Plc>& plc, const std::string& linkName) {
    return platform::RegisterVirtualLink(linkName, std::make_shared<VirtualPlcPeer>(plc));
}

}  // namespace plcsim
