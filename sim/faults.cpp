#include "sim/faults.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace plcsim {

const char* const FAULT_SYNTAX =
    "Faults (--fault may be given several times):\n"
    "  ACTION:TARGET[:VALUE]   TARGET is KIND, KIND@N or KIND@NxK: every request of\n"
    "                          that kind, only the N-th (counted from 1 since the\n"
    "                          fault was set), or K of them from the N-th on. For\n"
    "                          KIND block, N is the block's position in the transfer\n"
    "                          (1 = first block) and K counts its arrivals.\n"
    "  drop:TARGET             the request is handled, its reply is lost\n"
    "  corrupt:TARGET          one byte of the reply is damaged (a hex digit of an\n"
    "                          ASCII reply, the first byte of a bootloader reply)\n"
    "  lowercase:TARGET        the ASCII reply is written in lower-case hex\n"
    "  bad-lrc:TARGET          the ASCII reply carries an LRC off by one\n"
    "  delay:TARGET:MS         (also late:TARGET:MS) the reply comes MS milliseconds\n"
    "                          late, any kind: probe, id, the register reads, enter,\n"
    "                          boot-id, erase, update, block, eot...; the PLC\n"
    "                          answers one request at a time, so requests that come\n"
    "                          meanwhile are answered after it\n"
    "  nak:TARGET              NAK instead of the reply (ASCII: status NAK, class\n"
    "                          0); a NAKed block is not programmed (nak:block@N\n"
    "                          refuses the N-th block, the last one included)\n"
    "  nok:TARGET              NOK instead of the reply; nok:block is a\n"
    "                          write-protected flash\n"
    "  silent:TARGET           the request is ignored: no effect, no reply\n"
    "  twice:TARGET[:MS]       the reply is sent twice, the copy right after it or\n"
    "                          MS ms after it (the PLC is busy until the copy is\n"
    "                          out)\n"
    "  cut:TARGET              only the first half of the reply is sent (nothing of\n"
    "                          a one-byte reply)\n"
    "  split:TARGET:MS         the reply's second half comes MS ms after its first\n"
    "                          (a one-byte reply comes whole, MS ms late)\n"
    "  noise:TARGET            a stray 0x00 byte, as a glitch on the line leaves,\n"
    "                          arrives just before the reply\n"
    "  stray:TARGET:BYTE:MS    the byte BYTE (hex, 00 to FF) arrives MS ms after the\n"
    "                          reply's last byte, as a UART leaves when it changes\n"
    "                          its speed (stray:update:00:20); it comes even when\n"
    "                          the reply is lost\n"
    "  vanish:TARGET[:back]    the link vanishes at that request: writes are no\n"
    "                          longer taken (USB) or answered (COM port); with back\n"
    "                          it returns once the link is closed and opened again\n"
    "                          (a bootloader that was in a transfer then takes\n"
    "                          commands again)\n"
    "  drop:P[:KIND]           random: each reply (of KIND) is lost with probability\n"
    "                          P\n"
    "  drop:PxK[:KIND]         random runs: with probability P a reply (of KIND) is\n"
    "                          the first of K lost in a row, and the one after the\n"
    "                          run gets through (drop:0.1x5:probe); also corrupt:PxK\n"
    "                          and nak:PxK\n"
    "  corrupt:P[:KIND]        random: each reply (of KIND) is damaged with\n"
    "                          probability P\n"
    "  nak:P[:KIND]            random: each request (of KIND) is refused with NAK\n"
    "                          with probability P, as if it arrived damaged: a\n"
    "                          refused block is not programmed, its resend is taken\n"
    "                          as usual; P is a fraction (0.01) or a percentage\n"
    "                          (1%); see --seed\n"
    "  runmode[:KIND]          the PLC is in RUN mode: NAK class 1 to probe, id and\n"
    "                          enter\n"
    "  flow:STATE[:KIND]       flow error: NAK class 2 with STATE to probe, id and\n"
    "                          enter\n"
    "  unknown-class:C[:KIND]  NAK with error class C to probe, id and enter\n"
    "  silent[:PHASE]          no reply at all, in every phase or in app, boot or\n"
    "                          transfer\n"
    "  nak-block:N[xK]         the same as nak:block@N[xK]\n"
    "  nok-block:N             the same as nok:block@N\n"
    "  silent-erase:M[xK]      the same as silent:erase@M[xK]\n"
    "  vanish-block:N[:back]   the same as vanish:block@N[:back]\n"
    "  Examples: nak-block:10x5  nok-block:10  silent-erase:3  lowercase:probe\n"
    "            bad-lrc:id  runmode  flow:2  unknown-class:3  nak:block@40\n"
    "            late:probe:3500  late:block@4:3400  late:boot-id@1:3500\n"
    "            drop:0.01:block\n";

