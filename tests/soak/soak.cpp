// Fault soak: whole update runs of StartBurn against the simulated PLC on virtual links, across
// all 33 models, each with a fault drawn from a seed. For every run it checks that exactly one
// final message is shown and that it is the one the fault calls for, that the shared state is
// reset, the link closed and the image released, that success is only reported when the PLC's
// flash equals the image, that the run stays within its worst case in virtual time, and that a
// second, fault-free run against the same PLC, in whatever state the first left it, completes
// the update.
//   soak [--runs N] [--seed S] [--verbose]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "catalogue/catalogue.h"
#include "link/link.h"
#include "platform/hooks.h"
#include "platform/resource_image.h"
#include "platform/virtual.h"
#include "sim/sim.h"
#include "update/update.h"

namespace {

const char* const kFailed = "Firmware update is FAILED";
const char* const kNok =
    "Flash write error, maybe due to flash write protection. RE-POWER PLC and update FW again";
const char* const kAny = "*";  // any final message the run may give (chaotic faults)

std::string Success(uint32_t idx) {
    return ModelIn(idx, USB_ATTACHED_MODELS)
               ? "Firmware update is SUCCESSFUL!, please REPLUG the USB cable"
               : "Firmware update is SUCCESSFUL";
}

bool IsPrompt(const std::string& text) {
    return text.rfind("Please ", 0) == 0;
}

bool FourKibPages(uint32_t idx) {
    return ModelIn(idx, PAGE_4KIB_MODELS);
}

// One scenario: the faults or settings it gives the PLC and the final message it calls for.
struct Run {
    uint32_t idx;
    bool startBoot;
    uint32_t imageSize;
    uint32_t blocks;
    bool ackResent;  // the PLC acknowledges a resent block it has already programmed
};

// The erase of this image takes every page of the model's region: a lost acknowledgement
// leaves no room for the resend, which may erase a page more.
bool FullRegion(const Run& r) {
    return ErasePageCount(r.idx, r.imageSize) == ErasePageCount(r.idx, MaxImageBytes(r.idx));
}

// Several final messages a scenario allows, one string: "a|b".
std::string Either(const std::string& a, const std::string& b) {
    return a + "|" + b;
}

bool Allowed(const std::string& expected, const std::string& final) {
    size_t start = 0;
    for (;;) {
        size_t bar = expected.find('|', start);
        if (expected.compare(start, bar - start, final) == 0) return true;
        if (bar == std::string::npos) return false;
        start = bar + 1;
    }
}

// A reply that comes late: the kinds of request a run of this start mode sends, and the failure
// message of the phase each belongs to ("*": the checks of that phase end in several messages).
struct LateKind {
    const char* kind;
    bool appOnly;
    const char* failure;
};
const LateKind kLateKinds[] = {
    {"probe", false, "NO RESPONSE @ State 1"},
    {"id", true, "NO RESPONSE @ State 2"},
    {"d1386", true, "*"},
    {"d1001", true, "*"},
    {"d1148", true, "*"},
    {"version", true, "*"},
    {"id67", true, "*"},
    {"enter", true, "NO RESPONSE @ State 3|PLC DOES NOT enter the bootloader mode"},
    {"boot-id", false, "PLC type is WRONG"},
    {"boot-version", false, "PLC DOES NOT respond to the version read"},
    {"erase", false, "PLC DOES NOT respond to the erasing signal"},
    {"erase-eot", false, "PLC DOES NOT respond to the erasing signal"},
    {"update", false, "PLC DOES NOT respond to the update signal"},
    {"block", false, "Firmware update is FAILED"},
    {"eot", false, "Firmware update is FAILED"},
};

struct Scenario {
    const char* name;
    std::function<bool(const Run&)> applies;
    std::function<void(const Run&, plcsim::Plc&, std::mt19937&)> setup;
    // The final message, or several as "a|b", or "*" for any.
    std::function<std::string(const Run&)> expected;
};

bool Always(const Run&) {
    return true;
}
bool AppStart(const Run& r) {
    return !r.startBoot;
}

std::vector<Scenario> Scenarios() {
    // The final messages the "late reply" run allows, chosen with its fault.
    auto late = std::make_shared<std::string>();
    auto twice = std::make_shared<std::string>();
    auto fault = [](std::string faultText) {
        return [faultText](const Run&, plcsim::Plc& plc, std::mt19937&) {
            std::string error;
            if (!plc.AddFault(faultText, &error)) {
                std::fprintf(stderr, "soak: bad fault %s: %s\n", faultText.c_str(), error.c_str());
                std::exit(2);
            }
        };
    };
    auto success = [](const Run& r) { return Success(r.idx); };
    auto fixed = [](const char* text) { return [text](const Run&) { return std::string(text); }; };
    auto blockFault = [](const char* what, int times) {
        return [what, times](const Run& r, plcsim::Plc& plc, std::mt19937& rng) {
            uint32_t n = std::uniform_int_distribution<uint32_t>(1, r.blocks)(rng);
            std::string faultText = std::string(what) + ":block@" + std::to_string(n);
            if (times > 1) faultText += "x" + std::to_string(times);
            plc.AddFault(faultText);
        };
    };
    return {
        {"no fault", Always, [](const Run&, plcsim::Plc&, std::mt19937&) {}, success},
        {"probe reply lost once", Always, fault("drop:probe@1"), success},
        {"probe reply corrupted once", Always, fault("corrupt:probe@1"), success},
        {"probe reply in lower case once", Always, fault("lowercase:probe@1"), success},
        {"probe reply with a bad LRC twice", Always, fault("bad-lrc:probe@1x2"), success},
        {"identity reply lost five times", AppStart, fault("drop:id@1x5"), success},
        {"enter-bootloader answered on the fourth pass", AppStart, fault("silent:confirm@1x3"),
         [](const Run& r) {
             // The confirmation goes unheard three times (the no-reply models never send it).
             return Success(r.idx);
         }},
        {"identity never answered", AppStart, fault("silent:id@1x6"),
         fixed("NO RESPONSE @ State 2")},
        {"PLC in RUN mode", AppStart, fault("runmode"), fixed("PLC in RUN MODE")},
        {"flow error state 1", AppStart, fault("flow:1"), fixed("PLC type is WRONG")},
        {"flow error state 7", AppStart, fault("flow:7"), fixed("PLC type is WRONG")},
        {"unknown error class", AppStart, fault("unknown-class:3"),
         fixed("UNKNOWN ERROR CODE @ State 1")},
        {"silent PLC", Always, fault("silent"), fixed("NO RESPONSE @ State 1")},
        {"enter-bootloader never answered", AppStart, fault("silent:enter@1x6"),
         [](const Run& r) {
             // The no-reply models take silence as acceptance; the PLC stays in its
             // application firmware, and after five such passes the run gives up.
             return std::string(ModelIn(r.idx, NO_REPLY_MODELS)
                                    ? "PLC DOES NOT enter the bootloader mode"
                                    : "NO RESPONSE @ State 3");
         }},
        {"another model answers", AppStart,
         [](const Run&, plcsim::Plc& plc, std::mt19937&) {
             plcsim::Config cfg = plc.GetConfig();
             cfg.appId = 0x7777;
             plc.SetConfig(cfg);
         },
         fixed("NO RESPONSE @ State 2")},
        {"another model's bootloader", Always,
         [](const Run&, plcsim::Plc& plc, std::mt19937&) {
             plcsim::Config cfg = plc.GetConfig();
             cfg.bootId = 0x7777;
             plc.SetConfig(cfg);
         },
         fixed("PLC type is WRONG")},
        {"bootloader identity lost once", Always, fault("drop:boot-id@1"), success},
        {"bootloader version never answered", Always, fault("silent:boot-version@1x6"),
         [](const Run& r) {
             return ModelIn(r.idx, BOOTLOADER_VERSION_GROUP_MODELS)
                        ? std::string("PLC DOES NOT respond to the version read")
                        : Success(r.idx);
         }},
        {"first ERASE unanswered", Always, fault("silent:erase@1"),
         [](const Run& r) {
             // The request may have erased a page: its resend is allowed only within the region.
             return FourKibPages(r.idx) || FullRegion(r)
                        ? std::string("PLC DOES NOT respond to the erasing signal")
                        : Success(r.idx);
         }},
        {"ERASE NAKed five times", [](const Run& r) { return !FourKibPages(r.idx); },
         fault("nak:erase@1x5"), success},
        {"UPDATE never answered", Always, fault("silent:update@1x6"),
         fixed("PLC DOES NOT respond to the update signal")},
        {"block NAKed five times", Always, blockFault("nak", 5), success},
        {"block NAKed six times", Always, blockFault("nak", 6), fixed(kFailed)},
        {"block answered NOK", Always, blockFault("nok", 1), fixed(kNok)},
        {"write-protected flash", Always,
         [](const Run&, plcsim::Plc& plc, std::mt19937&) {
             plcsim::Config cfg = plc.GetConfig();
             cfg.writeProtected = true;
             plc.SetConfig(cfg);
         },
         fixed(kNok)},
        {"link vanishes mid-transfer", Always, blockFault("vanish", 1), fixed(kFailed)},
        {"final EOT acknowledged on the third try", Always, fault("silent:eot@1x2"), success},
        {"final EOT never acknowledged", Always, fault("silent:eot@1x6"), fixed(kFailed)},
        {"late probe reply", Always, fault("late:probe@1:3500"),
         [](const Run&) { return std::string(kAny); }},
        {"late reply", Always,
         [late](const Run& r, plcsim::Plc& plc, std::mt19937& rng) {
             std::vector<const LateKind*> kinds;
             for (const LateKind& k : kLateKinds)
                 if (!(k.appOnly && r.startBoot)) kinds.push_back(&k);
             const LateKind& k =
                 *kinds[std::uniform_int_distribution<size_t>(0, kinds.size() - 1)(rng)];
             uint32_t n = 1;
             if (std::string(k.kind) == "block")
                 n = std::uniform_int_distribution<uint32_t>(1, r.blocks)(rng);
             if (std::string(k.kind) == "erase")
                 n = std::uniform_int_distribution<uint32_t>(1, 8)(rng);
             uint32_t ms = std::uniform_int_distribution<uint32_t>(100, 15000)(rng);
             std::string text =
                 "late:" + std::string(k.kind) + "@" + std::to_string(n) + ":" + std::to_string(ms);
             plc.AddFault(text);
             *late = std::string(k.failure) == "*" ? std::string(kAny)
                                                   : Either(Success(r.idx), k.failure);
         },
         [late](const Run&) { return *late; }},
        {"late block, resent block acknowledged, last block refused", Always,
         [](const Run& r, plcsim::Plc& plc, std::mt19937& rng) {
             uint32_t n = std::uniform_int_distribution<uint32_t>(1, r.blocks)(rng);
             uint32_t ms = std::uniform_int_distribution<uint32_t>(3001, 12000)(rng);
             plc.AddFault("late:block@" + std::to_string(n) + ":" + std::to_string(ms));
             plc.AddFault("nak:block@" + std::to_string(r.blocks));
         },
         [](const Run& r) { return Either(Success(r.idx), kFailed); }},
        {"a reply sent twice, cut short, split, or after a stray byte", Always,
         [twice](const Run& r, plcsim::Plc& plc, std::mt19937& rng) {
             const LateKind& k = kLateKinds[std::uniform_int_distribution<size_t>(
                 0, std::size(kLateKinds) - 1)(rng)];
             uint32_t n = std::string(k.kind) == "block"
                              ? std::uniform_int_distribution<uint32_t>(1, r.blocks)(rng)
                              : 1;
             static const char* const kActions[] = {"twice", "cut", "split", "noise"};
             std::string text = kActions[std::uniform_int_distribution<size_t>(0, 3)(rng)];
             text += std::string(":") + k.kind + "@" + std::to_string(n);
             if (text.rfind("split", 0) == 0)
                 text += ":" + std::to_string(std::uniform_int_distribution<uint32_t>(5, 6000)(rng));
             plc.AddFault(text);
             *twice = std::string(k.failure) == "*" ? std::string(kAny)
                                                    : Either(Success(r.idx), k.failure);
         },
         [twice](const Run&) { return *twice; }},
        {"one exchange late three times", Always,
         [](const Run& r, plcsim::Plc& plc, std::mt19937& rng) {
             const LateKind& k = kLateKinds[std::uniform_int_distribution<size_t>(
                 0, std::size(kLateKinds) - 1)(rng)];
             uint32_t n = std::string(k.kind) == "block"
                              ? std::uniform_int_distribution<uint32_t>(1, r.blocks)(rng)
                              : 1;
             uint32_t ms = std::uniform_int_distribution<uint32_t>(3001, 15000)(rng);
             plc.AddFault("late:" + std::string(k.kind) + "@" + std::to_string(n) +
                          "x3:" + std::to_string(ms));
         },
         [](const Run&) { return std::string(kAny); }},
        {"random late replies", Always,
         [](const Run&, plcsim::Plc& plc, std::mt19937& rng) {
             plc.SetSeed(rng());
             plc.AddFault("drop:0.01");
             for (const char* kind : {"block", "erase", "boot-id", "probe"})
                 plc.AddFault(
                     std::string("late:") + kind + "@" +
                     std::to_string(std::uniform_int_distribution<uint32_t>(1, 6)(rng)) + ":" +
                     std::to_string(std::uniform_int_distribution<uint32_t>(2000, 8000)(rng)));
         },
         [](const Run&) { return std::string(kAny); }},
        {"a reply sent twice with a gap", Always,
         [](const Run& r, plcsim::Plc& plc, std::mt19937& rng) {
             const LateKind& k = kLateKinds[std::uniform_int_distribution<size_t>(
                 0, std::size(kLateKinds) - 1)(rng)];
             uint32_t n = std::string(k.kind) == "block"
                              ? std::uniform_int_distribution<uint32_t>(1, r.blocks)(rng)
                              : 1;
             // From within the next reply's wait to past the settle after its time-out.
             uint32_t ms = std::uniform_int_distribution<uint32_t>(5, 6000)(rng);
             plc.AddFault("twice:" + std::string(k.kind) + "@" + std::to_string(n) + ":" +
                          std::to_string(ms));
         },
         [](const Run&) { return std::string(kAny); }},
        {"a block acknowledged twice, the next refused", [](const Run& r) { return r.blocks > 1; },
         [](const Run& r, plcsim::Plc& plc, std::mt19937& rng) {
             uint32_t n = std::uniform_int_distribution<uint32_t>(1, r.blocks - 1)(rng);
             plc.AddFault("twice:block@" + std::to_string(n));
             plc.AddFault("nak:block@" + std::to_string(n + 1));
         },
         success},
        {"a block refused twice with a gap", Always,
         [](const Run& r, plcsim::Plc& plc, std::mt19937& rng) {
             std::string at = "block@" + std::to_string(
                                             std::uniform_int_distribution<uint32_t>(1, r.blocks)(rng));
             plc.AddFault("nak:" + at);
             plc.AddFault("twice:" + at + ":" +
                          std::to_string(std::uniform_int_distribution<uint32_t>(5, 6000)(rng)));
         },
         [](const Run& r) {
             // The copy may be taken for the refusal of the resend, which the PLC then has
             // programmed: a PLC that refuses resent blocks refuses every one after it.
             return r.ackResent ? Success(r.idx) : Either(Success(r.idx), kFailed);
         }},
        {"late block; the last ACK twice, its copy in the quiet check; EOT refused",
         [](const Run& r) { return r.blocks > 1; },
         [](const Run& r, plcsim::Plc& plc, std::mt19937& rng) {
             uint32_t n = std::uniform_int_distribution<uint32_t>(1, r.blocks - 1)(rng);
             uint32_t ms = std::uniform_int_distribution<uint32_t>(3001, 8000)(rng);
             uint32_t gap = std::uniform_int_distribution<uint32_t>(5, SETTLE_QUIET_MS - 5)(rng);
             plc.AddFault("late:block@" + std::to_string(n) + ":" + std::to_string(ms));
             plc.AddFault("twice:block@" + std::to_string(r.blocks) + ":" + std::to_string(gap));
             plc.AddFault("nak:eot@1");
         },
         // Taken for the EOT's acknowledgement, the copy would close a transfer the PLC refused.
         [](const Run& r) { return Either(Success(r.idx), kFailed); }},
        {"blocks refused at random", Always,
         [](const Run&, plcsim::Plc& plc, std::mt19937& rng) {
             plc.SetSeed(rng());
             static const char* const kChance[] = {"0.01", "0.02", "0.05"};
             plc.AddFault(std::string("nak:") +
                          kChance[std::uniform_int_distribution<size_t>(0, 2)(rng)] + ":block");
         },
         success},
        {"requests refused at random", Always,
         [](const Run&, plcsim::Plc& plc, std::mt19937& rng) {
             plc.SetSeed(rng());
             plc.AddFault("nak:0.02");
         },
         [](const Run&) { return std::string(kAny); }},
        {"blocks refused at random, replies late and lost", Always,
         [](const Run&, plcsim::Plc& plc, std::mt19937& rng) {
             plc.SetSeed(rng());
             plc.AddFault("nak:0.02:block");
             plc.AddFault("drop:0.01");
             for (const char* kind : {"block", "erase", "eot"})
                 plc.AddFault(
                     std::string("late:") + kind + "@" +
                     std::to_string(std::uniform_int_distribution<uint32_t>(1, 6)(rng)) + ":" +
                     std::to_string(std::uniform_int_distribution<uint32_t>(100, 8000)(rng)));
         },
         [](const Run&) { return std::string(kAny); }},
        {"random lost replies", Always,
         [](const Run&, plcsim::Plc& plc, std::mt19937& rng) {
             plc.SetSeed(rng());
             plc.AddFault("drop:0.02");
         },
         [](const Run&) { return std::string(kAny); }},
        {"random damaged replies", Always,
         [](const Run&, plcsim::Plc& plc, std::mt19937& rng) {
             plc.SetSeed(rng());
             plc.AddFault("corrupt:0.02");
         },
         [](const Run&) { return std::string(kAny); }},
    };
}

struct Tally {
    int runs = 0;
    int successes = 0;
};

struct Outcome {
    std::vector<std::string> finals;
    int prompts = 0;
    bool buttonEnabledLast = false;
    uint64_t virtualMs = 0;
    std::string lastFinal() const { return finals.empty() ? "(none)" : finals.back(); }
};

Outcome RunOnce(const std::vector<uint8_t>& image) {
    Outcome out;
    platform::FrontEndHooks hooks;
    hooks.messageBox = [&](HWND, const char* text, const char* caption, UINT) {
        (void)caption;
        if (IsPrompt(text))
            ++out.prompts;
        else
            out.finals.push_back(text);
        return IDOK;
    };
    hooks.enableWindow = [&](HWND, BOOL enable) {
        out.buttonEnabledLast = enable != FALSE;
        return TRUE;
    };
    platform::SetFrontEndHooks(hooks);
    platform::SetResourceImage(image.data(), image.size());
    paramStruct = ParamStruct{reinterpret_cast<HWND>(1), reinterpret_cast<HWND>(2)};
    uint64_t t0 = platform::VirtualNowMs();
    StartBurn(&paramStruct);
    out.virtualMs = platform::VirtualNowMs() - t0;
    platform::ClearFrontEndHooks();
    return out;
}

// The longest a run may take in virtual time: every exchange at its worst (eleven attempts of
// 3 s), up to eight passes of the probe loop with their pauses.
uint64_t WorstCaseMs(const Run& r) {
    const uint64_t exchange = 11 * 3000;
    const uint64_t pass = 2000 + 3 * 3000 + exchange * 7 + 5000;
    uint64_t pages = r.imageSize / 2048 + 8;
    return 8 * pass + exchange * (4 + pages + 1 + r.blocks + 1);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 1000;
    uint32_t seed = 1;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--seed") && i + 1 < argc)
            seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        else if (!std::strcmp(argv[i], "--verbose"))
            verbose = true;
        else {
            std::fprintf(stderr, "usage: soak [--runs N] [--seed S] [--verbose]\n");
            return 2;
        }
    }
    platform::SetVirtualSleep(true);
    std::mt19937 rng(seed);
    auto scenarios = Scenarios();
    std::map<std::string, int> tally;
    std::map<std::string, Tally> byScenario;
    int violations = 0, recovered = 0;
    auto violation = [&](int run, const std::string& what) {
        ++violations;
        if (violations <= 30) std::printf("VIOLATION run %d: %s\n", run, what.c_str());
    };

