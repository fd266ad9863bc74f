// The Telnet layer of the rfc2217 link and server: escaping, decoding across any split of the
// stream, negotiation answers, and the exact bytes of the line settings.
#include <gtest/gtest.h>

#include <vector>

#include "platform/telnet.h"

namespace {

namespace tn = platform::telnet;
using Bytes = std::vector<uint8_t>;

TEST(Telnet, EscapeDoublesOnlyIac) {
    struct Case {
        Bytes in, out;
    } cases[] = {
        {{}, {}},
        {{0x01, 0xFE}, {0x01, 0xFE}},
        {{0xFF}, {0xFF, 0xFF}},
        {{0x00, 0xFF, 0xFF, 0x41}, {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x41}},
    };
    for (const Case& c : cases) {
        Bytes out;
        tn::EscapeIac(c.in.data(), c.in.size(), &out);
        EXPECT_EQ(out, c.out);
    }
}

struct Decoded {
    Bytes data;
    std::vector<tn::Command> commands;
};

// Decodes the stream in pieces cut at the given offsets.
Decoded DecodeInPieces(const Bytes& stream, const std::vector<size_t>& cuts) {
    tn::TelnetDecoder d;
    Decoded out;
    size_t from = 0;
    std::vector<size_t> ends = cuts;
    ends.push_back(stream.size());
    for (size_t end : ends) {
        while (from < end) {
            uint8_t data[64];
            size_t len = 0;
            tn::Command c;
            bool have = false;
            from += d.Decode(stream.data() + from, end - from, data, &len, &c, &have);
            out.data.insert(out.data.end(), data, data + len);
            if (have) out.commands.push_back(c);
        }
    }
    return out;
}

TEST(Telnet, DecodesTheSameWhereverTheReadsSplitTheStream) {
    // Data with an escaped 0xFF, a negotiation, a NOP, a subnegotiation whose value holds an
    // escaped 0xFF, and more data.
    const Bytes stream = {0x06, 0xFF, 0xFF, 0x15, 0xFF, 0xFD, 0x2C, 0xFF, 0xF1, 0x41,
                          0xFF, 0xFA, 0x2C, 0x65, 0x00, 0xFF, 0xFF, 0xC2, 0x00, 0xFF,
                          0xF0, 0x42, 0xFF, 0xFF};
    const Bytes data = {0x06, 0xFF, 0x15, 0x41, 0x42, 0xFF};
    for (size_t a = 0; a <= stream.size(); ++a) {
        for (size_t b = a; b <= stream.size(); ++b) {
            Decoded got = DecodeInPieces(stream, {a, b});
            ASSERT_EQ(got.data, data) << "cut at " << a << ", " << b;
            ASSERT_EQ(got.commands.size(), 2u) << "cut at " << a << ", " << b;
            EXPECT_EQ(got.commands[0].verb, tn::DO);
            EXPECT_EQ(got.commands[0].option, tn::OPT_COM_PORT);
            EXPECT_EQ(got.commands[1].verb, tn::SB);
            EXPECT_EQ(got.commands[1].payload, (Bytes{0x65, 0x00, 0xFF, 0xC2, 0x00}));
        }
    }
}

TEST(Telnet, SubnegotiationCutShortByAnotherCommandGivesThatCommand) {
    Decoded got = DecodeInPieces({0xFF, 0xFA, 0x2C, 0x01, 0xFF, 0xFB, 0x00, 0x33}, {});
    ASSERT_EQ(got.commands.size(), 1u);
    EXPECT_EQ(got.commands[0].verb, tn::WILL);
    EXPECT_EQ(got.data, Bytes{0x33});
}

TEST(Telnet, NegotiationAnswersChangeStateOnceAndNeverLoop) {
    // Client: we may enable BINARY and COM-PORT-OPTION, the server BINARY and SGA.
    tn::TelnetOptions o({tn::OPT_BINARY, tn::OPT_COM_PORT}, {tn::OPT_BINARY, tn::OPT_SGA});
    EXPECT_EQ(o.Request(tn::WILL, tn::OPT_COM_PORT), (Bytes{tn::IAC, tn::WILL, tn::OPT_COM_PORT}));
    struct Step {
        uint8_t verb, option;
        Bytes answer;
    } steps[] = {
        {tn::DO, tn::OPT_COM_PORT, {}},                         // agrees to our request
        {tn::DO, tn::OPT_COM_PORT, {}},                         // again: already on
        {tn::WILL, tn::OPT_SGA, {tn::IAC, tn::DO, tn::OPT_SGA}},
        {tn::WILL, tn::OPT_SGA, {}},
        {tn::DO, 1 /*ECHO*/, {tn::IAC, tn::WONT, 1}},
        {tn::DO, 1, {}},  // refused already: a repeated request gets no second refusal
        {tn::WILL, 1, {tn::IAC, tn::DONT, 1}},
        {tn::WILL, 1, {}},
        {tn::DONT, 1, {}},  // the peer takes its request back; asked again, it is refused again
        {tn::DO, 1, {tn::IAC, tn::WONT, 1}},
        {tn::WONT, tn::OPT_SGA, {tn::IAC, tn::DONT, tn::OPT_SGA}},
        {tn::WONT, tn::OPT_SGA, {}},
    };
    for (const Step& s : steps)
        EXPECT_EQ(o.Answer(s.verb, s.option), s.answer) << int(s.verb) << " " << int(s.option);
    EXPECT_TRUE(o.PeerAgreed(tn::OPT_COM_PORT));

    tn::TelnetOptions refused({tn::OPT_COM_PORT}, {});
    EXPECT_FALSE(refused.Request(tn::WILL, tn::OPT_COM_PORT).empty());
    EXPECT_TRUE(refused.Request(tn::WILL, tn::OPT_COM_PORT).empty());  // asked already
    EXPECT_FALSE(refused.PeerAnswered(tn::OPT_COM_PORT));
    EXPECT_TRUE(refused.Answer(tn::DONT, tn::OPT_COM_PORT).empty());  // the answer to our request
    EXPECT_TRUE(refused.PeerAnswered(tn::OPT_COM_PORT));
    EXPECT_FALSE(refused.PeerAgreed(tn::OPT_COM_PORT));
}

TEST(Telnet, LineSettingsTravelAsSubnegotiationsAndApplyOnTheFarSide) {
    auto sb = [](uint8_t cmd, Bytes value) {
        Bytes b = {tn::IAC, tn::SB, tn::OPT_COM_PORT, cmd};
        for (uint8_t v : value) b.push_back(v);
        b.push_back(tn::IAC);
        b.push_back(tn::SE);
        return b;
    };
    auto cat = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    platform::LineSettings slow{9600, 7, EVENPARITY, ONESTOPBIT, false, false};
    platform::LineSettings fast{115200, 8, NOPARITY, ONESTOPBIT, false, false};
    platform::LineSettings odd{0x0001FFFF, 8, ODDPARITY, TWOSTOPBITS, true, true};
    struct Case {
        platform::LineSettings line;
        Bytes bytes;
    } cases[] = {
        {slow, cat({sb(1, {0, 0, 0x25, 0x80}), sb(2, {7}), sb(3, {3}), sb(4, {1}), sb(5, {9}),
                    sb(5, {12})})},
        {fast, cat({sb(1, {0, 1, 0xC2, 0x00}), sb(2, {8}), sb(3, {1}), sb(4, {1}), sb(5, {9}),
                    sb(5, {12})})},
        // A speed byte of 0xFF is doubled inside the subnegotiation.
        {odd, cat({sb(1, {0, 1, 0xFF, 0xFF, 0xFF, 0xFF}), sb(2, {8}), sb(3, {2}), sb(4, {2}),
                   sb(5, {8}), sb(5, {11})})},
    };
    for (const Case& c : cases) {
        Bytes out;
        ASSERT_TRUE(tn::LineCommands(c.line, &out));
        EXPECT_EQ(out, c.bytes) << c.line.baud;
        platform::LineSettings applied{1200, 5, NOPARITY, TWOSTOPBITS, false, false};
        Decoded d = DecodeInPieces(out, {});
        for (const tn::Command& cmd : d.commands) EXPECT_TRUE(tn::ApplyComPortCommand(cmd, &applied));
        EXPECT_EQ(applied, c.line) << c.line.baud;
    }
    Bytes none;
    EXPECT_FALSE(tn::LineCommands({9600, 9, NOPARITY, ONESTOPBIT, false, false}, &none));
    EXPECT_FALSE(tn::LineCommands({0, 8, NOPARITY, ONESTOPBIT, false, false}, &none));
}

}  // namespace
