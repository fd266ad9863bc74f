// --help: one text for each option and one list of exit statuses, wrapped to fit an
// 80-column terminal.
#include <string>
#include <vector>

#include "cli/command/options.h"
#include "cli/station/station.h"

namespace plccli {

namespace {

// The columns --help fills, so that it fits an 80-column terminal.
constexpr size_t HELP_COLUMNS = 79;
constexpr size_t HELP_TEXT_COLUMN = 20;

// Option heads  what each does: the one text --help shows for each option.
struct OptionHelp {
    const char* head;
    std::string text;
};

std::vector<OptionHelp> OptionHelps() {
    return {
#ifdef _WIN32
        {"-p, --port NAME|PATH", "the link: a serial port by name (COM3, COM10), "
#else
        {"-p, --port NAME|PATH", "the link: a serial port by name (ttyUSB0, ttyACM0, ttyS0), "
#endif
                                 "the path of a terminal device (a pseudo-terminal), or "
                                 "tcp://HOST:PORT or rfc2217://HOST:PORT; for a USB-attached "
                                 "model the link to use instead of the PLC's USB device (USB: "
                                 "that device), or usb:LOCATION: the PLC plugged into that USB "
                                 "port, found there again after its replug (see --list-ports). "
                                 "Default: the PLC's USB device when one is present (several: "
                                 "name one), or the only serial port present"},
        {"--image FILE", "write this image instead of the embedded one; its file name names "
                         "the model (the text before the first \"_\")"},
        {"--model NAME", "the PLC model (wins over the image's file name)"},
        {"-y, --yes", "update without asking, and answer the replug and power-cycle prompts "
                      "without waiting. Without it, once the PLC has answered and passed its "
                      "checks and before anything changes it, a terminal is asked \"Update "
                      "this PLC? [y/N]\" (only y or yes goes on), and a run without a "
                      "terminal stops there; both with exit status 2, the PLC unchanged. An "
                      "input that ends at a prompt (Ctrl-D, /dev/null) stops the run there, "
                      "before the erase, with exit status 2"},
        {"--force", "write an image that does not look like a binary image (shorter than one "
                    "block, or Intel HEX or S-record text)"},
        {"--list-ports", "list the ports of the model, one a line, and exit; each "
                         "USB-attached PLC present as usb:LOCATION and its device"},
        {"--list-models", "list the models of the catalogue with their ids, links and largest "
                          "images, and exit"},
        {"--info", "identify the PLC and tell whether the image would pass its checks, "
                   "changing nothing and asking nothing; exit 0 when the update would go "
                   "ahead, 4 when it would stop, 1 when the PLC did not answer"},
        {"--trace FILE", "write what passed on the link to FILE for support: a header "
                         "(version, time, port, model, image and its SHA-256), then each "
                         "read, write and link event with its time, one line per block"},
        {"--trace-data", "keep the bytes of every block in the --trace file as well"},
        {"--record FILE", "append one JSON line about the run to FILE: time, version, port, "
                          "model, image and its SHA-256, what the PLC reported, blocks, "
                          "errors, the final message, exit status and duration"},
        {"--ports-from FILE", "the ports to update at once, one a line ('#' starts a "
                              "comment); with --port given more than once, each PLC is "
                              "updated at once by a process of its own, then a table tells "
                              "how each ended (needs --yes; exit 0 only when every port "
                              "succeeded). A line that is no port name (an option, a control "
                              "character) and a PLC named twice (a link and its device too) "
                              "are refused with exit 2"},
        {"--events", "print the run as JSON lines on the standard output: start, phase, "
                     "progress, prompt and outcome (with several ports each line has a "
                     "\"port\" field, every port ends with an outcome, and nothing else is "
                     "printed: no table)"},
        {"-q, --quiet", "no status line: only the messages of the run (several ports: only "
                        "the table)"},
        {"--station", "a station (needs --yes): wait until a PLC answers on the port, update "
                      "it as a run does, wait until it has gone (unplugged: its USB device "
                      "absent at " +
                          std::to_string(STATION_ABSENT_GONE_LOOKS) +
                          " looks in a row, or its line silent for " +
                          std::to_string(STATION_GONE_SILENCE_MS) + " ms over " +
                          std::to_string(STATION_GONE_LOOKS) +
                          " looks or more), and again for the next; a PLC still there after "
                          "its update is not written again; a result line per PLC, a tally "
                          "at the end or on Ctrl-C (exit 0 when every PLC succeeded, 1 when "
                          "any failed)"},
        {"--units N", "end the station after N PLCs"},
        {"-v, --verbose", "each step of the run as it begins, and after the run what the PLC "
                          "reported (on the standard error)"},
        {"-h, --help", "show this text and exit"},
        {"-V, --version", "show the version and the embedded image, and exit"},
    };
}

// Status    when the program ends with it
const char* const EXIT_STATUS_TEXTS[][2] = {
    {"0", "the update succeeded (--info: it would go ahead)"},
    {"1", "it failed (an image or port that cannot be used too; --info: the PLC did not "
          "answer)"},
    {"2", "a usage error, or the run stopped before changing the PLC: no y to the question, "
          "no --yes without a terminal, the input's end at a prompt"},
    {"3", "it succeeded but its --record line or --trace could not be written whole"},
    {"4", "--info finds that the update would stop"},
    {"129", "ended by a hangup (SIGHUP)"},
    {"130", "ended by Ctrl-C (SIGINT)"},
    {"131", "ended by SIGQUIT"},
    {"138", "ended by SIGUSR1"},
    {"140", "ended by SIGUSR2"},
    {"142", "ended by SIGALRM"},
    {"143", "ended by SIGTERM (Windows: the console closed)"},
};

// text wrapped at word boundaries to HELP_COLUMNS, each line after the first indented by
// indent; the first line starts at column first.
std::string Wrapped(const std::string& text, size_t first, size_t indent) {
    std::string out;
    size_t column = first;
    bool lineEmpty = true;
    for (size_t at = 0; at < text.size();) {
        size_t end = std::min(text.find(' ', at), text.size());
        std::string word = text.substr(at, end - at);
        at = end + 1;
        if (!lineEmpty && column + 1 + word.size() > HELP_COLUMNS) {
            out += '\n' + std::string(indent, ' ');
            column = indent;
            lineEmpty = true;
        }
        if (!lineEmpty) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        lineEmpty = false;
    }
    return out + '\n';
}

std::string Row(const std::string& head, const std::string& text, size_t textColumn) {
    std::string line = "  " + head;
    if (line.size() + 2 > textColumn) return line + '\n' + std::string(textColumn, ' ') +
                                             Wrapped(text, textColumn, textColumn);
    line.resize(textColumn, ' ');
    return line + Wrapped(text, textColumn, textColumn);
}

}  // namespace

std::string UsageText() {
    std::string text =
        "Usage: plcfwupdate [OPTION]...\n"
        "Writes the firmware image into the PLC, as the window's \"Start Burn\" does.\n"
        "\n";
    for (const auto& option : OptionHelps())
        text += Row(option.head, option.text, HELP_TEXT_COLUMN);
    text += "\n";
    text += Wrapped("The status line, the prompts and the question go to the standard error, "
                    "the results to the standard output. No colour with NO_COLOR set, no "
                    "escape sequence at all with TERM=dumb or into a file or a pipe.",
                    0, 0);
    text += Wrapped("On Windows (plcfwupdate-cli.exe) a serial port is named as Windows names "
                    "it (COM3); several ports at once work as described, Ctrl-C included.",
                    0, 0);
    text += "\nExit status:\n";
    for (const auto& status : EXIT_STATUS_TEXTS) text += Row(status[0], status[1], 8);
    return text;
}

}  // namespace plccli
