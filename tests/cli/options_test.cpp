#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "catalogue/catalogue.h"
#include "cli/command/image_check.h"
#include "cli/command/options.h"
#include "cli/port/port.h"

namespace {

using plccli::CliOptions;

TEST(ParseOptions, AcceptsEveryOptionInBothSpellings) {
    struct Case {
        std::vector<std::string> args;
        std::string port, image, model, trace;
        bool yes, listPorts, help, version;
    };
    const Case cases[] = {
        {{}, "", "", "", "", false, false, false, false},
        {{"--port", "ttyUSB0"}, "ttyUSB0", "", "", "", false, false, false, false},
        {{"--port=/tmp/x/plc"}, "/tmp/x/plc", "", "", "", false, false, false, false},
        {{"--image", "QM2-E_1.bin", "--model", "QM2-E"},
         "",
         "QM2-E_1.bin",
         "QM2-E",
         "",
         false,
         false,
         false,
         false},
        {{"--trace=t.log", "--yes"}, "", "", "", "t.log", true, false, false, false},
        {{"--list-ports", "--help", "--version"}, "", "", "", "", false, true, true, true},
        {{"-h"}, "", "", "", "", false, false, true, false},
        {{"-y", "-V", "-p", "ttyACM0"}, "ttyACM0", "", "", "", true, false, false, true},
        {{"--port", "a", "--port", "b"}, "b", "", "", "", false, false, false, false},
        {{"--image", "-odd-name.bin"}, "", "-odd-name.bin", "", "", false, false, false, false},
    };
    for (const auto& c : cases) {
        CliOptions o;
        std::string error;
        ASSERT_TRUE(plccli::ParseOptions(c.args, &o, &error)) << error;
        EXPECT_EQ(o.port.value_or(""), c.port);
        EXPECT_EQ(o.image.value_or(""), c.image);
        EXPECT_EQ(o.model.value_or(""), c.model);
        EXPECT_EQ(o.trace.value_or(""), c.trace);
        EXPECT_EQ(o.yes, c.yes);
        EXPECT_EQ(o.listPorts, c.listPorts);
        EXPECT_EQ(o.help, c.help);
        EXPECT_EQ(o.version, c.version);
    }
}

TEST(ParseOptions, RejectsWhatItDoesNotKnow) {
    struct Case {
        std::vector<std::string> args;
        std::string reasonHas;
    };
    const Case cases[] = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"-P", "COM3"}, "unknown option '-P'"},
        {{"-n"}, "unknown option '-n'"},
        {{"--dry-run"}, "unknown option '--dry-run'; did you mean --info?"},
        {{"-p"}, "option -p needs a value"},
        {{"COM3"}, "unexpected argument 'COM3'"},
        {{"--port"}, "--port needs a value"},
        {{"--image="}, "--image needs a value"},
        {{"--yes=no"}, "--yes takes no value"},
        {{"--model", "RP200", "--trace"}, "--trace needs a value"},
        {{"--Port", "x"}, "unknown option '--Port'"},
        {{"--prot=COM3"}, "unknown option '--prot=COM3'; did you mean --port?"},
        {{"--port", "--yes"}, "--port needs a value"},  // not a port named "--yes"
        {{"--port", "--image=x_1.bin"}, "--port needs a value"},
        {{"--trace-data", "--yes"}, "--trace-data adds the blocks' bytes to a trace"},
        {{"--units", "5"}, "--units ends a station: give --station too"},
        {{"--station", "--units", "0"}, "--units takes a number of PLCs from 1 to 999999, not '0'"},
        {{"--station", "--units", "1000000"}, "from 1 to 999999, not '1000000'"},
        {{"--station", "--units", "-3"}, "not '-3'"},
        {{"--station", "--units", "1e3"}, "not '1e3'"},
        {{"--station", "--units", "99999999"}, "not '99999999'"},
        {{"--station", "--info"}, "--info follows one run: not with --station"},
        {{"--station", "--trace", "t"}, "--trace follows one run: not with --station"},
    };
    for (const auto& c : cases) {
        CliOptions o;
        std::string error;
        EXPECT_FALSE(plccli::ParseOptions(c.args, &o, &error)) << c.args[0];
        EXPECT_NE(error.find(c.reasonHas), std::string::npos) << error;
    }
}

