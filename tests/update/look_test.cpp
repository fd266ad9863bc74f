// A station's look at the link: the wake-up burst and one probe, nothing that changes the PLC,
// within a bounded time whatever is (or is not) on the link.
#include "sim/sim.h"
#include "tests/update/update_fixture.h"

namespace plctest {
namespace {

class Look : public UpdateRun {};

TEST_F(Look, FindsAPlcWithoutChangingIt) {
    struct Case {
        const char* name;
        const char* model;
        const char* fault;  // nullptr: none
        bool boot;
        bool unplugged;
        LinkPresence want;
        uint64_t maxMs;  // virtual time the look may take
    } cases[] = {
        {"application firmware", "QM2-E", nullptr, false, false, PRESENCE_ANSWERED, 1500},
        {"bootloader", "QM2-E", nullptr, true, false, PRESENCE_ANSWERED, 2500},
        {"RUN mode", "QM2-E", "runmode", false, false, PRESENCE_ANSWERED, 1500},
        {"unplugged COM-port PLC", "QM2-E", nullptr, false, true, PRESENCE_SILENT, 2500},
        {"silent line", "RP200", "silent", false, false, PRESENCE_SILENT, 2500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::UnregisterAllVirtualLinks();
        Select(c.model);
        plcsim::Config cfg;
        ASSERT_TRUE(plcsim::DefaultConfig(c.model, &cfg));
        if (c.boot) cfg.start = plcsim::StartMode::Boot;
        auto plc = std::make_shared<plcsim::Plc>(cfg);
        if (c.fault != nullptr) {
            ASSERT_TRUE(plc->AddFault(c.fault));
        }
        if (c.unplugged) plc->Unplug();
        plcsim::AttachVirtual(plc, "plc");
        SetLinkOverride("plc");
        uint64_t start = platform::VirtualNowMs();
        EXPECT_EQ(LookForPlc(), c.want);
        EXPECT_LE(platform::VirtualNowMs() - start, c.maxMs);
        plcsim::Counters k = plc->GetCounters();
        uint32_t others = 0;
        for (size_t i = 0; i < plcsim::KIND_COUNT; ++i)
            if (i != static_cast<size_t>(plcsim::Kind::Wakeup) &&
                i != static_cast<size_t>(plcsim::Kind::Probe) &&
                i != static_cast<size_t>(plcsim::Kind::Junk))
                others += k.requests[i];
        EXPECT_EQ(others, 0u) << "a request beyond wake-up and probe";
        EXPECT_LE(k.Seen(plcsim::Kind::Probe), 1u);
        EXPECT_EQ(plc->CurrentPhase(), c.boot ? plcsim::Phase::Boot : plcsim::Phase::App);
        EXPECT_EQ(totalErrCounter, 0);
        EXPECT_EQ(k.opens, k.closes) << "the link is left open";
    }
    SetLinkOverride("nolink");
    EXPECT_EQ(LookForPlc(), PRESENCE_NO_LINK);
}

}  // namespace
}  // namespace plctest