namespace {

bool ParseUint(const std::string& s, uint32_t* v) {
    if (s.empty() || s.size() > 9) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    *v = static_cast<uint32_t>(std::strtoul(s.c_str(), nullptr, 10));
    return true;
}

// "00" to "FF", or with 0x before them.
bool ParseHexByte(const std::string& s, uint8_t* v) {
    std::string digits = s.compare(0, 2, "0x") == 0 || s.compare(0, 2, "0X") == 0 ? s.substr(2) : s;
    if (digits.empty() || digits.size() > 2) return false;
    for (char c : digits)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    *v = static_cast<uint8_t>(std::strtoul(digits.c_str(), nullptr, 16));
    return true;
}

// "0.01", "1.0" or "5%"; a plain integer is not a probability (it could be a count).
bool ParseProbability(const std::string& s, double* p) {
    bool percent = !s.empty() && s.back() == '%';
    std::string num = percent ? s.substr(0, s.size() - 1) : s;
    if (num.empty() || (!percent && num.find('.') == std::string::npos)) return false;
    char* end = nullptr;
    double v = std::strtod(num.c_str(), &end);
    if (end == nullptr || *end != '\0') return false;
    if (percent) v /= 100.0;
    if (!(v > 0.0 && v <= 1.0)) return false;
    *p = v;
    return true;
}

std::vector<std::string> Split(const std::string& s) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t colon = s.find(':', start);
        parts.push_back(s.substr(start, colon - start));
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return parts;
}

// KIND, KIND@N or KIND@NxK.
bool ParseTarget(const std::string& text, Fault* f, std::string* error) {
    size_t at = text.find('@');
    std::string kind = text.substr(0, at);
    if (!KindFromName(kind, &f->kind)) {
        *error = "unknown request kind '" + kind + "' (one of: " + KindNames() + ")";
        return false;
    }
    f->anyKind = false;
    if (at == std::string::npos) return true;
    std::string occ = text.substr(at + 1);
    size_t x = occ.find('x');
    if (!ParseUint(occ.substr(0, x), &f->first) || f->first == 0) {
        *error = "bad occurrence in '" + text + "' (KIND@N or KIND@NxK, N from 1)";
        return false;
    }
    if (x != std::string::npos && (!ParseUint(occ.substr(x + 1), &f->count) || f->count == 0)) {
        *error = "bad repeat count in '" + text + "'";
        return false;
    }
    return true;
}

// Rewrites the shorthands into the general form.
std::string Expand(const std::string& faultText) {
    struct Short {
        const char* prefix;
        const char* expanded;
    };
    // shorthand         general form
    const Short kShort[] = {
        {"nak-block:", "nak:block@"},
        {"nok-block:", "nok:block@"},
        {"silent-erase:", "silent:erase@"},
        {"vanish-block:", "vanish:block@"},
        {"late:", "delay:"},
    };
    for (const Short& s : kShort) {
        size_t n = std::strlen(s.prefix);
        if (faultText.compare(0, n, s.prefix) == 0) return s.expanded + faultText.substr(n);
    }
    return faultText;
}

using Fields = std::vector<std::string>;

// The parsers of one action each: false with the reason in *why when the fields make no fault.
bool Fail(std::string* why, const std::string& reason) {
    *why = reason;
    return false;
}

