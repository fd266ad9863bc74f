// plcsim: one simulated PLC on a pseudo-terminal or a TCP port, for demos, training and
// end-to-end tests.
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "sim/pty_server.h"
#include "sim/sim.h"
#include "sim/tcp_server.h"

namespace {

std::atomic<bool> gStop{false};

void OnSignal(int) {
    gStop = true;
}

const char* const kUsage =
    "Usage: plcsim --model NAME (--link PATH | --tcp PORT | --rfc2217 PORT) [options]\n"
    "\n"
    "Plays one PLC of the catalogue model NAME (application firmware and bootloader) on a\n"
    "pseudo-terminal and links PATH to it; a host opens PATH as its serial port. Or serves it\n"
    "on a TCP port of 127.0.0.1, one host at a time. Serves until the update ends (the EOT of\n"
    "the transfer is acknowledged and the host closes the port), then writes --flash-out and\n"
    "exits: 0 when the host made no protocol error, 1 when it made some (they are listed on\n"
    "stderr). SIGTERM or SIGINT end it the same way. Bad options: 2; no pseudo-terminal, no\n"
    "link at PATH or no port: 1.\n"
    "\n"
    "Options:\n"
    "  --model NAME          catalogue model, e.g. RP200, QM2-E, 30TR2-AIO (required)\n"
    "  --list-models         the catalogue's model names, one a line, and exit\n"
    "  --link PATH           symbolic link to create (a stale link is replaced)\n"
    "  --tcp PORT            serve on 127.0.0.1:PORT (0: a free port; stderr names it): the\n"
    "                        line's bytes as they are, for hosts that open tcp://HOST:PORT;\n"
    "                        no line settings travel, the PLC takes the line it expects\n"
    "  --rfc2217 PORT        serve on 127.0.0.1:PORT with Telnet's COM-PORT-OPTION, for hosts\n"
    "                        that open rfc2217://HOST:PORT: their line settings arrive and\n"
    "                        are checked as on a serial port (9600 7E1, 115200 8N1 after\n"
    "                        \"UPDATE\")\n"
    "  --start app|boot      start in the application firmware (default) or the bootloader\n"
    "  --fault FAULT         a fault to play; may be repeated (syntax below)\n"
    "  --seed N              seed of the random faults (default 1)\n"
    "  --pace                model the line's speed both ways: a request is handled when its\n"
    "                        last byte would have arrived, each reply byte is sent when the\n"
    "                        line allows it (10 bits a byte at 8N1 and 7E1)\n"
    "  --latency MS          time from a request to its reply (default 1)\n"
    "  --flash-out FILE      write the bytes programmed by the last transfer (block-aligned,\n"
    "                        filler included) to FILE at the end\n"
    "  --log FILE            one line per exchange: time, phase, request, reply, what the PLC\n"
    "                        made of it; also opens, closes and restarts\n"
    "  --app-id ID           id reported by the identity request (default: catalogue id)\n"
    "  --id67 ID             id reported by the 0x67 id read (default: catalogue id)\n"
    "  --boot-id ID          id reported by the bootloader's \"ID\" (default: catalogue id)\n"
    "  --boot-id-bit15       COM-port models: report the bootloader id with its bit 15 (their\n"
    "                        bootloaders leave it out: 0x2001 for WJB-QM2's 0xA001)\n"
    "  --d1386 V, --d1001 V, --d1148 V\n"
    "                        register values (defaults pass the model's compatibility rule)\n"
    "  --register N=V        value of data register DN (may be repeated)\n"
    "  --app-version V       the application firmware's answer to the version request\n"
    "  --boot-version V      the bootloader's version byte (default 0x14)\n"
    "  --write-protect       the flash is write-protected: every block is answered NOK\n"
    "  --resent-block ack|nak  a correct block resent under the number of the block just\n"
    "                        programmed (the host missed its ACK): acknowledged without being\n"
    "                        programmed again (ack, the default) or refused with NAK\n"
    "  --no-wakeup-reply     the application firmware does not answer wake-up frames\n"
    "  --power-cycle-reply   QM2-C-V2, QM2-C-V4, TR2-CAR acknowledge the enter-bootloader request\n"
    "  --replug-after MS     take MS ms after the PLC left the link as its replug or power cycle,\n"
    "                        for hosts that do not close the port (default: wait for the close)\n"
    "  --linger MS           after the update, wait at most MS ms for the host to close\n"
    "                        (default 3000)\n"
    "  --serve-forever       keep serving after an update, until killed\n"
    "  --list-models         one line per catalogue model: name, id, link, page and block bytes,\n"
    "                        image bytes kept back, largest image, how it comes back\n"
    "  --help                this text\n"
    "\n"
    "Numbers are decimal or 0x-prefixed hex (ids: 0x3010). A USB-attached model leaves the link\n"
    "after the enter-bootloader confirmation and is back in its bootloader once the host has\n"
    "closed and reopened the port; QM2-C-V2, QM2-C-V4 and TR2-CAR likewise after the request.\n"
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

// Serves until the update is over or a signal; false (the reason printed) when it cannot start.
bool Serve(const std::shared_ptr<plcsim::Plc>& plc, const plcsim::Config& cfg,
           const plcsim::PtyOptions& pty, const Where& where, plcsim::ServeEnd* end) {
    std::string error;
    if (!where.tcp) {
        plcsim::PtyOptions options = pty;
        options.linkPath = where.link;
        plcsim::PtyServer server(plc, options);
        if (!server.Start(&error)) return StartFailed(error);
        std::fprintf(stderr, "plcsim: %s %s on %s -> %s\n", cfg.model.c_str(), StartName(cfg),
                     where.link.c_str(), server.SlavePath().c_str());
        *end = server.Run(gStop);
        server.RemoveLink();
        return true;
    }
    plcsim::TcpOptions options;
    static_cast<plcsim::ServeOptions&>(options) = pty;
    options.port = static_cast<uint16_t>(where.port);
    options.rfc2217 = where.rfc2217;
    plcsim::TcpServer server(plc, options);
    if (!server.Start(&error)) return StartFailed(error);
    std::fprintf(stderr, "plcsim: %s %s on %s\n", cfg.model.c_str(), StartName(cfg),
                 server.LinkName().c_str());
    *end = server.Run(gStop);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string model, flashOut, logPath;
    Where where;
    std::vector<std::string> faults;
    plcsim::PtyOptions pty;
    uint32_t seed = 1;
    struct Settings {
        bool start = false, boot = false, pace = false, writeProtect = false, noWakeup = false;
        bool powerCycleReply = false, bit15 = false, nakResent = false;
        bool appId = false, id67 = false, bootId = false, d1386 = false, d1001 = false;
        bool d1148 = false, appVersion = false, bootVersion = false, latency = false;
        uint32_t appIdV = 0, id67V = 0, bootIdV = 0, d1386V = 0, d1001V = 0, d1148V = 0;
        uint32_t appVersionV = 0, bootVersionV = 0, latencyV = 0;
        std::vector<std::pair<uint32_t, uint32_t>> registers;
    } s;

    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char** out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        const char* v = nullptr;
        auto num = [&](uint32_t max, bool* flag, uint32_t* out) {
            if (!value(&v)) return Usage(a + " needs a value");
            if (!Number(v, max, out)) return Usage(a + ": bad number '" + std::string(v) + "'");
            if (flag) *flag = true;
            return 0;
        };
        int bad = 0;
        if (a == "--list-models") {
            ListModels();
            return 0;
        }
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(plcsim::FAULT_SYNTAX, stdout);
            std::printf("\nRequest kinds: %s\n", plcsim::KindNames().c_str());
            return 0;
        } else if (a == "--model") {
            if (!value(&v)) return Usage("--model needs a name");
            model = v;
        } else if (a == "--list-models") {
            for (int m = 0; m < PLC_COUNT; ++m) std::printf("%s\n", plcList[m]);
            return 0;
        } else if (a == "--link") {
            if (!value(&v)) return Usage("--link needs a path");
            where.link = v;
        } else if (a == "--tcp" || a == "--rfc2217") {
            bad = num(65535, &where.tcp, &where.port);
            where.rfc2217 = a == "--rfc2217";
        } else if (a == "--start") {
            if (!value(&v)) return Usage("--start needs app or boot");
            if (std::strcmp(v, "app") != 0 && std::strcmp(v, "boot") != 0)
                return Usage("--start takes app or boot, not '" + std::string(v) + "'");
            s.boot = std::strcmp(v, "boot") == 0;
        } else if (a == "--fault") {
            if (!value(&v)) return Usage("--fault needs a fault");
            faults.push_back(v);
        } else if (a == "--seed") {
            bad = num(0xFFFFFFFFu, nullptr, &seed);
        } else if (a == "--pace") {
            s.pace = true;
        } else if (a == "--latency") {
            bad = num(60000, &s.latency, &s.latencyV);
        } else if (a == "--flash-out") {
            if (!value(&v)) return Usage("--flash-out needs a file");
            flashOut = v;
        } else if (a == "--log") {
            if (!value(&v)) return Usage("--log needs a file");
            logPath = v;
        } else if (a == "--app-id") {
            bad = num(0xFFFF, &s.appId, &s.appIdV);
        } else if (a == "--id67") {
            bad = num(0xFFFF, &s.id67, &s.id67V);
        } else if (a == "--boot-id") {
            bad = num(0xFFFF, &s.bootId, &s.bootIdV);
        } else if (a == "--boot-id-bit15") {
            s.bit15 = true;
        } else if (a == "--d1386") {
            bad = num(0xFFFF, &s.d1386, &s.d1386V);
        } else if (a == "--d1001") {
            bad = num(0xFFFF, &s.d1001, &s.d1001V);
        } else if (a == "--d1148") {
            bad = num(0xFFFF, &s.d1148, &s.d1148V);
        } else if (a == "--register") {
            if (!value(&v)) return Usage("--register needs N=V");
            std::string nv = v;
            size_t eq = nv.find('=');
            uint32_t n = 0, val = 0;
            if (eq == std::string::npos || !Number(nv.substr(0, eq).c_str(), 0xEFFF, &n) ||
                !Number(nv.substr(eq + 1).c_str(), 0xFFFF, &val))
                return Usage("--register takes N=V, e.g. 1001=0x40, not '" + nv + "'");
            s.registers.emplace_back(n, val);
        } else if (a == "--app-version") {
            bad = num(0xFF, &s.appVersion, &s.appVersionV);
        } else if (a == "--boot-version") {
            bad = num(0xFF, &s.bootVersion, &s.bootVersionV);
        } else if (a == "--write-protect") {
            s.writeProtect = true;
        } else if (a == "--resent-block") {
            if (!value(&v)) return Usage("--resent-block needs ack or nak");
            if (std::string(v) != "ack" && std::string(v) != "nak")
                return Usage("--resent-block takes ack or nak, not '" + std::string(v) + "'");
            s.nakResent = std::string(v) == "nak";
        } else if (a == "--no-wakeup-reply") {
            s.noWakeup = true;
        } else if (a == "--power-cycle-reply") {
            s.powerCycleReply = true;
        } else if (a == "--replug-after") {
            bad = num(3600000, nullptr, &pty.replugAfterMs);
        } else if (a == "--linger") {
            bad = num(3600000, nullptr, &pty.lingerMs);
        } else if (a == "--serve-forever") {
            pty.serveForever = true;
        } else {
            return Usage("unknown option '" + a + "'");
        }
        if (bad) return bad;
    }
    if (model.empty()) return Usage("--model is required");
    if (where.link.empty() == !where.tcp)
        return Usage("name one of --link, --tcp and --rfc2217");

    plcsim::Config cfg;
    std::string error;
    if (!plcsim::DefaultConfig(model, &cfg, &error)) {
        std::string names;
        for (int i = 0; i < PLC_COUNT; ++i) names += std::string(i ? " " : "") + plcList[i];
        return Usage(error + "; models: " + names);
    }
    if (s.boot) cfg.start = plcsim::StartMode::Boot;
    if (s.appId) cfg.appId = static_cast<uint16_t>(s.appIdV);
    if (s.id67) cfg.id67 = static_cast<uint16_t>(s.id67V);
    if (s.bootId) cfg.bootId = static_cast<uint16_t>(s.bootIdV);
    if (s.bit15) cfg.bootIdBit15 = true;
    if (s.d1386) cfg.d1386 = static_cast<uint16_t>(s.d1386V);
    if (s.d1001) cfg.d1001 = static_cast<uint16_t>(s.d1001V);
    if (s.d1148) cfg.d1148 = static_cast<uint16_t>(s.d1148V);
    for (auto& [n, val] : s.registers)
        cfg.registers[static_cast<uint16_t>(n)] = static_cast<uint16_t>(val);
    if (s.appVersion) cfg.appVersion = static_cast<uint8_t>(s.appVersionV);
    if (s.bootVersion) cfg.bootVersion = static_cast<uint8_t>(s.bootVersionV);
    if (s.latency) cfg.replyLatencyMs = s.latencyV;
    cfg.writeProtected = s.writeProtect;
    cfg.ackResentBlock = !s.nakResent;
    cfg.answerWakeup = !s.noWakeup;
    cfg.powerCycleReplies = s.powerCycleReply;
    pty.pace = s.pace;         // the server paces the line both ways, to the microsecond
    pty.blockingReads = true;  // SIGTERM and SIGINT end its waits

    auto plc = std::make_shared<plcsim::Plc>(cfg);
    plc->SetSeed(seed);
    for (const std::string& f : faults)
        if (!plc->AddFault(f, &error)) return Usage(error);

    std::FILE* log = nullptr;
    if (!logPath.empty()) {
        log = std::fopen(logPath.c_str(), "w");
        if (log == nullptr)
            return Usage("cannot write the log " + logPath + ": " + std::strerror(errno));
        std::setvbuf(log, nullptr, _IOLBF, 0);
        plc->SetLogSink([log](const plcsim::LogLine& l) {
            std::fprintf(log, "%s\n", plcsim::FormatLogLine(l).c_str());
        });
        pty.note = [log](const std::string& text) {
            std::fprintf(log, "%10llu ms --- %s\n",
                         static_cast<unsigned long long>(plcsim::MonotonicNowMs()), text.c_str());
        };
    }

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    plcsim::ServeEnd end = plcsim::ServeEnd::Stopped;
    if (!Serve(plc, cfg, pty, where, &end)) {
        if (log) std::fclose(log);
        return 1;
    }

    plcsim::Counters k = plc->GetCounters();
    std::fprintf(stderr, "plcsim: %s; %u pages erased, %u blocks, %u bytes received, %u resends\n",
                 end == plcsim::ServeEnd::UpdateDone ? "update complete" : "stopped",
                 k.pagesErased, k.blocksAccepted, plc->ReceivedBytes(), k.resendsSeen);
    int status = 0;
    if (!flashOut.empty()) {
        std::vector<uint8_t> flash = plc->Received();
        std::ofstream out(flashOut, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(flash.data()),
                  static_cast<std::streamsize>(flash.size()));
        if (!out) {
            std::fprintf(stderr, "plcsim: cannot write %s\n", flashOut.c_str());
            status = 1;
        }
    }
    std::vector<std::string> errors = plc->Errors();
    for (const std::string& e : errors)
        std::fprintf(stderr, "plcsim: protocol error: %s\n", e.c_str());
    if (!errors.empty()) status = 1;
    if (log) std::fclose(log);
    return status;
}
