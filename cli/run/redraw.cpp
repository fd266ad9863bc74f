// A line redrawn in place on a terminal: with the clear-to-end control, or on a dumb terminal
// with \r and spaces.
#include "cli/run/redraw.h"

#include <cstdlib>
#include <cstring>

namespace plccli {

namespace {

const char CLEAR_TO_LINE_END[] = "\033[K";

}  // namespace

bool TerminalTakesControls() {
    const char* term = std::getenv("TERM");
    return term == nullptr || std::strcmp(term, "dumb") != 0;
}

bool ColourWanted(bool terminal) {
    const char* noColour = std::getenv("NO_COLOR");
    return terminal && TerminalTakesControls() && (noColour == nullptr || *noColour == '\0');
}

std::string Redrawn(const std::string& line, size_t* drawnChars, bool controls) {
    std::string text = "\r" + line;
    if (controls)
        text += CLEAR_TO_LINE_END;
    else if (*drawnChars > line.size())
        text.append(*drawnChars - line.size(), ' ');
    *drawnChars = line.size();
    return text;
}

std::string Cleared(size_t* drawnChars, bool controls) {
    std::string text = "\r";
    if (controls)
        text += CLEAR_TO_LINE_END;
    else if (*drawnChars > 0)
        text += std::string(*drawnChars, ' ') + "\r";
    *drawnChars = 0;
    return text;
}

}  // namespace plccli
