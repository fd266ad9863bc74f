// The command line and the model of the run.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "catalogue/catalogue.h"
#include "cli/command/options.h"
#include "cli/station/station.h"
#include "platform/hooks.h"

namespace plccli {

namespace {

// Option          takes a value   where it goes
struct OptionRow {
    const char* name;
    bool hasValue;
    std::optional<std::string> CliOptions::*value;
    bool CliOptions::*flag;
};

const OptionRow OPTIONS[] = {
    {"--port", true, &CliOptions::port, nullptr},
    {"-p", true, &CliOptions::port, nullptr},
    {"--image", true, &CliOptions::image, nullptr},
    {"--model", true, &CliOptions::model, nullptr},
    {"--trace", true, &CliOptions::trace, nullptr},
    {"--record", true, &CliOptions::record, nullptr},
    {"--ports-from", true, &CliOptions::portsFrom, nullptr},
    {"--units", true, &CliOptions::unitsText, nullptr},
    {"--station", false, nullptr, &CliOptions::station},
    {"--trace-data", false, nullptr, &CliOptions::traceData},
    {"--events", false, nullptr, &CliOptions::events},
    {"--yes", false, nullptr, &CliOptions::yes},
    {"-y", false, nullptr, &CliOptions::yes},
    {"--force", false, nullptr, &CliOptions::force},
    {"--list-ports", false, nullptr, &CliOptions::listPorts},
    {"--info", false, nullptr, &CliOptions::info},
    {"--list-models", false, nullptr, &CliOptions::listModels},
    {"--help", false, nullptr, &CliOptions::help},
    {"-h", false, nullptr, &CliOptions::help},
    {"--version", false, nullptr, &CliOptions::version},
    {"-V", false, nullptr, &CliOptions::version},
    {"--quiet", false, nullptr, &CliOptions::quiet},
    {"-q", false, nullptr, &CliOptions::quiet},
    {"--verbose", false, nullptr, &CliOptions::verbose},
    {"-v", false, nullptr, &CliOptions::verbose},
};

const OptionRow* FindOption(const std::string& arg) {
    for (const auto& r : OPTIONS)
        if (arg == r.name) return &r;
    return nullptr;
}

// "--yes" after "--port" is the next option, not a port of that name.
bool IsOption(const std::string& arg) {
    return FindOption(arg.substr(0, arg.find('='))) != nullptr;
}

bool EqualNoCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b)
        if (std::tolower(static_cast<unsigned char>(*a)) !=
            std::tolower(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

}  // namespace

std::string NetworkPortNumberProblem(const std::string& link) {
    std::string scheme = link.substr(0, link.find("://") + 3);
    // The links read the name as this does, so that what passes here also opens.
    platform::NetName name = platform::ParseNetName(link.substr(scheme.size()));
    switch (name.fault) {
        case platform::NetNameFault::None:
            return "";
        case platform::NetNameFault::NoPort:
            return "no port number; write " + scheme + "HOST:PORT";
        case platform::NetNameFault::PortRange:
            return "the port number " + name.portText + " is out of range (1 to 65535)";
        case platform::NetNameFault::Host:
            return "no host name before the port number; write " + scheme +
                   "HOST:PORT (an IPv6 address in brackets: " + scheme + "[::1]:PORT)";
    }
    return "";
}

namespace {

// The most units a station can be told to end after: six digits.
constexpr uint32_t UNITS_MAX = 999999;

// --units N: a whole number from 1 to UNITS_MAX, for a station only; what a station cannot do.
bool CheckStationOptions(CliOptions* options, std::string* error) {
    if (options->unitsText) {
        const std::string& text = *options->unitsText;
        if (text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos ||
            std::stoul(text) == 0) {
            *error = "--units takes a number of PLCs from 1 to " + std::to_string(UNITS_MAX) +
                     ", not '" + text + "'";
            return false;
        }
        options->units = static_cast<uint32_t>(std::stoul(text));
        if (!options->station) {
            *error = "--units ends a station: give --station too";
            return false;
        }
    }
    if (options->station && (options->info || options->trace)) {
        *error = std::string(options->info ? "--info" : "--trace") +
                 " follows one run: not with --station";
        return false;
    }
    return true;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, CliOptions* options, std::string* error) {
    *options = CliOptions{};
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> inlineValue;
        size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
        }
        const OptionRow* row = FindOption(arg);
        if (row == nullptr) {
            std::string nearest = NearOption(arg);
            if (arg.rfind("-", 0) != 0)
                *error = "unexpected argument '" + args[i] + "'";
            else
                *error = "unknown option '" + args[i] + "'" +
                         (nearest.empty() ? "" : "; did you mean " + nearest + "?");
            return false;
        }
        if (!row->hasValue) {
            if (inlineValue) {
                *error = "option " + arg + " takes no value";
                return false;
            }
            options->*(row->flag) = true;
            continue;
        }
        std::string value;
        if (inlineValue) {
            value = *inlineValue;
        } else if (i + 1 < args.size() && !IsOption(args[i + 1])) {
            value = args[++i];
        } else {
            *error = "option " + arg + " needs a value";
            return false;
        }
        if (value.empty()) {
            *error = "option " + arg + " needs a value";
            return false;
        }
        options->*(row->value) = value;
        if (row->value == &CliOptions::port && IsNetworkLinkName(value)) {
            std::string problem = NetworkPortNumberProblem(value);
            if (!problem.empty()) {
                *error = "--port " + value + ": " + problem;
                return false;
            }
        }
        if (row->value == &CliOptions::port) options->ports.push_back(value);
    }
    if (options->traceData && !options->trace) {
        *error = "--trace-data adds the blocks' bytes to a trace: give --trace FILE too";
        return false;
    }
    return CheckStationOptions(options, error);
}

bool IsNetworkLinkName(const std::string& port) {
    for (const char* scheme : {"tcp://", "rfc2217://"})
        if (port.rfind(scheme, 0) == 0 && port.size() > std::strlen(scheme)) return true;
    return false;
}

std::string ModelFromFileName(const std::string& path) {
    // A Windows path separates its parts with either slash.
    size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t underscore = name.find('_');
    return underscore == std::string::npos ? std::string() : name.substr(0, underscore);
}

std::optional<uint32_t> FindModel(const std::string& name) {
    uint32_t row = 0;
    if (LookupPLC(name.c_str(), &row, nullptr)) return row;
    for (uint32_t i = 0; i < PLC_COUNT; ++i)
        if (EqualNoCase(plcList[i], name.c_str())) return i;
    return std::nullopt;
}

namespace {

bool SameLetter(char a, char b) {
    return std::toupper(static_cast<unsigned char>(a)) ==
           std::toupper(static_cast<unsigned char>(b));
}

// Edits (insert, delete, replace, swap of two neighbours) that turn one name into the other,
// case aside.
size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i)
        for (size_t j = 1; j <= b.size(); ++j) {
            bool same = SameLetter(a[i - 1], b[j - 1]);
            d[i][j] =
                std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (same ? 0 : 1)});
            if (i > 1 && j > 1 && SameLetter(a[i - 1], b[j - 2]) && SameLetter(a[i - 2], b[j - 1]))
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

