// The command line and the model of the run.
//   - ParseOptions / UsageText: the options and --help
//   - IsNetworkLinkName / NetworkPortNumberProblem: tcp:// and rfc2217:// port names
//   - ResolveModel: the model from --model, --image's file name or the embedded image's name
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace plccli {

struct CliOptions {
    std::optional<std::string> port;
    std::optional<std::string> image;
    std::optional<std::string> model;
    std::optional<std::string> trace;
    bool traceData = false;  // --trace-data: the bytes of every block as well
    std::optional<std::string> record;
    std::optional<std::string> portsFrom;
    std::vector<std::string> ports;  // every --port, in order; port is the last
    bool events = false;             // JSON lines on the standard output instead of text
    bool station = false;            // update each PLC as it is plugged in, until interrupted
    uint32_t units = 0;              // --units: the station ends after this many (0: never)
    std::optional<std::string> unitsText;
    bool yes = false;
    bool force = false;  // write an image that does not look like one
    bool listPorts = false;
    bool info = false;
    bool listModels = false;
    bool quiet = false;    // -q: no status line, no header
    bool verbose = false;  // -v: what the PLC reported, after the run
    bool help = false;
    bool version = false;
    // Not an option: with no port named, the usb: port of the only USB-attached PLC present when
    // the run began, so that after its replug the run opens that PLC and no other.
    std::string usbPinned;
};

// tcp://HOST:PORT and rfc2217://HOST:PORT: links over the network, opened by the platform.
bool IsNetworkLinkName(const std::string& port);
// What is wrong with a network link's port number ("no port number; write tcp://HOST:PORT");
// "" when nothing is.
std::string NetworkPortNumberProblem(const std::string& link);

// Parses the arguments after the program name. Returns false with a one-line reason on error.
bool ParseOptions(const std::vector<std::string>& args, CliOptions* options, std::string* error);
std::string UsageText();

// The option nearest a mistyped long one ("--prot" -> "--port"), or "" when none is near.
std::string NearOption(const std::string& typed);

// The model named by an image file name (any directory part is ignored): the text before the
// first "_"; empty when there is none.
std::string ModelFromFileName(const std::string& path);
// The catalogue row of a model name: the exact name, else the one name equal but for case.
std::optional<uint32_t> FindModel(const std::string& name);
// The catalogue models whose names are near a mistyped one ("RP20" -> "RP200, RP200-AIO, ..."),
// or "" when none is.
std::string NearModels(const std::string& name);
// The model of the run: --model wins over --image's file name, which wins over the embedded
// image's file name. Returns false with a reason when the name is no catalogue model.
bool ResolveModel(const CliOptions& options, const std::string& embeddedFile, uint32_t* row,
                  std::string* error);

}  // namespace plccli
