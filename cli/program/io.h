// The streams the program reads and writes.
#pragma once

#include <iosfwd>

namespace plccli {

struct Io {
    std::ostream& out;
    std::ostream& err;
    std::istream& in;
    bool terminal;  // err is a terminal
    bool inputTerminal = false;  // in is a terminal: an operator can answer there
};

}  // namespace plccli
