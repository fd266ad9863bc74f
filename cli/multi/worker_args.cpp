// The arguments of one port's process: this program's own, without the ports, and on Windows as
// one command line.
#include "cli/multi/processes.h"

namespace plccli {

std::vector<std::string> WorkerArgs(const std::vector<std::string>& args, const std::string& port) {
    std::vector<std::string> out;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool takesNext = a == "--port" || a == "--ports-from";
        if (takesNext) {
            ++i;
            continue;
        }
        if (a.rfind("--port=", 0) == 0 || a.rfind("--ports-from=", 0) == 0 || a == "--events")
            continue;
        out.push_back(a);
    }
    out.insert(out.end(), {"--port", port, "--events"});
    return out;
}

std::string WindowsCommandLine(const std::vector<std::string>& argv) {
    std::string line;
    for (const auto& arg : argv) {
        if (!line.empty()) line += ' ';
        if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
            line += arg;
            continue;
        }
        line += '"';
        size_t backslashes = 0;
        for (char c : arg) {
            if (c == '\\') {
                ++backslashes;
                continue;
            }
            // Backslashes before a quote are doubled, and the quote escaped.
            line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
            backslashes = 0;
            line += c;
        }
        // Before the closing quote, too.
        line.append(2 * backslashes, '\\');
        line += '"';
    }
    return line;
}

}  // namespace plccli