    for (int n = 0; n < runs; ++n) {
        Run r{};
        r.idx = static_cast<uint32_t>(n % PLC_COUNT);
        r.startBoot = std::uniform_int_distribution<int>(0, 3)(rng) == 0;
        uint32_t lo = MinImageBytes(r.idx);
        uint32_t hi = std::min<uint32_t>(MaxImageBytes(r.idx), lo + 24 * 1024);
        r.imageSize = std::uniform_int_distribution<uint32_t>(lo, hi)(rng);
        if (n % 97 == 0) r.imageSize = MaxImageBytes(r.idx);  // now and then the largest image
        r.blocks = TransferBlockCount(r.idx, r.imageSize);
        r.ackResent = std::uniform_int_distribution<int>(0, 1)(rng) == 0;
        std::vector<uint8_t> image(r.imageSize);
        for (auto& b : image) b = static_cast<uint8_t>(rng());

        std::vector<const Scenario*> fit;
        for (const auto& s : scenarios)
            if (s.applies(r)) fit.push_back(&s);
        const Scenario& sc = *fit[std::uniform_int_distribution<size_t>(0, fit.size() - 1)(rng)];

        SelectPLC(r.idx);
        SetSelectedComPort("soak");
        SetLinkOverride("soak");
        auto plc = plcsim::Plc::Create(plcList[r.idx]);
        plcsim::Config clean = plc->GetConfig();
        clean.ackResentBlock = r.ackResent;
        plc->SetConfig(clean);
        plc->RestartInto(r.startBoot ? plcsim::StartMode::Boot : plcsim::StartMode::App);
        plcsim::AttachVirtual(plc, "soak");
        sc.setup(r, *plc, rng);
        // A quarter of the runs also have the line glitch at the speed switch that real UARTs
        // make: a byte of any value within two block times of the ACK of "UPDATE". It must
        // change no outcome.
        if (std::uniform_int_distribution<int>(0, 3)(rng) == 0) {
            uint32_t blockTimeMs = (BlockDataBytes(r.idx) + 5) * 10 * 1000 / 115200;
            uint32_t ms = std::uniform_int_distribution<uint32_t>(0, 2 * blockTimeMs)(rng);
            char stray[40];
            std::snprintf(stray, sizeof stray, "stray:update:%02X:%u",
                          std::uniform_int_distribution<unsigned>(0, 255)(rng), ms);
            plc->AddFault(stray);
        }

        std::string label = std::string(plcList[r.idx]) + (r.startBoot ? " (boot) " : " (app) ") +
                            std::to_string(r.imageSize) + " bytes, " + sc.name +
                            (r.ackResent ? "" : " (resent blocks refused)");
        for (const plcsim::Fault& f : plc->Faults()) label += " [" + plcsim::DescribeFault(f) + "]";
        Outcome o = RunOnce(image);
        std::string expected = sc.expected(r);
        tally[o.lastFinal()]++;
        bool success = o.lastFinal() == Success(r.idx);
        Tally& t = byScenario[sc.name];
        ++t.runs;
        t.successes += success;
        if (verbose) std::printf("run %d: %s -> %s\n", n, label.c_str(), o.lastFinal().c_str());

        if (o.finals.size() != 1)
            violation(n, label + ": " + std::to_string(o.finals.size()) + " final messages");
        if (expected != kAny && !Allowed(expected, o.lastFinal()))
            violation(n, label + ": \"" + o.lastFinal() + "\", expected \"" + expected + "\"");
        plcsim::FlashCheck flash = plc->CompareFlash(image.data(), image.size());
        if (success && !(flash.equal && plc->TransferComplete()))
            violation(n, label + ": success reported but the flash differs: " + flash.detail);
        if (!o.buttonEnabledLast) violation(n, label + ": button left disabled");
        if (flashStatus != IDLE || progress != 0 || errCounter != 0 || totalErrCounter != 0 ||
            elapsedTime != 0)
            violation(n, label + ": shared state not reset");
        if (platform::OpenHandleCount() != 0) violation(n, label + ": link left open");
        if (platform::LoadedResourceCount() != 0) violation(n, label + ": image not released");
        if (o.virtualMs > WorstCaseMs(r))
            violation(n, label + ": took " + std::to_string(o.virtualMs) + " virtual ms");

        // The same PLC, faults gone, in whatever state the run left it.
        plc->ClearFaults();
        plc->SetConfig(clean);
        Outcome again = RunOnce(image);
        plcsim::FlashCheck flash2 = plc->CompareFlash(image.data(), image.size());
        if (again.finals.size() == 1 && again.lastFinal() == Success(r.idx) && flash2.equal)
            ++recovered;
        else
            violation(n, label + ": fault-free second run gave \"" + again.lastFinal() + "\" " +
                             flash2.detail);
        if (platform::OpenHandleCount() != 0 || platform::LoadedResourceCount() != 0)
            violation(n, label + ": second run left the link or image behind");
        platform::UnregisterVirtualLink("soak");
    }
    SetLinkOverride(nullptr);

    std::printf("soak: %d runs, seed %u, %d models\n", runs, seed, PLC_COUNT);
    std::printf("outcomes (first runs):\n");
    for (const auto& [msg, count] : tally) std::printf("  %5d  %s\n", count, msg.c_str());
    std::printf("by fault kind (runs, of them successful):\n");
    for (const auto& [name, t] : byScenario)
        std::printf("  %5d  %5d  %s\n", t.runs, t.successes, name.c_str());
    std::printf("second runs recovered: %d of %d\n", recovered, runs);
    std::printf("invariant violations: %d\n", violations);
    return violations == 0 ? 0 : 1;
}
