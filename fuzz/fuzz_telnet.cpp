// The Telnet decoder on any stream cut into any reads: the same data and commands wherever the
// reads split it, never more data than raw bytes taken; escaped data decodes back to itself with
// no command; and no negotiation, however repeated, is answered twice in a row.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/telnet.h"

namespace {

namespace tn = platform::telnet;
using Bytes = std::vector<uint8_t>;

void Expect(bool ok) {
    if (!ok) std::abort();
}

struct Decoded {
    Bytes data;
    std::vector<tn::Command> commands;
};

// Decodes raw in reads of the sizes that cuts gives in turn (one read of everything without).
Decoded DecodeInReads(const Bytes& raw, const Bytes& cuts) {
    tn::TelnetDecoder decoder;
    Decoded out;
    size_t pos = 0;
    for (size_t k = 0; pos < raw.size(); ++k) {
        size_t read = cuts.empty() ? raw.size() : 1 + cuts[k % cuts.size()] % 64;
        if (read > raw.size() - pos) read = raw.size() - pos;
        Bytes chunk(raw.begin() + pos, raw.begin() + pos + read);  // exactly, so ASan sees overruns
        for (size_t at = 0; at < chunk.size();) {
            Bytes data(chunk.size() - at);
            size_t len = 0;
            tn::Command c;
            bool have = false;
            size_t used = decoder.Decode(chunk.data() + at, chunk.size() - at, data.data(), &len, &c,
                                         &have);
            Expect(used > 0 && used <= chunk.size() - at && len <= used);
            out.data.insert(out.data.end(), data.begin(), data.begin() + len);
            if (have) out.commands.push_back(c);
            at += used;
        }
        pos += read;
    }
    return out;
}

bool Same(const tn::Command& a, const tn::Command& b) {
    return a.verb == b.verb && a.option == b.option && a.payload == b.payload;
}

}  // namespace

// Input: a count k, k read sizes, then the stream.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    if (size < 1) return 0;
    size_t k = input[0] % 16;
    if (size < 1 + k) return 0;
    Bytes cuts(input + 1, input + 1 + k);
    Bytes raw(input + 1 + k, input + size);

    Decoded whole = DecodeInReads(raw, {});
    Decoded cut = DecodeInReads(raw, cuts);
    Expect(whole.data == cut.data && whole.commands.size() == cut.commands.size());
    for (size_t i = 0; i < whole.commands.size(); ++i)
        Expect(Same(whole.commands[i], cut.commands[i]));

    Bytes escaped;
    tn::EscapeIac(raw.data(), raw.size(), &escaped);
    Decoded back = DecodeInReads(escaped, cuts);
    Expect(back.data == raw && back.commands.empty());

    tn::TelnetOptions options({tn::OPT_BINARY, tn::OPT_COM_PORT}, {tn::OPT_BINARY, tn::OPT_SGA});
    options.Request(tn::WILL, tn::OPT_COM_PORT);
    for (const tn::Command& c : whole.commands) {
        if (c.verb == tn::SB) continue;
        Expect(options.Answer(c.verb, c.option).size() <= 3);
        Expect(options.Answer(c.verb, c.option).empty());
    }
    return 0;
}
