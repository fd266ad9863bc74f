// plcfwupdate: the headless front end.
#include <unistd.h>

#include <iostream>

#include "cli/cli.h"
#include "update/update.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    plccli::Io io{std::cout, std::cerr, std::cin, isatty(STDOUT_FILENO) == 1};
    return plccli::Main(args, PLC_FW_FILE_TEXT, io, plccli::Engine{&StartBurn, &SetLinkOverride});
}
