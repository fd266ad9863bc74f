// Faults the simulated PLC can play, scripted or random, and their text syntax (FAULT_SYNTAX).
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "sim/requests.h"

namespace plcsim {

enum class FaultAction : uint8_t {
    Drop,          // the request is handled, its reply is lost
    Corrupt,       // one byte of the reply is damaged
    Lowercase,     // ASCII reply in lower-case hex
    BadLrc,        // ASCII reply with its LRC off by one
    Delay,         // reply value ms later
    Nak,           // NAK instead of the reply; a block is not programmed
    Nok,           // NOK instead of the reply; a block is not programmed
    Silent,        // the request is not taken: no effect, no reply
    Vanish,        // the link vanishes at this request
    RunMode,       // ASCII requests refused with NAK class 1
    Flow,          // ASCII requests refused with NAK class 2, state value
    UnknownClass,  // ASCII requests refused with NAK class value
    SilentPhase,   // the whole PLC is silent in a phase
    Twice,         // the reply is sent twice, the copy value ms after it
    Cut,           // only the first half of the reply is sent
    Split,         // the reply's second half comes value ms after its first
    Noise,         // a stray byte on the line just before the reply
    Stray,         // a stray byte value ms after the reply, as a UART leaves when it switches
};

struct Fault {
    FaultAction action = FaultAction::Drop;
    bool anyKind = false;  // no target: every kind (random faults, the refusals' default set)
    Kind kind = Kind::Probe;
    uint32_t first = 0;      // 0: every occurrence; else the first one hit, counted from 1
    uint32_t count = 1;      // occurrences hit from `first` on
    uint32_t value = 0;      // Delay, Split, Twice, Stray: ms; Flow: state; UnknownClass: class
    uint8_t byte = 0;        // Stray: the byte
    double probability = 0;  // > 0: a random fault
    uint32_t run = 1;        // random: a hit begins a run of this many in a row; one then passes
    bool comesBack = false;  // Vanish: the link returns after it is closed and opened again
    bool allPhases = true;   // SilentPhase
    Phase phase = Phase::App;
    uint32_t seen = 0;  // occurrences of the target counted so far
    uint32_t runLeft = 0;    // random runs: hits still due in the current run
    bool resting = false;    // random runs: the next occurrence passes
};

// Parses one fault as FAULT_SYNTAX describes it. False, with a one-line reason, on bad text.
bool ParseFault(const std::string& faultText, Fault* fault, std::string* error);
std::string DescribeFault(const Fault& f);

extern const char* const FAULT_SYNTAX;

// What the faults make of one request.
struct ReplyPlan {
    bool silent = false;
    bool vanish = false;
    bool vanishComesBack = false;
    bool drop = false;
    bool corrupt = false;
    bool lowercase = false;
    bool badLrc = false;
    bool nak = false;
    bool nok = false;
    uint32_t delayMs = 0;
    bool twice = false;
    uint32_t twiceGapMs = 0;
    bool cut = false;
    bool split = false;
    uint32_t splitGapMs = 0;
    bool noise = false;
    bool stray = false;  // strayByte comes strayAfterMs after the reply's last byte
    uint8_t strayByte = 0;
    uint32_t strayAfterMs = 0;
    bool Any() const {
        return silent || vanish || drop || corrupt || lowercase || badLrc || nak || nok ||
               delayMs || twice || cut || split || noise || stray;
    }
};

// A refusal of an ASCII request: NAK, class, state.
struct Refusal {
    bool refused = false;
    uint8_t errorClass = 0;
    uint8_t state = 0;
};

class FaultSet {
  public:
    bool Add(const std::string& faultText, std::string* error);
    void Add(const Fault& f) { faults_.push_back(f); }
    void Clear() { faults_.clear(); }
    void Seed(uint32_t seed) { rng_.seed(seed); }
    bool Empty() const { return faults_.empty(); }
    const std::vector<Fault>& List() const { return faults_; }

    // Counts the request against every scripted target and decides what happens to it.
    // blockPos: for a block, its position in the transfer counted from 1.
    ReplyPlan Plan(Kind kind, Phase phase, uint32_t blockPos);
    // A standing refusal for this ASCII request (RUN mode, flow error, unknown class).
    Refusal RefusalFor(Kind kind) const;

  private:
    std::vector<Fault> faults_;
    std::mt19937 rng_{1};
};

}  // namespace plcsim
