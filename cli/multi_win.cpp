// Several ports at once is for POSIX systems only; on Windows one port a run.
#include <ostream>

#include "cli/cli.h"

namespace plccli {

bool ForwardToWorkers(int) {
    return false;
}

int RunMany(Io& io, const std::vector<std::string>&, const std::vector<std::string>&) {
    io.err << "plcfwupdate: several ports in one command are not supported on Windows; run one "
              "command a port (see --help)\n";
    return EXIT_USAGE;
}

}  // namespace plccli
