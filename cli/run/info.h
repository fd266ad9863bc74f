// --info: who the PLC is and what a run of the selected image would decide about it.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

namespace plccli {

class CliFrontEnd;

// --info: a check-only run of the worker on the front end, the values it did not read, and
// what the PLC is and what a run would decide, printed to out. Exit 0 when the update would go
// ahead, EXIT_WOULD_STOP when it would stop (the image's size too), 1 when the PLC did not answer.
// imageBytes is the image file's own size, which the run is not given whole when it is too large.
int RunInfo(std::ostream& out, CliFrontEnd& frontEnd, void (*startBurn)(void*),
            uint64_t imageBytes);
// The catalogue models that report a model id.
std::string ModelsWithId(int32_t id);

}  // namespace plccli
