// Faults: their text syntax, what each does to the exchange, random faults with a seed, and
// recovery once they are cleared.
#include <gtest/gtest.h>

#include "applink/frames.h"
#include "sim/ascii.h"
#include "sim/realtime.h"
#include "tests/sim/core_harness.h"
#include "tests/sim/hand_host.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/scripted_peer.h"

namespace {

using plcsim::Fault;
using plcsim::FaultAction;
using plcsim::Kind;
using simtest::HandHost;
using simtest::Harness;

using plctest::Bytes;
using plctest::Reply19;

struct ParseCase {
    const char* faultText;
    bool ok;
    FaultAction action;
    Kind kind;
    uint32_t first, count, value;
};

TEST(SimFaultSyntax, ParsesEveryForm) {
    // faultText                  ok     action                     kind          first cnt value
    const ParseCase cases[] = {
        {"nak-block:10x5",          true,  FaultAction::Nak,          Kind::Block,  10, 5, 0},
        {"nok-block:10",            true,  FaultAction::Nok,          Kind::Block,  10, 1, 0},
        {"silent-erase:3",          true,  FaultAction::Silent,       Kind::Erase,  3,  1, 0},
        {"lowercase:probe",         true,  FaultAction::Lowercase,    Kind::Probe,  0,  1, 0},
        {"bad-lrc:id",              true,  FaultAction::BadLrc,       Kind::Id,     0,  1, 0},
        {"late:probe:3500",         true,  FaultAction::Delay,        Kind::Probe,  0,  1, 3500},
        {"delay:boot-id@2:100",     true,  FaultAction::Delay,        Kind::BootId, 2,  1, 100},
        {"vanish-block:100",        true,  FaultAction::Vanish,       Kind::Block,  100, 1, 0},
        {"drop:erase@2x3",          true,  FaultAction::Drop,         Kind::Erase,  2,  3, 0},
        {"flow:2",                  true,  FaultAction::Flow,         Kind::Probe,  0,  1, 2},
        {"flow:4:enter",            true,  FaultAction::Flow,         Kind::Enter,  0,  1, 4},
        {"unknown-class:3",         true,  FaultAction::UnknownClass, Kind::Probe,  0,  1, 3},
        {"runmode",                 true,  FaultAction::RunMode,      Kind::Probe,  0,  1, 0},
        {"silent",                  true,  FaultAction::SilentPhase,  Kind::Probe,  0,  1, 0},
        {"silent:transfer",         true,  FaultAction::SilentPhase,  Kind::Probe,  0,  1, 0},
        {"drop:0.01",               true,  FaultAction::Drop,         Kind::Probe,  0,  1, 0},
        {"corrupt:5%:block",        true,  FaultAction::Corrupt,      Kind::Block,  0,  1, 0},
        {"vanish:block@7:back",     true,  FaultAction::Vanish,       Kind::Block,  7,  1, 0},
        {"nak:0.01:block",          true,  FaultAction::Nak,          Kind::Block,  0,  1, 0},
        {"nak:2%",                  true,  FaultAction::Nak,          Kind::Probe,  0,  1, 0},
        {"twice:block@7:1500",      true,  FaultAction::Twice,        Kind::Block,  7,  1, 1500},
        {"twice:probe",             true,  FaultAction::Twice,        Kind::Probe,  0,  1, 0},
        {"twice:probe:soon",        false, FaultAction::Drop,         Kind::Probe,  0,  0, 0},
        {"nak:0.01:nothing",        false, FaultAction::Drop,         Kind::Probe,  0,  0, 0},
        {"",                        false, FaultAction::Drop,         Kind::Probe,  0,  0, 0},
        {"explode:probe",           false, FaultAction::Drop,         Kind::Probe,  0,  0, 0},
        {"drop",                    false, FaultAction::Drop,         Kind::Probe,  0,  0, 0},
        {"drop:prob",               false, FaultAction::Drop,         Kind::Probe,  0,  0, 0},
        {"nak-block:0",             false, FaultAction::Drop,         Kind::Probe,  0,  0, 0},
        {"nak-block:3x0",           false, FaultAction::Drop,         Kind::Probe,  0,  0, 0},
        {"nak-block:3x",            false, FaultAction::Drop,         Kind::Probe,  0,  0, 0},
        {"late:probe",              false, FaultAction::Drop,         Kind::Probe,  0,  0, 0},
        {"late:probe:soon",         false, FaultAction::Drop,         Kind::Probe,  0,  0, 0},
        {"flow",                    false, FaultAction::Drop,         Kind::Probe,  0,  0, 0},
        {"flow:256",                false, FaultAction::Drop,         Kind::Probe,  0,  0, 0},
        {"drop:1.5",                false, FaultAction::Drop,         Kind::Probe,  0,  0, 0},
        {"drop:0.0",                false, FaultAction::Drop,         Kind::Probe,  0,  0, 0},
        {"vanish:block@3:later",    false, FaultAction::Drop,         Kind::Probe,  0,  0, 0},
        {"silent:app:boot",         false, FaultAction::Drop,         Kind::Probe,  0,  0, 0},
        {"lowercase:probe:extra",   false, FaultAction::Drop,         Kind::Probe,  0,  0, 0},
        {"runmode:nothing",         false, FaultAction::Drop,         Kind::Probe,  0,  0, 0},
        {"stray:update:00:20",      true,  FaultAction::Stray,        Kind::Update, 0,  1, 20},
        {"stray:update@2:0xFF:0",   true,  FaultAction::Stray,        Kind::Update, 2,  1, 0},
        {"stray:update:100:20",     false, FaultAction::Drop,         Kind::Probe,  0,  0, 0},
        {"stray:update:00",         false, FaultAction::Drop,         Kind::Probe,  0,  0, 0},
        {"stray:update:g0:5",       false, FaultAction::Drop,         Kind::Probe,  0,  0, 0},
        {"drop:0.3x5:probe",        true,  FaultAction::Drop,         Kind::Probe,  0,  1, 0},
        {"drop:0.3x0",              false, FaultAction::Drop,         Kind::Probe,  0,  0, 0},
        {"drop:0.3x:probe",         false, FaultAction::Drop,         Kind::Probe,  0,  0, 0},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.faultText);
        Fault f;
        std::string error;
        ASSERT_EQ(plcsim::ParseFault(c.faultText, &f, &error), c.ok) << error;
        if (!c.ok) {
            EXPECT_NE(error.find(c.faultText), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(f.action, c.action);
        if (!f.anyKind) {
            EXPECT_EQ(f.kind, c.kind);
        }
        EXPECT_EQ(f.first, c.first);
        EXPECT_EQ(f.count, c.count);
        EXPECT_EQ(f.value, c.value);
    }
}

// Random runs: every run of lost replies is exactly as long as asked, and one reply gets through
// after it; the other kinds are not touched.
TEST(SimFaultSyntax, RandomRunsAreWhole) {
    plcsim::FaultSet faults;
    ASSERT_TRUE(faults.Add("drop:0.5x5:probe", nullptr));
    EXPECT_EQ(plcsim::DescribeFault(faults.List()[0]), "drop:0.500000x5:probe");
    std::string lost;
    for (int i = 0; i < 2000; ++i) {
        EXPECT_FALSE(faults.Plan(Kind::Wakeup, plcsim::Phase::App, 0).drop);
        lost += faults.Plan(Kind::Probe, plcsim::Phase::App, 0).drop ? 'x' : '.';
    }
    size_t runs = 0;
    for (size_t at = lost.find('x'); at != std::string::npos; at = lost.find('x', at + 5)) {
        ++runs;
        EXPECT_EQ(lost.substr(at, 6), at + 5 < lost.size() ? "xxxxx." : lost.substr(at)) << at;
    }
    EXPECT_GT(runs, 100u);
}

// A request sequence and the replies it must get, with one fault set.
struct Step {
    std::string request;
    std::string reply;  // "*" : any non-empty reply
};

struct BehaviourCase {
    const char* fault;
    const char* model;
    bool boot;      // starts in its bootloader (and in the transfer when blocks are sent)
    std::vector<Step> steps;
};

const std::vector<uint8_t> kImg = simtest::TestImage(8192);
std::string Blk(uint8_t num) {
    return HandHost::Block(num, kImg.data() + (num - 1) * 256, 256, 256);
}

TEST(SimFaults, EachFaultDoesWhatItSays) {
    const std::string A = Bytes({ACK}), N = Bytes({NAK}), K = Bytes({NOK});
    const BehaviourCase cases[] = {
        {"lowercase:probe", "RP200", false,
         {{FRAME_PROBE, Reply19(ENQ, 0, 0, true)}, {FRAME_ID, Reply19(ACK, 0x30, 0x10)}}},
        {"bad-lrc:id", "RP200", false,
         {{FRAME_PROBE, Reply19(ENQ)}, {FRAME_ID, Reply19(ACK, 0x30, 0x10, false, 1)}}},
        {"drop:probe@2", "RP200", false,
         {{FRAME_PROBE, Reply19(ENQ)}, {FRAME_PROBE, ""}, {FRAME_PROBE, Reply19(ENQ)}}},
        {"runmode", "RP200", false,
         {{FRAME_PROBE, Reply19(NAK, 1)}, {FRAME_READ_D1001, "*"}}},
        {"flow:2", "RP200", false,
         {{FRAME_PROBE, Reply19(NAK, 2, 2)}, {FRAME_ID, Reply19(NAK, 2, 2)}}},
        {"flow:4:enter", "RP200", false,
         {{FRAME_PROBE, Reply19(ENQ)}, {FRAME_ENTER_BOOT, Reply19(NAK, 2, 4)}}},
        {"unknown-class:3", "RP200", false, {{FRAME_PROBE, Reply19(NAK, 3)}}},
        {"silent", "RP200", false, {{FRAME_PROBE, ""}, {FRAME_WAKEUP, ""}}},
        {"silent:boot", "RP200", false, {{FRAME_PROBE, Reply19(ENQ)}}},
        {"silent:app", "RP200", true, {{FRAME_PROBE, Reply19(ACK)}, {"ID", "*"}}},
        {"silent-erase:2", "RP200", true, {{"ERASE", A}, {"ERASE", ""}, {"ERASE", A}}},
        {"nak:erase@1x2", "PN2", true, {{"ERASE", N}, {"ERASE", N}, {"ERASE", A}}},
        {"corrupt:boot-id", "RP200", true, {{"ID", Bytes({ACK | 0x80, 0x30, 0x10})}}},
        {"nak-block:2x2", "RP200", true,
         {{"UPDATE", A}, {Blk(1), A}, {Blk(2), N}, {Blk(2), N}, {Blk(2), A}, {Blk(3), A}}},
        {"nok-block:2", "RP200", true, {{"UPDATE", A}, {Blk(1), A}, {Blk(2), K}, {Blk(2), A}}},
        {"drop:block@1", "RP200", true, {{"UPDATE", A}, {Blk(1), ""}, {Blk(1), A}, {Blk(2), A}}},
        {"silent:transfer", "RP200", true, {{"ERASE", A}, {"UPDATE", A}, {Blk(1), ""}}},
        {"silent:eot", "RP200", true, {{"\x04", A}, {"UPDATE", A}, {"\x04", ""}}},
    };
    for (const BehaviourCase& c : cases) {
        SCOPED_TRACE(c.fault);
        plcsim::Config cfg;
        ASSERT_TRUE(plcsim::DefaultConfig(c.model, &cfg));
        if (c.boot) cfg.start = plcsim::StartMode::Boot;
        Harness h(cfg);
        if (c.boot) {
            h.Ask("ERASE");
            h.Ask("ERASE");
            h.Ask("\x04");
        }
        ASSERT_TRUE(h.plc->AddFault(c.fault));
        for (size_t i = 0; i < c.steps.size(); ++i) {
            SCOPED_TRACE("step " + std::to_string(i));
            if (c.steps[i].request == "UPDATE") h.line = simtest::AppLine();
            std::string reply = h.Ask(c.steps[i].request);
            if (c.steps[i].request == "UPDATE") h.line = simtest::FastLine();
            if (c.steps[i].reply == "*") EXPECT_FALSE(reply.empty());
            else EXPECT_EQ(plcsim::Escape(reply), plcsim::Escape(c.steps[i].reply));
        }
        EXPECT_TRUE(h.plc->Errors().empty()) << h.plc->Errors().front();
    }
}

TEST(SimFaults, NakedBlocksAreProgrammedOnceWhenResent) {
    plcsim::Config cfg;
    plcsim::DefaultConfig("RP200", &cfg);
    cfg.start = plcsim::StartMode::Boot;
    Harness h(cfg);
    h.plc->AddFault("nak-block:2x5");
    h.ToTransfer(2);
    h.Ask(Blk(1));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(h.Ask(Blk(2)), Bytes({NAK}));
    EXPECT_EQ(h.Ask(Blk(2)), Bytes({ACK}));
    plcsim::Counters k = h.plc->GetCounters();
    EXPECT_EQ(k.blocksAccepted, 2u);
    EXPECT_EQ(k.resendsSeen, 5u);
    EXPECT_EQ(k.naksSent, 5u);
    EXPECT_EQ(k.Seen(Kind::Block), 7u);
    EXPECT_TRUE(h.plc->Errors().empty());
}

TEST(SimFaults, LateReplyComesAfterTheHostsTimeOut) {
    Harness h("RP200");
    h.plc->AddFault("late:probe@1:3500");
    h.nowMs = 1000;
    std::vector<uint64_t> times;
    EXPECT_EQ(h.Ask(FRAME_PROBE, &times).size(), 19u);
    EXPECT_EQ(times.front(), 1000u + 1 + 3500);
    // One request at a time: a request sent while the late reply is due is answered after it.
    times.clear();
    h.Ask(FRAME_PROBE, &times);
    EXPECT_EQ(times.front(), 1000u + 1 + 3500 + 1);
    h.nowMs = 6000;
    times.clear();
    h.Ask(FRAME_PROBE, &times);
    EXPECT_EQ(times.front(), h.nowMs - 10 + 1);
}

TEST(SimFaults, PacedRepliesTakeTheirLineTime) {
    struct Case {
        plcsim::HostLine line;
        uint64_t lastByteMs;  // 19 characters of 10 bits
    };
    const Case cases[] = {
        {simtest::AppLine(), 1 + 20},                           // 9600: 19.8 ms
        {simtest::LineOf(9600, 8, NOPARITY), 1 + 20},
        {simtest::LineOf(115200, 8, NOPARITY), 1 + 2},          // 1.65 ms
    };
    for (const Case& c : cases) {
        plcsim::Config cfg;
        plcsim::DefaultConfig("PN2", &cfg);
        cfg.pace = true;
        Harness h(cfg);
        h.line = c.line;
        std::vector<uint64_t> times;
        h.Ask(FRAME_PROBE, &times);
        ASSERT_EQ(times.size(), 19u);
        EXPECT_EQ(times.back(), c.lastByteMs);
        EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
    }
}

class SimVanish : public plctest::EngineTest {};

TEST_F(SimVanish, LinkVanishesAndComesBackOnlyWhenAskedTo) {
    struct Case {
        const char* model;
        const char* fault;
        bool writesTaken;   // after the vanish
        bool opensAgain;
        bool answersAfterReopen;
    };
    const Case cases[] = {
        {"RP200", "vanish-block:3", false, false, false},
        {"RP200", "vanish-block:3:back", false, true, true},
        {"QM2-E", "vanish-block:3", true, true, false},
        {"QM2-E", "vanish-block:3:back", true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " " + c.fault);
        platform::UnregisterAllVirtualLinks();
        plcsim::Config cfg;
        plcsim::DefaultConfig(c.model, &cfg);
        cfg.start = plcsim::StartMode::Boot;
        auto plc = std::make_shared<plcsim::Plc>(cfg);
        ASSERT_TRUE(plc->AddFault(c.fault));
        plcsim::AttachVirtual(plc, "plc");
        HandHost host("plc");
        ASSERT_TRUE(host.Open());
        host.AppLine();
        host.Exchange("ERASE", 1);
        ASSERT_EQ(host.Exchange("UPDATE", 1), Bytes({ACK}));
        host.FastLine();
        uint32_t bs = plc->Model().blockBytes;
        auto img = simtest::TestImage(bs * 4);
        for (uint8_t n = 1; n <= 2; ++n)
            ASSERT_EQ(host.Exchange(HandHost::Block(n, img.data() + (n - 1) * bs, bs, bs), 1),
                      Bytes({ACK}));
        std::string third = HandHost::Block(3, img.data() + 2 * bs, bs, bs);
        EXPECT_EQ(host.Exchange(third, 1), "");
        EXPECT_FALSE(plc->LinkPresent());
        EXPECT_EQ(host.Write(third) == third.size(), c.writesTaken);
        EXPECT_EQ(host.Read(1), "");
        host.Close();
        ASSERT_EQ(host.Open(), c.opensAgain);
        if (c.opensAgain) {
            host.AppLine();
            std::string r = host.Exchange(FRAME_PROBE, 19);
            EXPECT_EQ(!r.empty(), c.answersAfterReopen);
            if (c.answersAfterReopen) {
                EXPECT_EQ(HandHost::Decode(r).at(4), ACK);
            }
            host.Close();
        }
        EXPECT_TRUE(plc->Errors().empty());
    }
}

TEST_F(SimVanish, ClearedFaultsLetTheNextRunComplete) {
    // Each fault leaves the PLC somewhere; with the faults cleared a plain run must finish.
    struct Case {
        const char* model;
        const char* fault;
        bool startsInApp;  // where the run after the fault finds the PLC
    };
    const Case cases[] = {
        {"RP200", "vanish-block:3", false},
        {"QM2-E", "vanish-block:3", false},
        {"RP200", "nok-block:2", false},
        {"PN2", "silent:transfer", false},
        {"RP200", "runmode", true},
        {"NV", "silent", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " " + c.fault);
        platform::UnregisterAllVirtualLinks();
        auto plc = plcsim::Plc::Create(c.model);
        ASSERT_TRUE(plc->AddFault(c.fault));
        plcsim::AttachVirtual(plc, "plc");
        auto img = simtest::TestImage(plc->Model().omitsLast4K ? 4096 * 3 : 4096);
        HandHost host("plc");
        EXPECT_NE(simtest::RunUpdate(host, plc->Model(), img, true), "");
        host.Close();
        plc->ClearFaults();
        EXPECT_EQ(simtest::RunUpdate(host, plc->Model(), img, c.startsInApp), "");
        EXPECT_TRUE(plc->CompareFlash(img.data(), img.size()).equal);
        EXPECT_TRUE(plc->Errors().empty()) << plc->Errors().front();
    }
}

TEST_F(SimVanish, RandomFaultsRepeatWithTheirSeedAndTheUpdateStillCompletes) {
    auto run = [](uint32_t seed, plcsim::Counters* k) {
        platform::UnregisterAllVirtualLinks();
        auto plc = plcsim::Plc::Create("RP200");
        plc->SetSeed(seed);
        EXPECT_TRUE(plc->AddFault("corrupt:0.05:block"));
        EXPECT_TRUE(plc->AddFault("drop:2%:block"));
        EXPECT_TRUE(plc->AddFault("nak:0.02:block"));
        plcsim::AttachVirtual(plc, "plc");
        auto img = simtest::TestImage(200 * 1024);
        HandHost host("plc");
        EXPECT_EQ(simtest::RunUpdate(host, plc->Model(), img, true, 10), "");
        EXPECT_TRUE(plc->CompareFlash(img.data(), img.size()).equal);
        EXPECT_TRUE(plc->Errors().empty());
        *k = plc->GetCounters();
    };
    plcsim::Counters a, b, c;
    run(42, &a);
    run(42, &b);
    run(43, &c);
    EXPECT_GT(a.resendsSeen, 0u);
    EXPECT_GT(a.naksSent, 0u);
    EXPECT_EQ(a.naksSent, b.naksSent);
    EXPECT_EQ(a.resendsSeen, b.resendsSeen);
    EXPECT_EQ(a.repliesDropped, b.repliesDropped);
    EXPECT_NE(a.resendsSeen, c.resendsSeen);
    EXPECT_EQ(a.blocksAccepted, (200u * 1024 - 4096) / 256);
}

}  // namespace

// What the wire allows besides a late reply: the same reply twice, only its start, in two parts
// with a gap, or after a stray byte.
TEST(SimFaults, ReplySentTwiceCutSplitOrAfterNoise) {
    Harness h("RP200");
    h.plc->AddFault("twice:probe@1");
    std::string reply = h.Ask(FRAME_PROBE);
    ASSERT_EQ(reply.size(), 38u);
    EXPECT_EQ(reply.substr(0, 19), reply.substr(19));
    h.plc->AddFault("cut:probe@1");
    EXPECT_EQ(h.Ask(FRAME_PROBE), reply.substr(0, 9));

    h.plc->AddFault("split:probe@1:700");
    std::vector<uint64_t> times;
    uint64_t asked = h.nowMs;
    EXPECT_EQ(h.Ask(FRAME_PROBE, &times), reply.substr(0, 19));
    ASSERT_EQ(times.size(), 19u);
    EXPECT_LT(times[8], asked + 100);
    EXPECT_GE(times[9], times[8] + 700);  // the rest after the gap
    h.nowMs += 1000;                      // the PLC was busy over the gap

    h.plc->AddFault("noise:probe@1");
    EXPECT_EQ(h.Ask(FRAME_PROBE), std::string(1, '\0') + reply.substr(0, 19));

    // The copy after a gap, and the next request answered only after the copy.
    h.plc->AddFault("twice:probe@1:500");
    times.clear();
    EXPECT_EQ(h.Ask(FRAME_PROBE, &times), reply);
    ASSERT_EQ(times.size(), 38u);
    EXPECT_EQ(times[19], times[18] + 500);
    std::vector<uint64_t> next;
    h.Ask(FRAME_PROBE, &next);
    EXPECT_GT(next.front(), times.back());

    // A stray byte is the line's, not the PLC's: it comes after the gap without keeping the
    // PLC from answering the next request at once.
    h.nowMs = next.back() + 1000;
    h.plc->AddFault("stray:probe@1:7E:300");
    times.clear();
    EXPECT_EQ(h.Ask(FRAME_PROBE, &times), reply.substr(0, 19) + "\x7E");
    ASSERT_EQ(times.size(), 20u);
    EXPECT_EQ(times[19], times[18] + 300);
    next.clear();
    h.Ask(FRAME_PROBE, &next);
    EXPECT_LT(next.front(), times[19]);
}

TEST(SimFaults, AFloodOfBadFramesKeepsTheFirstErrorsAndCountsTheRest) {
    Harness h("RP200");
    const size_t sent = plcsim::MAX_ERRORS_KEPT + 500;
    for (size_t i = 0; i < sent; ++i) h.Ask(":0064015901\r\n");  // wrong LRC
    std::vector<std::string> errors = h.plc->Errors();
    ASSERT_EQ(errors.size(), plcsim::MAX_ERRORS_KEPT);
    EXPECT_NE(errors.front().find("wrong LRC"), std::string::npos) << errors.front();
    EXPECT_EQ(h.plc->GetCounters().errorsDropped, 500u);
}

namespace {

// plcsim --adapter-latency: the adapter's chip hands the PLC's bytes on when its timer has run
// from the first of them, or at once when a USB packet's worth (62 bytes) is waiting.
TEST(SimAdapter, HoldsRepliesUntilItsTimerOrAFullPacket) {
    struct Case {
        const char* name;
        uint32_t adapterMs;
        int requests;          // "ID" requests in one write, 3 reply bytes each
        uint64_t firstOutUs;   // after the write: when the first bytes reach the host
        size_t firstBytes;     // how many then
    };
    const Case cases[] = {
        {"no adapter", 0, 1, 0, 3},
        {"16 ms adapter", 16, 1, 16000, 3},
        {"1 ms adapter", 1, 1, 1000, 3},
        {"a packet's worth goes at once", 16, 21, 0, 62},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        plcsim::Config cfg;
        plcsim::DefaultConfig("QM2-E", &cfg);
        cfg.start = plcsim::StartMode::Boot;
        cfg.replyLatencyMs = 0;
        plcsim::ServeOptions opt;
        opt.adapterLatencyMs = c.adapterMs;
        plcsim::RealTimePlc rt(std::make_shared<plcsim::Plc>(cfg), opt);
        const uint64_t t = 5000000;
        rt.HostOpened(t / 1000);
        std::string ids;
        for (int i = 0; i < c.requests; ++i) ids += "ID";
        rt.Take(reinterpret_cast<const uint8_t*>(ids.data()), ids.size(), t,
                simtest::LineOf(9600, 8, NOPARITY));
        ASSERT_EQ(rt.QueuedReplyBytes(), 3u * c.requests);
        EXPECT_EQ(rt.NextReplyUs(), t + c.firstOutUs);
        size_t out = 0;
        auto take = [&out](const uint8_t*, size_t n) {
            out += n;
            return static_cast<ssize_t>(n);
        };
        if (c.firstOutUs > 0) {
            rt.Flush(t + c.firstOutUs - 1, take);
            EXPECT_EQ(out, 0u) << "before the timer ran out";
        }
        rt.Flush(t + c.firstOutUs, take);
        EXPECT_EQ(out, c.firstBytes);
        rt.Flush(t + c.firstOutUs + c.adapterMs * 1000, take);
        EXPECT_EQ(out, 3u * c.requests) << "the rest after one more timer";
    }
}

}  // namespace
