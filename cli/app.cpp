// The program: options, model and port, the image and the trace, then one run.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <istream>
#include <iterator>
#include <memory>
#include <ostream>

#include "catalogue/catalogue.h"
#include "cli/cli.h"
#include "device/device.h"
#include "platform/hooks.h"
#include "platform/resource_image.h"
#include "update/update.h"
#include "usb/usb.h"

#ifndef PLC_VERSION_TEXT
#define PLC_VERSION_TEXT "0"
#endif

namespace plccli {

namespace {

const char PROGRAM_NAME[] = "plcfwupdate";
// No model takes more than 2028 KiB; a file far larger is no image of ours and is not read.
const std::streamoff MAX_IMAGE_FILE_BYTES = 64 * 1024 * 1024;

int Usage(Io& io, const std::string& reason) {
    io.err << PROGRAM_NAME << ": " << reason << " (see --help)\n";
    return EXIT_USAGE;
}

// The image file's bytes; they stay behind the resource calls until the program ends.
bool LoadImageFile(const std::string& path, std::vector<uint8_t>* data, std::string* error) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        *error = "cannot read the image file '" + path + "': " + std::strerror(errno);
        return false;
    }
    std::streamoff size = in.tellg();
    if (size <= 0) {
        *error = "the image file '" + path + "' is empty or not a file";
        return false;
    }
    if (size > MAX_IMAGE_FILE_BYTES) {
        *error = "the image file '" + path + "' is far larger than any model takes";
        return false;
    }
    data->resize(static_cast<size_t>(size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(data->data()), size)) {
        *error = "cannot read the image file '" + path + "'";
        return false;
    }
    return true;
}

// Size and SHA-256 of the image built into the program.
std::string EmbeddedImageText() {
    size_t size = 0;
    const uint8_t* data = platform::EmbeddedImage(&size);
    if (data == nullptr) return "not present in this program";
    return std::to_string(size) + " bytes, SHA-256 " + Sha256Hex(data, size);
}

PortList PortsOf(uint32_t row) {
    PortList list{};
    if (ModelIn(row, USB_ATTACHED_MODELS))
        ListUsbPort(&list);
    else
        ListComPorts(&list);
    return list;
}

// The link of the run, chosen as the window chooses it, or as --port names it.
void ChoosePort(const CliOptions& options, uint32_t row, Engine& engine) {
    bool usb = ModelIn(row, USB_ATTACHED_MODELS);
    PortList ports = PortsOf(row);
    engine.setLinkOverride(nullptr);
    SetSelectedComPort(ports.count > 0 ? ports.names[0] : "");
    if (!options.port) return;
    const std::string& port = *options.port;
    bool isName = port.find('/') == std::string::npos && port.size() < PORT_NAME_BYTES;
    if (isName && !usb) {
        SetSelectedComPort(port.c_str());
        return;
    }
    engine.setLinkOverride(port.c_str());
    if (!usb) {
        // The messages name the port; a path is named by its last part where that fits.
        std::string last = port.substr(port.find_last_of('/') + 1);
        SetSelectedComPort(last.size() < PORT_NAME_BYTES ? last.c_str() : "");
    }
}

// The ports of the model's link, one a line; the USB entry with where the device is.
int ListPorts(Io& io, uint32_t row) {
    PortList ports = PortsOf(row);
    bool usb = ModelIn(row, USB_ATTACHED_MODELS);
    for (int i = 0; i < ports.count; ++i) {
        io.out << ports.names[i];
        std::string path;
        if (usb && FindUsbDevicePath(&path))
            io.out << '\t' << path;
        else if (usb)
            io.out << "\tabsent: no USB device with " << USB_MATCH_TEXT
                   << " is present; plug in the PLC's USB cable";
        io.out << '\n';
    }
    if (ports.count == 0) io.err << PROGRAM_NAME << ": no serial port found\n";
    return EXIT_SUCCESSFUL;
}

std::string LinkDescription(const CliOptions& options, uint32_t row) {
    if (options.port) return *options.port;
    if (ModelIn(row, USB_ATTACHED_MODELS)) return "the PLC's USB device";
    char port[PORT_NAME_BYTES];
    GetSelectedComPort(port);
    return *port != '\0' ? port : "none found";
}

}  // namespace

void OnInterrupt(int exitStatus) {
    CliFrontEnd* frontEnd = CliFrontEnd::Active();
    if (frontEnd != nullptr) frontEnd->Interrupt(exitStatus);
    std::cout.flush();
    std::cerr.flush();
    std::_Exit(exitStatus);
}

int Main(const std::vector<std::string>& args, const std::string& embeddedFile, Io io,
         Engine engine) {
    CliOptions options;
    std::string error;
    if (!ParseOptions(args, &options, &error)) return Usage(io, error);
    if (options.help) {
        io.out << UsageText();
        return EXIT_SUCCESSFUL;
    }
    if (options.version) {
        io.out << PROGRAM_NAME << ' ' << PLC_VERSION_TEXT << '\n'
               << "embedded image: " << embeddedFile << ", " << EmbeddedImageText() << '\n';
        return EXIT_SUCCESSFUL;
    }
    uint32_t row = 0;
    if (!ResolveModel(options, embeddedFile, &row, &error)) return Usage(io, error);
    if (options.listPorts) return ListPorts(io, row);

    static std::vector<uint8_t> image;
    if (options.image) {
        if (!LoadImageFile(*options.image, &image, &error)) return Usage(io, error);
        platform::SetResourceImage(image.data(), image.size());
    } else {
        platform::UseEmbeddedResourceImage();
    }
    std::unique_ptr<std::ofstream> trace;
    if (options.trace) {
        trace = std::make_unique<std::ofstream>(*options.trace, std::ios::trunc);
        if (!*trace)
            return Usage(io, "cannot write the trace file '" + *options.trace +
                                 "': " + std::strerror(errno));
        auto base = std::make_shared<std::optional<uint64_t>>();
        std::ofstream* file = trace.get();
        platform::SetLinkTrace([file, base](platform::TraceDir dir, const uint8_t* data, size_t len,
                                            uint32_t requested, uint64_t ms) {
            if (!*base) *base = ms;
            *file << FormatTraceLine(dir == platform::TraceDir::Write, data, len, requested, ms,
                                     **base)
                  << '\n';
        });
    }

    // A mistyped --port must not get protocol frames written into a file.
    if (options.port && !CheckPortName(*options.port, &error)) {
        io.out << MessageLine(CAPTION_ERROR, LinkOpenFailureMessage(options.port->c_str()).c_str())
               << '\n'
               << PROGRAM_NAME << ": " << error << '\n';
        return EXIT_FAILED;
    }

    SelectPLC(row);
    ChoosePort(options, row, engine);
    io.out << PROGRAM_NAME << ": " << plcList[row] << ", image "
           << (options.image ? *options.image : embeddedFile) << ", link "
           << LinkDescription(options, row) << '\n';

    FrontEndConfig config;
    config.terminal = io.terminal;
    config.yes = options.yes;
    CliFrontEnd frontEnd(io.out, io.in, config);
    int status = frontEnd.Run(engine.startBurn);
    if (trace) {
        platform::SetLinkTrace(nullptr);
        trace->flush();
    }
    return status;
}

}  // namespace plccli