std::string WithoutDashes(const std::string& name) {
    std::string out;
    for (char c : name)
        if (c != '-' && c != '_') out += c;
    return out;
}

}  // namespace

std::string NearOption(const std::string& typed) {
    // What other tools call the option: a run that changes nothing is --info here.
    if (typed == "--dry-run" || typed == "--dryrun") return "--info";
    // Long options only, with at most a third of the name (its dashes aside) mistyped.
    if (typed.rfind("--", 0) != 0 || typed.size() < 4) return "";
    size_t best = std::max<size_t>(1, (typed.size() - 2) / 3) + 1;
    std::string found;
    for (const auto& r : OPTIONS) {
        size_t distance = EditDistance(typed, r.name);
        if (std::strncmp(r.name, "--", 2) == 0 && distance < best) {
            best = distance;
            found = r.name;
        }
    }
    return found;
}

std::string NearModels(const std::string& name) {
    // Compared without their dashes: the models whose names start with the typed one, else the
    // nearest ones, with at most a third of the name mistyped.
    std::string typed = WithoutDashes(name);
    if (typed.size() < 2) return "";
    size_t distance[PLC_COUNT];
    bool anyPrefix = false;
    size_t nearest = std::max<size_t>(1, typed.size() / 3);
    for (uint32_t i = 0; i < PLC_COUNT; ++i) {
        std::string model = WithoutDashes(plcList[i]);
        bool prefix = EditDistance(model.substr(0, typed.size()), typed) == 0;
        anyPrefix = anyPrefix || prefix;
        distance[i] = prefix ? 0 : EditDistance(model, typed);
        if (!prefix) nearest = std::min(nearest, distance[i]);
    }
    std::string found;
    for (uint32_t i = 0; i < PLC_COUNT; ++i)
        if (anyPrefix ? distance[i] == 0 : distance[i] == nearest)
            found += (found.empty() ? "" : ", ") + std::string(plcList[i]);
    return found;
}

bool ResolveModel(const CliOptions& options, const std::string& embeddedFile, uint32_t* row,
                  std::string* error) {
    std::string name;
    std::string source;
    if (options.model) {
        name = *options.model;
        source = "unknown model '" + name + "'";
    } else {
        std::string file = options.image ? *options.image : embeddedFile;
        name = ModelFromFileName(file);
        source = name.empty()
                     ? "the image file name '" + file + "' names no model"
                     : "the image file name '" + file + "' names the unknown model '" + name + "'";
        source += "; name it with --model";
    }
    std::optional<uint32_t> found = name.empty() ? std::nullopt : FindModel(name);
    if (!found) {
        std::string similar = NearModels(name);
        *error = source + (similar.empty() ? "; --list-models lists them"
                                           : "; did you mean " + similar + "?");
        return false;
    }
    *row = *found;
    return true;
}

}  // namespace plccli