// silent[:app|boot|transfer]: no reply at all, in every phase or in one.
bool IsSilentPhase(const Fields& p) {
    return p[0] == "silent" &&
           (p.size() == 1 || p[1] == "app" || p[1] == "boot" || p[1] == "transfer");
}

bool ParseSilentPhase(const Fields& p, Fault* f, std::string* why) {
    if (p.size() > 2) return Fail(why, "silent takes at most one phase");
    f->action = FaultAction::SilentPhase;
    f->anyKind = true;
    if (p.size() == 2) {
        f->allPhases = false;
        f->phase = p[1] == "app" ? Phase::App : p[1] == "boot" ? Phase::Boot : Phase::Transfer;
    }
    return true;
}

bool IsRandom(const std::string& act) {
    return act == "drop" || act == "corrupt" || act == "nak";
}

// "P" or "PxK" (a run of K from 1): the chance of a random fault and its run.
bool ParseChance(const std::string& s, Fault* f) {
    size_t x = s.find('x');
    if (!ParseProbability(s.substr(0, x), &f->probability)) return false;
    if (x == std::string::npos) return true;
    return ParseUint(s.substr(x + 1), &f->run) && f->run >= 1;
}

// drop|corrupt|nak:P[xK][:KIND], its chance already in f.
bool ParseRandomFault(const Fields& p, Fault* f, std::string* why) {
    f->action = p[0] == "drop"    ? FaultAction::Drop
                : p[0] == "nak"   ? FaultAction::Nak
                                  : FaultAction::Corrupt;
    f->anyKind = true;
    if (p.size() > 3) return Fail(why, "too many fields");
    if (p.size() == 3) {
        if (!KindFromName(p[2], &f->kind)) return Fail(why, "unknown request kind '" + p[2] + "'");
        f->anyKind = false;
    }
    return true;
}

// The faults on the replies to one target, ACTION:KIND[@N[xK]][:option].
const FaultAction* TargetedAction(const std::string& act) {
    struct Simple {
        const char* name;
        FaultAction action;
    };
    // name         action
    static const Simple kSimple[] = {
        {"drop", FaultAction::Drop},
        {"corrupt", FaultAction::Corrupt},
        {"lowercase", FaultAction::Lowercase},
        {"bad-lrc", FaultAction::BadLrc},
        {"delay", FaultAction::Delay},
        {"nak", FaultAction::Nak},
        {"nok", FaultAction::Nok},
        {"silent", FaultAction::Silent},
        {"vanish", FaultAction::Vanish},
        {"twice", FaultAction::Twice},
        {"cut", FaultAction::Cut},
        {"split", FaultAction::Split},
        {"noise", FaultAction::Noise},
        {"stray", FaultAction::Stray},
    };
    for (const Simple& s : kSimple)
        if (act == s.name) return &s.action;
    return nullptr;
}

bool ParseTargetedFault(const Fields& p, FaultAction action, Fault* f, std::string* why) {
    f->action = action;
    if (p.size() < 2 || p[1].empty()) return Fail(why, "needs a target (KIND[@N[xK]])");
    if (!ParseTarget(p[1], f, why)) return false;
    if (f->action == FaultAction::Delay || f->action == FaultAction::Split) {
        if (p.size() != 3 || !ParseUint(p[2], &f->value))
            return Fail(why, f->action == FaultAction::Delay
                                 ? "needs a delay in ms (delay:TARGET:MS)"
                                 : "needs the gap in ms (split:TARGET:MS)");
    } else if (f->action == FaultAction::Twice && p.size() == 3) {
        if (!ParseUint(p[2], &f->value)) return Fail(why, "the gap is in ms (twice:TARGET:MS)");
    } else if (f->action == FaultAction::Stray) {
        if (p.size() != 4 || !ParseHexByte(p[2], &f->byte) || !ParseUint(p[3], &f->value))
            return Fail(why, "needs a byte in hex and a time in ms (stray:TARGET:BYTE:MS)");
    } else if (f->action == FaultAction::Vanish && p.size() == 3) {
        if (p[2] != "back") return Fail(why, "the only option of vanish is back");
        f->comesBack = true;
    } else if (p.size() > 2) {
        return Fail(why, "too many fields");
    }
    return true;
}

