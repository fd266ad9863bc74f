// A line redrawn in place on a terminal, and how much of a terminal's controls the program uses.
//   - TerminalTakesControls: whether escape sequences may be written (not on TERM=dumb)
//   - ColourWanted: whether a result may be coloured
//   - Redrawn / Cleared: the text that draws a line over the one drawn before, or clears it
#pragma once

#include <cstddef>
#include <string>

namespace plccli {

// False when TERM is "dumb": such a terminal prints an escape sequence as text.
bool TerminalTakesControls();
// On a terminal that takes controls, unless NO_COLOR is set to anything but "".
bool ColourWanted(bool terminal);

// "\r", the line, and what wipes the rest of the previous drawing: the clear-to-end control, or
// without controls spaces over what is left of it. *drawnChars: the previous drawing's length,
// then this one's.
std::string Redrawn(const std::string& line, size_t* drawnChars, bool controls);
// The previous drawing wiped, the cursor back at the line's start.
std::string Cleared(size_t* drawnChars, bool controls);

}  // namespace plccli
