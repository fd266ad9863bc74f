// What the bench window asks of the console program, and what it remembers: the image it
// carries, the ports it finds, the command line of one port's worker.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plcbench {

// The console program next to the window.
const char CONSOLE_PROGRAM[] = "plcfwupdate-cli.exe";

struct ImageInfo {
    std::string file;
    uint64_t bytes = 0;
    std::string sha256;
    std::string model;  // the text before the file name's first "_"
};
// From the output of `plcfwupdate-cli.exe --version` ("embedded image: FILE, N bytes, SHA-256
// HEX"); false when it names no image.
bool ParseVersion(const std::string& output, ImageInfo* info);
// "QM2-E_v1.0.0_20231115_01.bin, 65536 bytes, SHA-256 0a1b2c3d4e5f, model QM2-E".
std::string ImageText(const ImageInfo& info);

// The ports that `plcfwupdate-cli.exe --list-ports` names, in its order: each line's first word;
// "USB" left out when USB PLCs are listed by their usb: ports.
std::vector<std::string> ParseListedPorts(const std::string& output);
// Ports typed or remembered: names separated by spaces, commas or semicolons, each once.
std::vector<std::string> SplitPorts(const std::string& text);
std::string JoinPorts(const std::vector<std::string>& ports);

// The worker of one port: a station with events, consent given, its record in recordFile
// (none when empty), as one Windows command line.
std::vector<std::string> WorkerArguments(const std::string& program, const std::string& port,
                                         const std::string& recordFile);
std::string WorkerCommandLine(const std::string& program, const std::string& port,
                              const std::string& recordFile);

}  // namespace plcbench