// The application firmware's refusals: runmode[:KIND], flow:STATE[:KIND], unknown-class:C[:KIND].
bool IsRefusal(const std::string& act) {
    return act == "runmode" || act == "flow" || act == "unknown-class";
}

bool ParseRefusal(const Fields& p, Fault* f, std::string* why) {
    const std::string& act = p[0];
    size_t kindField = 1;
    if (act == "runmode") {
        f->action = FaultAction::RunMode;
    } else {
        f->action = act == "flow" ? FaultAction::Flow : FaultAction::UnknownClass;
        if (p.size() < 2 || !ParseUint(p[1], &f->value) || f->value > 255)
            return Fail(why, act == "flow" ? "needs a state 0-255 (flow:STATE)"
                                           : "needs a class 0-255 (unknown-class:C)");
        kindField = 2;
    }
    f->anyKind = true;
    if (p.size() > kindField + 1) return Fail(why, "too many fields");
    if (p.size() == kindField + 1) {
        if (!KindFromName(p[kindField], &f->kind))
            return Fail(why, "unknown request kind '" + p[kindField] + "'");
        f->anyKind = false;
    }
    return true;
}

}  // namespace

bool ParseFault(const std::string& rawSpec, Fault* out, std::string* error) {
    const Fields p = Split(Expand(rawSpec));
    const std::string& act = p[0];
    const FaultAction* targeted = TargetedAction(act);
    Fault f;
    std::string why;
    bool ok = false;
    if (IsSilentPhase(p))
        ok = ParseSilentPhase(p, &f, &why);
    else if (IsRandom(act) && p.size() >= 2 && ParseChance(p[1], &f))
        ok = ParseRandomFault(p, &f, &why);
    else if (targeted != nullptr)
        ok = ParseTargetedFault(p, *targeted, &f, &why);
    else if (IsRefusal(act))
        ok = ParseRefusal(p, &f, &why);
    else
        why = "unknown action '" + act + "'";
    if (!ok) {
        if (error != nullptr) *error = "fault '" + rawSpec + "': " + why;
        return false;
    }
    *out = f;
    return true;
}

std::string DescribeFault(const Fault& f) {
    static const char* const kAction[] = {
        "drop",   "corrupt", "lowercase", "bad-lrc",       "delay",  "nak",   "nok", "silent",
        "vanish", "runmode", "flow",      "unknown-class", "silent", "twice", "cut",
        "split",  "noise",   "stray"};
    std::string s = kAction[static_cast<int>(f.action)];
    if (f.action == FaultAction::SilentPhase) {
        return f.allPhases ? s : s + ":" + PhaseName(f.phase);
    }
    if (f.action == FaultAction::Flow || f.action == FaultAction::UnknownClass)
        s += ":" + std::to_string(f.value);
    if (f.probability > 0) s += ":" + std::to_string(f.probability);
    if (f.run > 1) s += "x" + std::to_string(f.run);
    if (!f.anyKind) {
        s += std::string(":") + KindName(f.kind);
        if (f.first) s += "@" + std::to_string(f.first) + "x" + std::to_string(f.count);
    }
    if (f.action == FaultAction::Stray) {
        char byte[8];
        std::snprintf(byte, sizeof byte, ":%02X", f.byte);
        s += byte;
    }
    if (f.action == FaultAction::Delay || f.action == FaultAction::Split ||
        f.action == FaultAction::Stray || (f.action == FaultAction::Twice && f.value > 0))
        s += ":" + std::to_string(f.value);
    if (f.comesBack) s += ":back";
    return s;
}

bool FaultSet::Add(const std::string& faultText, std::string* error) {
    Fault f;
    if (!ParseFault(faultText, &f, error)) return false;
    faults_.push_back(f);
    return true;
}

