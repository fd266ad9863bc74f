// plcfwupdate: the headless front end.
#include <iostream>

#include "cli/program/interrupt.h"
#include "cli/program/output.h"
#include "cli/program/program.h"
#include "cli/run/console.h"
#include "update/update.h"

int main(int argc, char** argv) {
    plccli::KeepStandardStreams();
    std::string why;
    if (!plccli::WatchInterrupts(&plccli::OnInterrupt, &why))
        std::cerr << "plcfwupdate: " << why << "; an interrupt ends the program silently\n";
    std::vector<std::string> args(argv + 1, argv + argc);
    // Its thread starts once the interrupts are watched, with their signals blocked.
    plccli::ProgramOutput& output = plccli::TheProgramOutput();
    plccli::Io io{output.out, output.err, std::cin, plccli::ProgressIsTerminal(),
                    plccli::InputIsTerminal()};
    return plccli::EndProgram(
        plccli::Main(args, PLC_FW_FILE_TEXT, io, plccli::Engine{&StartBurn, &SetLinkOverride}));
}
