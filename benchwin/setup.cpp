// The bench's setup from the console program's own answers, and each worker's command line.
#include "benchwin/setup.h"

#include <cstdlib>

#include "cli/multi/processes.h"

namespace plcbench {

namespace {

const char IMAGE_PREFIX[] = "embedded image: ";
const char BYTES_MARK[] = " bytes, SHA-256 ";
const size_t SHA256_SHOWN = 12;

}  // namespace

bool ParseVersion(const std::string& output, ImageInfo* info) {
    size_t at = output.find(IMAGE_PREFIX);
    if (at == std::string::npos) return false;
    at += sizeof IMAGE_PREFIX - 1;
    size_t end = output.find_first_of("\r\n", at);
    std::string line = output.substr(at, end == std::string::npos ? std::string::npos : end - at);
    // The file name may hold ", ": the size is after its last one.
    size_t comma = line.rfind(", ", line.find(BYTES_MARK));
    size_t mark = line.find(BYTES_MARK);
    if (comma == std::string::npos || mark == std::string::npos || mark < comma) return false;
    std::string bytes = line.substr(comma + 2, mark - comma - 2);
    char* stop = nullptr;
    unsigned long long n = std::strtoull(bytes.c_str(), &stop, 10);
    if (bytes.empty() || *stop != '\0') return false;
    info->file = line.substr(0, comma);
    info->bytes = n;
    info->sha256 = line.substr(mark + sizeof BYTES_MARK - 1);
    info->model = info->file.substr(0, info->file.find('_'));
    return !info->file.empty() && info->sha256.size() == 64;
}

std::string ImageText(const ImageInfo& info) {
    return info.file + ", " + std::to_string(info.bytes) + " bytes, SHA-256 " +
           info.sha256.substr(0, SHA256_SHOWN) + ", model " + info.model;
}

std::vector<std::string> ParseListedPorts(const std::string& output) {
    std::vector<std::string> ports;
    size_t at = 0;
    while (at < output.size()) {
        size_t end = output.find('\n', at);
        if (end == std::string::npos) end = output.size();
        std::string line = output.substr(at, end - at);
        std::string name = line.substr(0, line.find_first_of("\t \r"));
        if (!name.empty()) ports.push_back(name);
        at = end + 1;
    }
    // USB PLCs are named by where they hang: "USB", the one-PLC name, would be the same PLC as
    // one of them.
    bool located = false;
    for (const auto& p : ports) located = located || p.rfind("usb:", 0) == 0;
    if (located) std::erase(ports, std::string("USB"));
    return ports;
}

std::vector<std::string> SplitPorts(const std::string& text) {
    std::vector<std::string> ports;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find_first_of(" \t\r\n,;", at);
        if (end == std::string::npos) end = text.size();
        std::string name = text.substr(at, end - at);
        bool known = false;
        for (const auto& p : ports) known = known || p == name;
        if (!name.empty() && !known) ports.push_back(name);
        at = end + 1;
    }
    return ports;
}

std::string JoinPorts(const std::vector<std::string>& ports) {
    std::string text;
    for (const auto& p : ports) text += (text.empty() ? "" : ";") + p;
    return text;
}

std::vector<std::string> WorkerArguments(const std::string& program, const std::string& port,
                                         const std::string& recordFile) {
    std::vector<std::string> args{program, "--station", "--port", port, "--events", "--yes"};
    if (!recordFile.empty()) args.insert(args.end(), {"--record", recordFile});
    return args;
}

std::string WorkerCommandLine(const std::string& program, const std::string& port,
                              const std::string& recordFile) {
    return plccli::WindowsCommandLine(WorkerArguments(program, port, recordFile));
}

}  // namespace plcbench