namespace {

bool Hit(Fault& f, Kind kind, uint32_t blockPos) {
    if (f.anyKind || f.kind != kind) return false;
    if (kind == Kind::Block && f.first != 0) {
        if (blockPos != f.first) return false;
        return ++f.seen <= f.count;
    }
    ++f.seen;
    return f.first == 0 || (f.seen >= f.first && f.seen - f.first < f.count);
}

// A random fault: a draw for each occurrence of its target; a run, once begun, hits the
// occurrences that follow without a draw and lets the one after it pass.
bool RandomHit(Fault& f, Kind kind, std::mt19937& rng) {
    if (!f.anyKind && f.kind != kind) return false;
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    if (f.run <= 1) return chance(rng) < f.probability;
    if (f.runLeft > 0) {
        f.resting = --f.runLeft == 0;
        return true;
    }
    if (f.resting) {
        f.resting = false;
        return false;
    }
    if (chance(rng) >= f.probability) return false;
    f.runLeft = f.run - 1;
    return true;
}

}  // namespace

namespace {

// What one fault that hit does to the reply.
void ApplyAction(const Fault& f, ReplyPlan* plan) {
    switch (f.action) {
        case FaultAction::Drop:
            plan->drop = true;
            break;
        case FaultAction::Corrupt:
            plan->corrupt = true;
            break;
        case FaultAction::Lowercase:
            plan->lowercase = true;
            break;
        case FaultAction::BadLrc:
            plan->badLrc = true;
            break;
        case FaultAction::Delay:
            plan->delayMs += f.value;
            break;
        case FaultAction::Nak:
            plan->nak = true;
            break;
        case FaultAction::Nok:
            plan->nok = true;
            break;
        case FaultAction::Silent:
            plan->silent = true;
            break;
        case FaultAction::Twice:
            plan->twice = true;
            plan->twiceGapMs = std::max(plan->twiceGapMs, f.value);
            break;
        case FaultAction::Cut:
            plan->cut = true;
            break;
        case FaultAction::Split:
            plan->split = true;
            plan->splitGapMs = std::max(plan->splitGapMs, f.value);
            break;
        case FaultAction::Noise:
            plan->noise = true;
            break;
        case FaultAction::Stray:
            plan->stray = true;
            plan->strayByte = f.byte;
            plan->strayAfterMs = f.value;
            break;
        case FaultAction::Vanish:
            plan->vanish = true;
            plan->vanishComesBack = plan->vanishComesBack || f.comesBack;
            break;
        default:
            break;
    }
}

// Faults that stand for a whole phase or answer in place of the reply, not per request.
bool StandingFault(const Fault& f) {
    return f.action == FaultAction::SilentPhase || f.action == FaultAction::RunMode ||
           f.action == FaultAction::Flow || f.action == FaultAction::UnknownClass;
}

}  // namespace

ReplyPlan FaultSet::Plan(Kind kind, Phase phase, uint32_t blockPos) {
    ReplyPlan plan;
    for (Fault& f : faults_) {
        if (f.action == FaultAction::SilentPhase &&
            (f.allPhases || f.phase == phase ||
             (f.phase == Phase::Boot && phase == Phase::Transfer)))
            plan.silent = true;
        if (StandingFault(f)) continue;
        bool hit = f.probability > 0 ? RandomHit(f, kind, rng_) : Hit(f, kind, blockPos);
        if (hit) ApplyAction(f, &plan);
    }
    return plan;
}

Refusal FaultSet::RefusalFor(Kind kind) const {
    for (const Fault& f : faults_) {
        if (f.action != FaultAction::RunMode && f.action != FaultAction::Flow &&
            f.action != FaultAction::UnknownClass)
            continue;
        bool applies = f.anyKind ? (kind == Kind::Probe || kind == Kind::Id || kind == Kind::Enter)
                                 : kind == f.kind;
        if (!applies) continue;
        Refusal r;
        r.refused = true;
        r.errorClass = f.action == FaultAction::RunMode ? 1
                       : f.action == FaultAction::Flow  ? 2
                                                        : static_cast<uint8_t>(f.value);
        r.state = f.action == FaultAction::Flow ? static_cast<uint8_t>(f.value) : 0;
        return r;
    }
    return Refusal{};
}

}  // namespace plcsim
