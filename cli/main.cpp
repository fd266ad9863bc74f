// plcfwupdate: the headless front end.
#include <iostream>

#include "cli/cli.h"
#include "update/update.h"

int main(int argc, char** argv) {
    plccli::KeepStandardStreams();
    std::string why;
    if (!plccli::WatchInterrupts(&plccli::OnInterrupt, &why))
        std::cerr << "plcfwupdate: " << why << "; an interrupt ends the program silently\n";
    std::vector<std::string> args(argv + 1, argv + argc);
    plccli::Io io{std::cout, std::cerr, std::cin, plccli::ProgressIsTerminal()};
    return plccli::Main(args, PLC_FW_FILE_TEXT, io, plccli::Engine{&StartBurn, &SetLinkOverride});
}
