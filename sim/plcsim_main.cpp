// plcsim: one simulated PLC on a pseudo-terminal or a TCP port, for demos, training and
// end-to-end tests.
#include <signal.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "sim/bench.h"
#include "sim/pty_server.h"
#include "sim/sim.h"
#include "sim/tcp_server.h"
#include "sim/usb_sysfs.h"

#ifndef PLC_VERSION_TEXT
#error "PLC_VERSION_TEXT comes from the build"
#endif
#ifndef PLC_USB_VENDOR_ID_TEXT
#error "PLC_USB_VENDOR_ID_TEXT (four lower-case hex digits) comes from the build"
#endif

namespace {

std::atomic<bool> gStop{false};

// Once stopped, SIGALRM every KICK_INTERVAL_NS interrupts any read, write or wait that began
// just before the flag was set and would otherwise block until the host does something.
constexpr long KICK_INTERVAL_NS = 20 * 1000000L;
timer_t gKick;
std::atomic<bool> gKickReady{false};

void OnSignal(int) {
    gStop = true;
    if (gKickReady) {
        itimerspec every{{0, KICK_INTERVAL_NS}, {0, KICK_INTERVAL_NS}};
        timer_settime(gKick, 0, &every, nullptr);
    }
}

void OnKick(int) {}

const char* const kUsage =
    "Usage: plcsim --model NAME (--link PATH | --tcp PORT | --rfc2217 PORT) [...]\n"
    "       plcsim --model NAME --link PATH --usb-root DIR --usb-location LOC [...]\n"
    "\n"
    "Plays one PLC of the catalogue model NAME (application firmware and bootloader)\n"
    "on a pseudo-terminal and links PATH to it; a host opens PATH as its serial\n"
    "port. Or serves it on a TCP port of 127.0.0.1, one host at a time. Serves until\n"
    "the update ends (the EOT of the transfer is acknowledged and the host closes\n"
    "the port), then writes --flash-out and exits: 0 when the host made no protocol\n"
    "error, 1 when it made some (the first 1000 are listed on stderr, then the count\n"
    "of the others). It keeps serving after an update that failed before its EOT was\n"
    "acknowledged (the host may run it again) and while no host has run one (a host\n"
    "that refused the port before opening it, or that was not told --yes); SIGTERM\n"
    "or SIGINT end it the same way. Bad options: 2; no pseudo-terminal, no link at\n"
    "PATH or no port: 1.\n"
    "\n"
    "Options:\n"
    "  --model NAME          catalogue model, e.g. RP200, QM2-E, 30TR2-AIO\n"
    "                        (required)\n"
    "  --link PATH           symbolic link to create (a stale link is replaced)\n"
    "  --usb-root DIR        USB-attached models, with --link: also show the PLC as\n"
    "                        a USB device in the sysfs tree DIR\n"
    "                        (DIR/bus/usb/devices/LOC, with idVendor, idProduct and\n"
    "                        a ttyACM node naming the pseudo-terminal) while it is\n"
    "                        plugged in: gone while it re-enumerates into its\n"
    "                        bootloader and while no bench unit is there; a host\n"
    "                        that sets PLCFW_SYSFS_ROOT=DIR finds it there\n"
    "  --usb-location LOC    the USB port it hangs on, a kernel port path such as\n"
    "                        1-2 or 3-1.4.2 (with --usb-root; one plcsim a location)\n"
    "  --tcp PORT            serve on 127.0.0.1:PORT (0: a free port; stderr names\n"
    "                        it): the line's bytes as they are, for hosts that open\n"
    "                        tcp://HOST:PORT; no line settings travel, the PLC takes\n"
    "                        the line it expects\n"
    "  --rfc2217 PORT        serve on 127.0.0.1:PORT with Telnet's COM-PORT-OPTION,\n"
    "                        for hosts that open rfc2217://HOST:PORT: their line\n"
    "                        settings arrive and are checked as on a serial port\n"
    "                        (9600 7E1, 115200 8N1 after \"UPDATE\")\n"
    "  --start app|boot      start in the application firmware (default) or the\n"
    "                        bootloader\n"
    "  --fault FAULT         a fault to play; may be repeated (syntax below)\n"
    "  --seed N              seed of the random faults (default 1)\n"
    "  --pace                model the line's speed both ways: a request is handled\n"
    "                        when its last byte would have arrived, each reply byte\n"
    "                        is sent when the line allows it (10 bits a byte at 8N1\n"
    "                        and 7E1)\n"
    "  --latency MS          time from a request to its reply (default 1)\n"
    "  --adapter-latency MS  play a USB-serial adapter between the PLC and the host:\n"
    "                        the PLC's bytes are held until MS ms have passed since\n"
    "                        the first of them, or until 62 are waiting, as its\n"
    "                        latency timer does (1 to 255; default 0: none)\n"
    "  --flash-out FILE      write the bytes programmed by the last transfer\n"
    "                        (block-aligned, filler included) to FILE at the end\n"
    "  --log FILE            one line per exchange: time, phase, request, reply,\n"
    "                        what the PLC made of it; also opens, closes and\n"
    "                        restarts\n"
    "  --app-id ID           id reported by the identity request (default: catalogue\n"
    "                        id)\n"
    "  --id67 ID             id reported by the 0x67 id read (default: catalogue id)\n"
    "  --boot-id ID          id reported by the bootloader's \"ID\" (default:\n"
    "                        catalogue id)\n"
    "  --boot-id-bit15       COM-port models: report the bootloader id with its bit\n"
    "                        15 (their bootloaders leave it out: 0x2001 for\n"
    "                        WJB-QM2's 0xA001)\n"
    "  --d1386 V, --d1001 V, --d1148 V\n"
    "                        register values (defaults pass the model's\n"
    "                        compatibility rule)\n"
    "  --register N=V        value of data register DN (may be repeated)\n"
    "  --app-version V       the application firmware's answer to the version\n"
    "                        request\n"
    "  --boot-version V      the bootloader's version byte (default 0x14)\n"
    "  --write-protect       the flash is write-protected: every block is answered\n"
    "                        NOK\n"
    "  --resent-block ack|nak\n"
    "                        a correct block resent under the number of the block\n"
    "                        just programmed (the host missed its ACK): acknowledged\n"
    "                        without being programmed again (ack, the default) or\n"
    "                        refused with NAK\n"
    "  --no-wakeup-reply     the application firmware does not answer wake-up frames\n"
    "  --power-cycle-reply   QM2-C-V2, QM2-C-V4, TR2-CAR acknowledge the\n"
    "                        enter-bootloader request\n"
    "  --replug-after MS     take MS ms after the PLC left the link as its replug or\n"
    "                        power cycle, for hosts that do not close the port\n"
    "                        (default: wait for the close)\n"
    "  --linger MS           after the update, wait at most MS ms for the host to\n"
    "                        close (default 3000)\n"
    "  --serve-forever       keep serving after an update, until killed\n"
    "  --units N             play a bench: N units, one at a time, arrive and leave\n"
    "                        on the link (a fresh PLC each, flash erased); silent\n"
    "                        while none is there\n"
    "  --arrive-every MS     a unit arrives MS ms after the start and after the one\n"
    "                        before it left (default 1000)\n"
    "  --leave-after MS      a unit leaves MS ms after the host sent it more than\n"
    "                        wake-up frames and mode probes and then closed the link\n"
    "                        (after its update run, successful or not; default\n"
    "                        3000); one never worked on stays\n"
    "  --unit-fault N:FAULT  unit N plays FAULT (syntax below); may be repeated\n"
    "  --unit-stay N:MS      unit N leaves MS ms after that instead: a unit left\n"
    "                        plugged in\n"
    "  --flash-dir DIR       write the flash each unit received to DIR/unit-N.bin as\n"
    "                        it leaves (with --units; each unit's line on stderr\n"
    "                        tells how many transfers it took)\n"
    "  --list-models         one line per catalogue model: name, id, link, page and\n"
    "                        block bytes, image bytes kept back, largest image, how\n"
    "                        it comes back\n"
    "  --version             show the version and exit\n"
    "  --help                this text\n"
    "\n"
    "Numbers are decimal or 0x-prefixed hex (ids: 0x3010). A USB-attached model\n"
    "leaves the link after the enter-bootloader confirmation and is back in its\n"
    "bootloader once the host has closed and reopened the port; QM2-C-V2, QM2-C-V4\n"
    "and TR2-CAR likewise after the request.\n"
    "\n";

bool Number(const char* text, uint32_t max, uint32_t* out) {
    if (text == nullptr || *text == '\0' || *text == '-') return false;
    errno = 0;
    char* end = nullptr;
    unsigned long v = std::strtoul(text, &end, 0);
    if (errno != 0 || end == nullptr || *end != '\0' || v > max) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

void ListModels() {
    static const char* const kReconnect[] = {"replug", "power-cycle", "at-once"};
    std::printf("# name          id      link  page    block  kept-back  max-image  reconnect\n");
    for (const PlcModel& m : PLC_MODELS)
        std::printf("%-15s 0x%04X  %-4s  %-6u  %-5u  %-9u  %-9u  %s\n", m.name, m.id,
                    m.link == LINK_USB ? "USB" : "COM", m.pageBytes, m.blockBytes, m.keptBackBytes,
                    SIZE_LIMITS[m.sizeClass].maxBytes, kReconnect[m.reconnect]);
}

int Usage(const std::string& why) {
    std::fprintf(stderr, "plcsim: %s (see plcsim --help)\n", why.c_str());
    return 2;
}

// Where the PLC is served: a pseudo-terminal behind a link, or a TCP port.
struct Where {
    std::string link;
    std::string usbRoot, usbLocation;
    bool tcp = false, rfc2217 = false;
    uint32_t port = 0;
};

const char* StartName(const plcsim::Config& cfg) {
    return cfg.start == plcsim::StartMode::Boot ? "(bootloader)" : "(application)";
}

bool StartFailed(const std::string& error) {
    std::fprintf(stderr, "plcsim: %s\n", error.c_str());
    return false;
}

// The USB device follows the PLC: there while it is on the link. A plug that fails is said
// once and tried again on the next turns.
void FollowOnUsb(plcsim::PtyServer& server, plcsim::UsbSysfsEntry& usb,
                 const plcsim::PtyOptions& pty) {
    server.SetPresenceHook([&usb, &pty, failing = false](bool present) mutable {
        bool was = usb.Plugged();
        std::string why;
        if (!usb.Follow(present, &why)) {
            if (!failing) std::fprintf(stderr, "plcsim: %s\n", why.c_str());
            failing = true;
            return;
        }
        failing = false;
        if (pty.note && was != usb.Plugged())
            pty.note("USB device " + std::string(was ? "vanished from " : "appeared at ") +
                     usb.EntryPath());
    });
}

// A bench's USB-attached unit: the link path is there only while the unit is.
void FollowBenchOnLink(plcsim::PtyServer& server, const plcsim::Bench* bench,
                       const plcsim::TurnHook& turn) {
    server.SetTurnHook([&server, bench, &turn](uint64_t nowMs, plcsim::RealTimePlc& rt) {
        bool over = turn(nowMs, rt);
        bool present = bench->Present() != 0;
        std::string why;
        if (present && !server.Linked() && !server.Link(&why))
            std::fprintf(stderr, "plcsim: %s\n", why.c_str());
        if (!present && server.Linked()) server.RemoveLink();
        return over;
    });
}

bool ServePty(const std::shared_ptr<plcsim::Plc>& plc, const plcsim::Config& cfg,
              const plcsim::PtyOptions& pty, const Where& where, const plcsim::Bench* bench,
              const plcsim::TurnHook& turn, plcsim::ServeEnd* end) {
    std::string error;
    // Taken before the link is made: a second simulator at the same location takes nothing over.
    std::optional<plcsim::UsbSysfsEntry> usb;
    if (!where.usbRoot.empty()) {
        usb.emplace(plcsim::UsbDevice{where.usbRoot, where.usbLocation, PLC_USB_VENDOR_ID_TEXT});
        if (!usb->Claim(&error)) return StartFailed(error);
    }
    plcsim::PtyOptions options = pty;
    options.linkPath = where.link;
    plcsim::PtyServer server(plc, options);
    if (turn) server.SetTurnHook(turn);
    if (bench != nullptr && plc->Model().usb) FollowBenchOnLink(server, bench, turn);
    if (!server.Start(&error)) return StartFailed(error);
    if (usb &&
        (!usb->SetTty(server.SlavePath(), &error) || !usb->Follow(plc->LinkPresent(), &error)))
        return StartFailed(error);
    if (usb) FollowOnUsb(server, *usb, pty);
    std::fprintf(stderr, "plcsim: %s %s on %s -> %s%s\n", cfg.model.c_str(), StartName(cfg),
                 where.link.c_str(), server.SlavePath().c_str(),
                 usb ? (", USB device at " + usb->EntryPath()).c_str() : "");
    *end = server.Run(gStop);
    server.RemoveLink();
    return true;
}

// Serves until the update is over or a signal; false (the reason printed) when it cannot start.
bool Serve(const std::shared_ptr<plcsim::Plc>& plc, const plcsim::Config& cfg,
           const plcsim::PtyOptions& pty, const Where& where, const plcsim::Bench* bench,
           const plcsim::TurnHook& turn, plcsim::ServeEnd* end) {
    if (!where.tcp) return ServePty(plc, cfg, pty, where, bench, turn, end);
    std::string error;
    plcsim::TcpOptions options;
    static_cast<plcsim::ServeOptions&>(options) = pty;
    options.port = static_cast<uint16_t>(where.port);
    options.rfc2217 = where.rfc2217;
    plcsim::TcpServer server(plc, options);
    if (turn) server.SetTurnHook(turn);
    if (!server.Start(&error)) return StartFailed(error);
    std::fprintf(stderr, "plcsim: %s %s on %s\n", cfg.model.c_str(), StartName(cfg),
                 server.LinkName().c_str());
    *end = server.Run(gStop);
    return true;
}

// Everything the command line sets; a value not given keeps the model's default.
struct Options {
    std::string model, flashOut, logPath, flashDir;
    Where where;
    std::vector<std::string> faults;
    plcsim::BenchPlan bench;
    plcsim::PtyOptions pty;
    uint32_t seed = 1;
    bool boot = false, writeProtect = false, noWakeup = false, powerCycleReply = false;
    bool bit15 = false, nakResent = false;
    std::optional<uint32_t> appId, id67, bootId, d1386, d1001, d1148, appVersion, bootVersion;
    std::optional<uint32_t> latency;
    std::vector<std::pair<uint32_t, uint32_t>> registers;
};

// option              largest value  where it goes: the options that take a number
struct NumberOption {
    const char* name;
    uint32_t max;
    uint32_t* (*target)(Options&);
};
const NumberOption kNumberOptions[] = {
    {"--tcp", 65535, [](Options& o) { return &o.where.port; }},
    {"--rfc2217", 65535, [](Options& o) { return &o.where.port; }},
    {"--seed", 0xFFFFFFFFu, [](Options& o) { return &o.seed; }},
    {"--latency", 60000, [](Options& o) { return &o.latency.emplace(); }},
    {"--adapter-latency", 255, [](Options& o) { return &o.pty.adapterLatencyMs; }},
    {"--app-id", 0xFFFF, [](Options& o) { return &o.appId.emplace(); }},
    {"--id67", 0xFFFF, [](Options& o) { return &o.id67.emplace(); }},
    {"--boot-id", 0xFFFF, [](Options& o) { return &o.bootId.emplace(); }},
    {"--d1386", 0xFFFF, [](Options& o) { return &o.d1386.emplace(); }},
    {"--d1001", 0xFFFF, [](Options& o) { return &o.d1001.emplace(); }},
    {"--d1148", 0xFFFF, [](Options& o) { return &o.d1148.emplace(); }},
    {"--app-version", 0xFF, [](Options& o) { return &o.appVersion.emplace(); }},
    {"--boot-version", 0xFF, [](Options& o) { return &o.bootVersion.emplace(); }},
    {"--replug-after", 3600000, [](Options& o) { return &o.pty.replugAfterMs; }},
    {"--linger", 3600000, [](Options& o) { return &o.pty.lingerMs; }},
    {"--units", 100000, [](Options& o) { return &o.bench.units; }},
    {"--arrive-every", 3600000, [](Options& o) { return &o.bench.arriveEveryMs; }},
    {"--leave-after", 3600000, [](Options& o) { return &o.bench.leaveAfterMs; }},
};

// option                  where it goes: the switches
struct FlagOption {
    const char* name;
    bool* (*target)(Options&);
};
const FlagOption kFlagOptions[] = {
    // the server paces the line both ways, to the microsecond
    {"--pace", [](Options& o) { return &o.pty.pace; }},
    {"--boot-id-bit15", [](Options& o) { return &o.bit15; }},
    {"--write-protect", [](Options& o) { return &o.writeProtect; }},
    {"--no-wakeup-reply", [](Options& o) { return &o.noWakeup; }},
    {"--power-cycle-reply", [](Options& o) { return &o.powerCycleReply; }},
    {"--serve-forever", [](Options& o) { return &o.pty.serveForever; }},
};

// option          its value  where it goes: the options that take a text
struct TextOption {
    const char* name;
    const char* what;
    std::string* (*target)(Options&);
};
const TextOption kTextOptions[] = {
    {"--model", "a name", [](Options& o) { return &o.model; }},
    {"--link", "a path", [](Options& o) { return &o.where.link; }},
    {"--usb-root", "a directory", [](Options& o) { return &o.where.usbRoot; }},
    {"--usb-location", "a port path", [](Options& o) { return &o.where.usbLocation; }},
    {"--fault", "a fault", [](Options& o) { return &o.faults.emplace_back(); }},
    {"--flash-out", "a file", [](Options& o) { return &o.flashOut; }},
    {"--log", "a file", [](Options& o) { return &o.logPath; }},
    {"--flash-dir", "a directory", [](Options& o) { return &o.flashDir; }},
};

// option            one   other  set when the other: the options that take one of two words
struct ChoiceOption {
    const char* name;
    const char* one;
    const char* other;
    bool Options::*otherChosen;
};
const ChoiceOption kChoiceOptions[] = {
    {"--start", "app", "boot", &Options::boot},
    {"--resent-block", "ack", "nak", &Options::nakResent},
};

// The command line, one option at a time.
class ArgReader {
public:
    ArgReader(int argc, char** argv) : argc_(argc), argv_(argv) {}
    bool Next(std::string* option) {
        if (i_ + 1 >= argc_) return false;
        *option = argv_[++i_];
        return true;
    }
    const char* Value() { return i_ + 1 < argc_ ? argv_[++i_] : nullptr; }

private:
    int argc_;
    char** argv_;
    int i_ = 0;
};

// One option of the tables or --register. -1 when it was taken, an exit status (2, with the
// usage error printed) when it is wrong, 3 when it is in no table.
constexpr int kTaken = -1, kNotInTables = 3;

int TakeNumber(const std::string& a, ArgReader& args, Options* o) {
    for (const NumberOption& n : kNumberOptions) {
        if (a != n.name) continue;
        const char* v = args.Value();
        if (v == nullptr) return Usage(a + " needs a value");
        uint32_t value = 0;
        if (!Number(v, n.max, &value)) return Usage(a + ": bad number '" + std::string(v) + "'");
        *n.target(*o) = value;
        if (a == "--tcp" || a == "--rfc2217") {
            o->where.tcp = true;
            o->where.rfc2217 = a == "--rfc2217";
        }
        return kTaken;
    }
    return kNotInTables;
}

int TakeWord(const std::string& a, ArgReader& args, Options* o) {
    for (const FlagOption& f : kFlagOptions) {
        if (a != f.name) continue;
        *f.target(*o) = true;
        return kTaken;
    }
    for (const TextOption& t : kTextOptions) {
        if (a != t.name) continue;
        const char* v = args.Value();
        if (v == nullptr) return Usage(a + " needs " + t.what);
        *t.target(*o) = v;
        return kTaken;
    }
    for (const ChoiceOption& c : kChoiceOptions) {
        if (a != c.name) continue;
        const std::string both = std::string(c.one) + " or " + c.other;
        const char* v = args.Value();
        if (v == nullptr) return Usage(a + " needs " + both);
        if (std::string(v) != c.one && std::string(v) != c.other)
            return Usage(a + " takes " + both + ", not '" + std::string(v) + "'");
        o->*c.otherChosen = std::string(v) == c.other;
        return kTaken;
    }
    return kNotInTables;
}

// --unit-fault N:FAULT and --unit-stay N:MS.
int TakeUnitOption(const std::string& a, ArgReader& args, Options* o) {
    const char* v = args.Value();
    uint32_t unit = 0;
    std::string value;
    if (v == nullptr || !plcsim::ParseUnitValue(v, &unit, &value))
        return Usage(a + " takes N:" + (a == "--unit-fault" ? "FAULT" : "MS") +
                     " with N a unit number from 1" + (v ? ", not '" + std::string(v) + "'" : ""));
    if (a == "--unit-fault") {
        plcsim::Fault fault;
        std::string error;
        if (!plcsim::ParseFault(value, &fault, &error)) return Usage(error);
        o->bench.faults[unit].push_back(value);
        return kTaken;
    }
    uint32_t ms = 0;
    if (!Number(value.c_str(), 3600000, &ms)) return Usage(a + ": bad number '" + value + "'");
    o->bench.leaveAfterOf[unit] = ms;
    return kTaken;
}

int TakeRegister(ArgReader& args, Options* o) {
    const char* v = args.Value();
    if (v == nullptr) return Usage("--register needs N=V");
    std::string nv = v;
    size_t eq = nv.find('=');
    uint32_t n = 0, val = 0;
    if (eq == std::string::npos || !Number(nv.substr(0, eq).c_str(), 0xEFFF, &n) ||
        !Number(nv.substr(eq + 1).c_str(), 0xFFFF, &val))
        return Usage("--register takes N=V, e.g. 1001=0x40, not '" + nv + "'");
    o->registers.emplace_back(n, val);
    return kTaken;
}

void PrintHelp() {
    std::fputs(kUsage, stdout);
    std::fputs(plcsim::FAULT_SYNTAX, stdout);
    // The kinds wrapped to the 80 columns the rest keeps, each following line indented.
    std::string line = "Request kinds:";
    std::string kinds = plcsim::KindNames() + ' ';
    std::fputs("\n", stdout);
    for (size_t at = 0, end; (end = kinds.find(' ', at)) != std::string::npos; at = end + 1) {
        std::string kind = kinds.substr(at, end - at);
        if (kind.empty()) continue;
        if (line.size() + 1 + kind.size() > 79) {
            std::printf("%s\n", line.c_str());
            line = " ";
        }
        line += ' ' + kind;
    }
    std::printf("%s\n", line.c_str());
}

// The command line into *o. -1 to go on; otherwise the exit status (--help, --list-models, a
// usage error).
int ParseArgs(int argc, char** argv, Options* o) {
    ArgReader args(argc, argv);
    std::string a;
    while (args.Next(&a)) {
        if (a == "--list-models") {
            ListModels();
            return 0;
        }
        if (a == "--help" || a == "-h") {
            PrintHelp();
            return 0;
        }
        if (a == "--version") {
            std::printf("plcsim %s\n", PLC_VERSION_TEXT);
            return 0;
        }
        int status = a == "--register"                           ? TakeRegister(args, o)
                     : a == "--unit-fault" || a == "--unit-stay" ? TakeUnitOption(a, args, o)
                                                                 : TakeNumber(a, args, o);
        if (status == kNotInTables) status = TakeWord(a, args, o);
        if (status == kNotInTables) return Usage("unknown option '" + a + "'");
        if (status != kTaken) return status;
    }
    if (o->model.empty()) return Usage("--model is required");
    if (o->where.link.empty() == !o->where.tcp)
        return Usage("name one of --link, --tcp and --rfc2217");
    if (o->where.usbRoot.empty() != o->where.usbLocation.empty())
        return Usage("--usb-root and --usb-location go together");
    if (!o->where.usbRoot.empty() && o->where.tcp)
        return Usage("--usb-root shows a pseudo-terminal as a USB device: give --link, not a port");
    bool unitOptions =
        !o->bench.faults.empty() || !o->bench.leaveAfterOf.empty() || !o->flashDir.empty();
    if (o->bench.units == 0 && unitOptions)
        return Usage("--unit-fault, --unit-stay and --flash-dir play a bench: give --units N");
    if (o->bench.units > 0 && (!o->flashOut.empty() || o->pty.serveForever))
        return Usage(
            "a bench writes each unit's flash with --flash-dir and ends after its last "
            "unit: not with --flash-out or --serve-forever");
    return kTaken;
}

// The model's configuration with the options' values. False with the reason when the model is
// unknown.
bool MakeConfig(const Options& o, plcsim::Config* cfg, std::string* error) {
    if (!plcsim::DefaultConfig(o.model, cfg, error)) {
        std::string names;
        for (int i = 0; i < PLC_COUNT; ++i) names += std::string(i ? " " : "") + plcList[i];
        *error += "; models: " + names;
        return false;
    }
    auto u16 = [](uint32_t v) { return static_cast<uint16_t>(v); };
    auto u8 = [](uint32_t v) { return static_cast<uint8_t>(v); };
    if (o.boot) cfg->start = plcsim::StartMode::Boot;
    if (o.appId) cfg->appId = u16(*o.appId);
    if (o.id67) cfg->id67 = u16(*o.id67);
    if (o.bootId) cfg->bootId = u16(*o.bootId);
    if (o.bit15) cfg->bootIdBit15 = true;
    if (o.d1386) cfg->d1386 = u16(*o.d1386);
    if (o.d1001) cfg->d1001 = u16(*o.d1001);
    if (o.d1148) cfg->d1148 = u16(*o.d1148);
    for (auto& [n, val] : o.registers) cfg->registers[u16(n)] = u16(val);
    if (o.appVersion) cfg->appVersion = u8(*o.appVersion);
    if (o.bootVersion) cfg->bootVersion = u8(*o.bootVersion);
    if (o.latency) cfg->replyLatencyMs = *o.latency;
    cfg->writeProtected = o.writeProtect;
    cfg->ackResentBlock = !o.nakResent;
    cfg->answerWakeup = !o.noWakeup;
    cfg->powerCycleReplies = o.powerCycleReply;
    return true;
}

// The exchange log, when asked for: every exchange of the PLC and the server's notes. False
// when the file cannot be written.
bool OpenLog(const std::string& path, plcsim::Plc& plc, plcsim::PtyOptions* pty, std::FILE** out) {
    std::FILE* log = std::fopen(path.c_str(), "w");
    if (log == nullptr) return false;
    std::setvbuf(log, nullptr, _IOLBF, 0);
    plc.SetLogSink([log](const plcsim::LogLine& l) {
        std::fprintf(log, "%s\n", plcsim::FormatLogLine(l).c_str());
    });
    pty->note = [log](const std::string& text) {
        std::fprintf(log, "%10llu ms --- %s\n",
                     static_cast<unsigned long long>(plcsim::MonotonicNowMs()), text.c_str());
    };
    *out = log;
    return true;
}

void CatchSignals() {
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    sa.sa_handler = OnKick;  // no SA_RESTART: the interrupted call returns EINTR
    sigaction(SIGALRM, &sa, nullptr);
    sigevent ev{};
    ev.sigev_notify = SIGEV_SIGNAL;
    ev.sigev_signo = SIGALRM;
    gKickReady = timer_create(CLOCK_MONOTONIC, &ev, &gKick) == 0;
}

// The report's writes must not be cut short by the kicks.
void StopKicks() {
    if (!gKickReady) return;
    gKickReady = false;
    timer_delete(gKick);
}

// After serving: the tally, the flash file, the protocol errors. Returns the exit status.
int Report(const plcsim::Plc& plc, plcsim::ServeEnd end, const std::string& flashOut) {
    plcsim::Counters k = plc.GetCounters();
    std::fprintf(stderr, "plcsim: %s; %u pages erased, %u blocks, %u bytes received, %u resends\n",
                 end == plcsim::ServeEnd::UpdateDone ? "update complete" : "stopped", k.pagesErased,
                 k.blocksAccepted, plc.ReceivedBytes(), k.resendsSeen);
    int status = 0;
    if (!flashOut.empty()) {
        std::vector<uint8_t> flash = plc.Received();
        std::ofstream out(flashOut, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(flash.data()),
                  static_cast<std::streamsize>(flash.size()));
        if (!out) {
            std::fprintf(stderr, "plcsim: cannot write %s\n", flashOut.c_str());
            status = 1;
        }
    }
    std::vector<std::string> errors = plc.Errors();
    for (const std::string& e : errors)
        std::fprintf(stderr, "plcsim: protocol error: %s\n", e.c_str());
    if (k.errorsDropped > 0)
        std::fprintf(stderr, "plcsim: %u more protocol errors, not listed\n", k.errorsDropped);
    if (!errors.empty()) status = 1;
    return status;
}

// The bench of --units: each unit a fresh PLC with the options' configuration, the common faults
// and its own; as it leaves, its line on stderr and its flash in --flash-dir.
struct BenchRun {
    const Options& o;
    const plcsim::Config& cfg;
    std::function<void(const plcsim::LogLine&)> sink;
    int status = 0;

    std::shared_ptr<plcsim::Plc> MakeUnit(uint32_t unit) {
        auto plc = std::make_shared<plcsim::Plc>(cfg);
        plc->SetSeed(o.seed + unit);
        for (const std::string& f : o.faults) plc->AddFault(f);
        auto own = o.bench.faults.find(unit);
        if (own != o.bench.faults.end())
            for (const std::string& f : own->second) plc->AddFault(f);
        if (sink) plc->SetLogSink(sink);
        return plc;
    }
    void Left(uint32_t unit, const plcsim::Plc& plc, uint64_t presentMs) {
        std::fprintf(stderr, "plcsim: unit %u left after %.1f s: %s\n", unit,
                     static_cast<double>(presentMs) / 1000.0, plcsim::UnitSummary(plc).c_str());
        for (const std::string& e : plc.Errors())
            std::fprintf(stderr, "plcsim: unit %u: protocol error: %s\n", unit, e.c_str());
        if (!plc.Errors().empty()) status = 1;
        if (o.flashDir.empty()) return;
        std::string path = o.flashDir + "/unit-" + std::to_string(unit) + ".bin";
        std::vector<uint8_t> flash = plc.Received();
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(flash.data()),
                  static_cast<std::streamsize>(flash.size()));
        if (!out) {
            std::fprintf(stderr, "plcsim: cannot write %s\n", path.c_str());
            status = 1;
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (int status = ParseArgs(argc, argv, &o); status != kTaken) return status;

    plcsim::Config cfg;
    std::string error;
    if (!MakeConfig(o, &cfg, &error)) return Usage(error);
    if (!o.where.usbRoot.empty() && !plcsim::UsbPresentable(cfg.model, o.where.usbLocation, &error))
        return Usage(error);
    plcsim::PtyOptions pty = o.pty;
    // SIGTERM and SIGINT end its waits; a bench turns on its own clock, never in a read.
    pty.blockingReads = o.bench.units == 0;

    auto plc = std::make_shared<plcsim::Plc>(cfg);
    // A bench starts with no unit on the link.
    if (o.bench.units > 0) plc->Unplug();
    plc->SetSeed(o.seed);
    for (const std::string& f : o.faults)
        if (!plc->AddFault(f, &error)) return Usage(error);

    std::FILE* log = nullptr;
    if (!o.logPath.empty() && !OpenLog(o.logPath, *plc, &pty, &log))
        return Usage("cannot write the log " + o.logPath + ": " + std::strerror(errno));

    BenchRun benchRun{o, cfg, {}};
    std::unique_ptr<plcsim::Bench> bench;
    plcsim::TurnHook turn;
    if (o.bench.units > 0) {
        if (log != nullptr)
            benchRun.sink = [log](const plcsim::LogLine& l) {
                std::fprintf(log, "%s\n", plcsim::FormatLogLine(l).c_str());
            };
        bench = std::make_unique<plcsim::Bench>(
            o.bench, [&benchRun](uint32_t unit) { return benchRun.MakeUnit(unit); },
            [&benchRun](uint32_t unit, const plcsim::Plc& p, uint64_t ms) {
                benchRun.Left(unit, p, ms);
            });
        turn = [&bench](uint64_t nowMs, plcsim::RealTimePlc& rt) { return bench->Turn(nowMs, rt); };
    }

    CatchSignals();
    plcsim::ServeEnd end = plcsim::ServeEnd::Stopped;
    int status = 1;
    bool served = Serve(plc, cfg, pty, o.where, bench.get(), turn, &end);
    StopKicks();
    if (served && bench) {
        // A unit still on the link when the bench is stopped is reported as it stands.
        if (bench->Current() != nullptr)
            std::fprintf(stderr, "plcsim: unit %u still on the link: %s\n", bench->Present(),
                         plcsim::UnitSummary(*bench->Current()).c_str());
        std::fprintf(stderr, "plcsim: bench %s: %u of %u units came\n",
                     end == plcsim::ServeEnd::UpdateDone ? "complete" : "stopped", bench->Arrived(),
                     o.bench.units);
        status = benchRun.status;
    } else if (served) {
        status = Report(*plc, end, o.flashOut);
    }
    if (log) std::fclose(log);
    return status;
}
