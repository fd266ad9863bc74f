// The names under which requests go out, told to whoever watches the link (a front end's trace),
// so that it need not recognise the requests by their bytes.
#include <mutex>

#include "link/link.h"

namespace {

std::mutex gNamerMutex;
RequestNamer gNamer;

}  // namespace

void SetRequestNamer(RequestNamer namer) {
    std::lock_guard<std::mutex> lock(gNamerMutex);
    gNamer = std::move(namer);
}

void NameRequests(const char* name) {
    std::lock_guard<std::mutex> lock(gNamerMutex);
    if (gNamer) gNamer(name);
}
