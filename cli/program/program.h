// The whole program, with the engine's entry points passed in.
#pragma once

#include <string>
#include <vector>

#include "cli/program/io.h"

namespace plccli {

// The engine's entry points that the program calls.
struct Engine {
    void (*startBurn)(void*);
    void (*setLinkOverride)(const char*);
};

// The program: arguments after the program name, the embedded image's file name.
int Main(const std::vector<std::string>& args, const std::string& embeddedFile, Io io,
         Engine engine);

}  // namespace plccli
