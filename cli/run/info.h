// --info: who the PLC is and what a run of the selected image would decide about it.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

namespace plccli {

class CliFrontEnd;

// --info: a check-only run of the worker on the front end, the values it did not read, and
// what the PLC is and what a run would decide, printed to out. Exit 0 when the PLC answered.
int RunInfo(std::ostream& out, CliFrontEnd& frontEnd, void (*startBurn)(void*));
// The catalogue models that report a model id.
std::string ModelsWithId(int32_t id);

}  // namespace plccli
