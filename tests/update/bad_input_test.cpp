// Whole runs against PLCs that answer badly: a link that takes no byte, garbage, and replies cut
// in half or replaced by a wrong byte at each kind of exchange. Every run ends with a clear
// message, within its time-outs, with the link closed and the image released.
#include "sim/sim.h"
#include "tests/support/scripted_peer.h"
#include "tests/update/update_fixture.h"

namespace plctest {
namespace {

// The simulated PLC, except that every reply to one kind of request reaches the host damaged:
// an ASCII reply cut after half its characters, a one-byte or three-byte bootloader reply
// replaced by a byte that means nothing.
class DamagingPeer : public platform::VirtualPeer {
public:
    DamagingPeer(std::shared_ptr<plcsim::Plc> plc, plcsim::Kind damaged)
        : plc_(std::move(plc)), damaged_(damaged) {}

    bool OnOpen(platform::VirtualLink&) override {
        return plc_->Open(platform::VirtualNowMs());
    }
    void OnClose(platform::VirtualLink& link) override {
        link.DropPending();
        plc_->Close(platform::VirtualNowMs());
    }
    size_t OnWrite(platform::VirtualLink& link, const uint8_t* data, size_t len,
                   uint64_t nowMs) override {
        uint32_t before = plc_->GetCounters().Seen(damaged_);
        std::vector<plcsim::TimedByte> replies;
        plcsim::HostLine line{link.Line(), true};
        size_t took = plc_->Write(data, len, nowMs, line, &replies);
        if (plc_->TakeDropPending()) link.DropPending();
        bool damage = plc_->GetCounters().Seen(damaged_) != before && !replies.empty();
        if (damage) {
            if (replies.size() > 3)
                replies.resize(replies.size() / 2);
            else
                replies = {{0x3F, replies.front().atMs}};
        }
        for (const auto& r : replies) link.Deliver(&r.byte, 1, r.atMs);
        return took;
    }

private:
    std::shared_ptr<plcsim::Plc> plc_;
    plcsim::Kind damaged_;
};

class BadInput : public UpdateRun {
protected:
    void Fresh(const char* model, size_t imageBytes) {
        events.clear();
        states.clear();
        platform::UnregisterAllVirtualLinks();
        Select(model);
        UseImage(imageBytes);
        SetLinkOverride("plc");
    }
};

TEST_F(BadInput, LinkThatTakesNoByteOrAnswersGarbage) {
    struct Case {
        const char* model;
        std::function<void(ScriptedPeer&)> peer;
        const char* message;
    } cases[] = {
        {"QM2-E", [](ScriptedPeer& p) { p.AcceptNoBytes(); }, "NO RESPONSE @ State 1"},
        {"RP200", [](ScriptedPeer& p) { p.AcceptNoBytes(); }, "NO RESPONSE @ State 1"},
        {"QM2-E", [](ScriptedPeer& p) { p.Otherwise(std::string(40, '\xA5')); },
         "NO RESPONSE @ State 1"},
        {"RP200", [](ScriptedPeer& p) { p.Otherwise(":::::::::::::::::::\r\n"); },
         "NO RESPONSE @ State 1"},
        {"NV", [](ScriptedPeer& p) { p.Otherwise(Reply19(ENQ).substr(0, 10)); },
         "NO RESPONSE @ State 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        Fresh(c.model, 8192);
        auto peer = std::make_shared<ScriptedPeer>();
        c.peer(*peer);
        platform::RegisterVirtualLink("plc", peer);
        uint64_t t0 = platform::VirtualNowMs();
        Run();
        EXPECT_EQ(MessageTexts(), std::vector<std::string>{c.message});
        // The wake-up burst, then at most eleven attempts of 3 s each.
        EXPECT_LE(platform::VirtualNowMs() - t0, 2000u + 11 * 3000u);
        ExpectFullRunEnd();
    }
}

TEST_F(BadInput, DamagedRepliesAtEveryKindOfExchange) {
    using plcsim::Kind;
    struct Case {
        const char* model;
        bool startBoot;
        Kind damaged;
        const char* message;
    } cases[] = {
        {"QM2-E", false, Kind::Probe, "NO RESPONSE @ State 1"},
        {"QM2-E", true, Kind::Probe, "NO RESPONSE @ State 1"},
        {"QM2-E", false, Kind::Id, "NO RESPONSE @ State 2"},
        // D1386 unreadable counts as 0: the QM2-TR2 family, whose generation D1001 then tells.
        {"QM2-C-V4", false, Kind::D1386, "QM2-TR2 V4.xx CAN NOT downgrade to V2.xx / V3.xx "},
        {"HB-V4", false, Kind::D1001, "HB V3.xx CAN NOT upgrade to V4.xx "},
        {"DK28", false, Kind::D1148, "Check PLC, 28DK2 is different than 12DK2"},
        {"RP200-AIO", false, Kind::Version,
         "The bootloader version is unknown, do not support AIO FW update"},
        {"QM2-E", false, Kind::Enter, "NO RESPONSE @ State 3"},
        {"QM2-E", true, Kind::BootId, "PLC type is WRONG"},
        {"RP200", true, Kind::BootVersion, "PLC DOES NOT respond to the version read"},
        {"QM2-E", true, Kind::Erase, "PLC DOES NOT respond to the erasing signal"},
        {"QM2-E", true, Kind::EraseEot, "PLC DOES NOT respond to the erasing signal"},
        {"QM2-E", true, Kind::Update, "PLC DOES NOT respond to the update signal"},
        {"QM2-E", true, Kind::Block, "Firmware update is FAILED"},
        {"NV", true, Kind::Eot, "Firmware update is FAILED"},
        // The id read of QM3 that cannot be read passes, as a silent PLC does.
        {"QM3", false, Kind::Id67, "Firmware update is SUCCESSFUL!, please REPLUG the USB cable"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " " + plcsim::KindName(c.damaged));
        Fresh(c.model, 8192);
        auto plc = plcsim::Plc::Create(c.model);
        ASSERT_NE(plc, nullptr);
        plc->RestartInto(c.startBoot ? plcsim::StartMode::Boot : plcsim::StartMode::App);
        platform::RegisterVirtualLink("plc", std::make_shared<DamagingPeer>(plc, c.damaged));
        Run();
        std::vector<std::string> texts = MessageTexts();
        ASSERT_FALSE(texts.empty());
        EXPECT_EQ(texts.back(), c.message);
        // Success is only ever reported for a flash that holds the image (the reverse need not
        // hold: a lost acknowledgement of the final EOT is a failure the host cannot rule out).
        if (texts.back().find("SUCCESSFUL") != std::string::npos) {
            EXPECT_TRUE(plc->CompareFlash(image.data(), image.size()).equal);
        }
        ExpectFullRunEnd();
    }
}

}  // namespace
}  // namespace plctest