TEST(NetworkLinkName, OnlyTheTwoSchemesWithAnAddress) {
    const std::pair<const char*, bool> cases[] = {
        {"tcp://10.0.0.5:4001", true}, {"rfc2217://host:2217", true}, {"tcp://", false},
        {"TCP://x:1", false},          {"/dev/tcp://x", false},       {"udp://x:1", false},
    };
    for (const auto& [name, network] : cases) EXPECT_EQ(plccli::IsNetworkLinkName(name), network);
}

TEST(WindowsPortIdentity, OneComPortByAnyOfItsNames) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"COM3", "com3", true},
        {"COM10", "\\\\.\\com10", true},
        {"\\\\.\\COM5", "//./Com5", true},
        {"COM3", "COM30", false},
        {"COM3", "\\\\.\\COM4", false},
        {"tcp://Host:4001", "tcp://host:4001", true},
    };
    for (const auto& [a, b, same] : cases)
        EXPECT_EQ(plccli::WindowsPortIdentity(a) == plccli::WindowsPortIdentity(b), same)
            << a << " " << b;
}

TEST(UsageText, ListsEveryOption) {
    std::string usage = plccli::UsageText();
    for (const char* option : {"--port", "--image", "--model", "--yes", "--list-ports", "--trace",
                               "--trace-data", "--help", "--version"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;
}

TEST(ResolveModel, ModelBeatsImageBeatsEmbedded) {
    const std::string embedded = "RP200_v1.14.10_20240103_01.bin";
    struct Case {
        const char* model;  // nullptr: not given
        const char* image;
        const char* embedded;
        const char* resolved;  // nullptr: a usage error
    };
    const Case cases[] = {
        {nullptr, nullptr, "RP200_v1.14.10_20240103_01.bin", "RP200"},
        {nullptr, "/some/dir/QM2-E_v2.bin", "RP200_x.bin", "QM2-E"},
        {"NV26", "/some/dir/QM2-E_v2.bin", "RP200_x.bin", "NV26"},
        {"rp200-aio", nullptr, "RP200_x.bin", "RP200-AIO"},  // case does not matter
        {"RP200-TO-RP300", nullptr, "x.bin", "RP200-TO-RP300"},
        {nullptr, "dir_with_underscore/QM3_1.bin", "RP200_x.bin", "QM3"},
        {"RP2000", nullptr, "RP200_x.bin", nullptr},
        {"", nullptr, "RP200_x.bin", nullptr},
        {nullptr, "firmware.bin", "RP200_x.bin", nullptr},  // no "_": names no model
        {nullptr, "XYZ_1.bin", "RP200_x.bin", nullptr},
        {nullptr, nullptr, "nomodel.bin", nullptr},
    };
    for (const auto& c : cases) {
        CliOptions o;
        if (c.model) o.model = c.model;
        if (c.image) o.image = c.image;
        uint32_t row = 99;
        std::string error;
        bool ok = plccli::ResolveModel(o, c.embedded, &row, &error);
        EXPECT_EQ(ok, c.resolved != nullptr) << (c.model ? c.model : "") << " " << error;
        if (ok && c.resolved) {
            EXPECT_STREQ(plcList[row], c.resolved);
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
}

TEST(NearModels, MistypedNamesFindTheirModels) {
    const std::pair<const char*, const char*> cases[] = {
        {"RP20", "RP200, RP200-AIO, RP200-TO-RP300, RP200-Z"},
        {"qm2c", "QM2-C-V2, QM2-C-V4"},
        {"RP3000", "RP300"},
        {"TR3AIO", "TR3-AIO"},
        {"XYZ123", ""},
        {"", ""},
    };
    for (const auto& [typed, near] : cases) EXPECT_EQ(plccli::NearModels(typed), near) << typed;
}

TEST(NearOption, MistypedLongOptionsFindTheNearestOnly) {
    const std::pair<const char*, const char*> cases[] = {
        {"--prot", "--port"},
        {"--imgae", "--image"},
        {"--list-port", "--list-ports"},
        {"--Port", "--port"},
        {"--ye", "--yes"},
        {"--trace-dat", "--trace-data"},
        {"--bogus", ""},
        {"--x", ""},
        {"-p", ""},
        {"--sation-units", ""},
    };
    for (const auto& [typed, near] : cases) EXPECT_EQ(plccli::NearOption(typed), near) << typed;
}

TEST(ModelFromFileName, TextBeforeTheFirstUnderscoreOfTheName) {
    const std::pair<const char*, const char*> cases[] = {
        {"RP200_v1.14.10_20240103_01.bin", "RP200"},
        {"/a_b/c_d/QM2-E_x.bin", "QM2-E"},
        {"Z:\\a_b\\QM2-E_x.bin", "QM2-E"},
        {"_leading.bin", ""},
        {"none.bin", ""},
        {"", ""},
    };
    for (const auto& [path, model] : cases) EXPECT_EQ(plccli::ModelFromFileName(path), model);
}

}  // namespace

namespace {

TEST(ImageDoubt, TextRecordsAndLessThanOneBlockAreNoImage) {
    const uint32_t row = *plccli::FindModel("QM2-E");  // blocks of 128 bytes
    std::string binary(4096, '\0');
    for (size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 7);
    struct Case {
        std::string data;
        std::string doubt;  // the start of the reason; "" for none
    };
    const Case cases[] = {
        {binary, ""},
        {binary.substr(0, 128), ""},
        {binary.substr(0, 100), "100 bytes, shorter than one block (128 bytes) of QM2-E"},
        {binary.substr(0, 127), "127 bytes, shorter than one block"},
        {":10000000000102030405060708090A0B0C0D0E0F78\r\n:00000001FF\r\n" + std::string(200, '\n'),
         "an Intel HEX text file"},
        {"S00F000068656C6C6F202020202000003C\nS1130000285F245F2212226A000424290008237C2A\n"
         "S5030001FB\nS9030000FC\n" +
             std::string(200, '\n'),
         "an S-record text file"},
        // Binary bytes that happen to start with a record's lead are an image.
        {":1" + binary, ""},
        {"S1" + binary, ""},
    };
    for (const auto& c : cases) {
        std::string doubt =
            plccli::ImageDoubt(reinterpret_cast<const uint8_t*>(c.data.data()), c.data.size(), row);
        EXPECT_EQ(doubt.substr(0, c.doubt.size()), c.doubt) << c.data.substr(0, 12);
        EXPECT_EQ(doubt.empty(), c.doubt.empty()) << doubt;
    }
}

TEST(ParseOptions, NetworkPortNumberCheckedWhenRead) {
    const std::pair<const char*, const char*> cases[] = {
        {"tcp://127.0.0.1:4001", ""},
        {"rfc2217://[::1]:2217", ""},
        {"rfc2217://127.0.0.1:99999", "the port number 99999 is out of range (1 to 65535)"},
        {"tcp://127.0.0.1:0", "the port number 0 is out of range"},
        {"tcp://127.0.0.1", "no port number; write tcp://HOST:PORT"},
        {"tcp://[::1]", "no port number"},
        {"tcp://host:12ab", "no port number"},
        {"tcp://127.0.0.1:039825", ""},  // decimal, as the link reads it
        {"tcp://127.0.0.1:00000000023", ""},
        {"tcp://127.0.0.1:0000", "the port number 0000 is out of range"},
        {"tcp://127.0.0.1:065536", "the port number 065536 is out of range"},
        {"tcp://::1:23", "no host name before the port number"},  // the brackets missing
    };
    for (const auto& [port, reason] : cases) {
        plccli::CliOptions options;
        std::string error;
        bool ok = plccli::ParseOptions({"--port", port}, &options, &error);
        EXPECT_EQ(ok, reason[0] == '\0') << port;
        EXPECT_NE(error.find(reason), std::string::npos) << port << ": " << error;
    }
}

}  // namespace
