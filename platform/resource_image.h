// The embedded firmware image behind FindResourceA(NULL, MAKEINTRESOURCEA(8), "BIN") on POSIX.
// Programs that link the fwimage library carry the image; tests may put another image in its
// place (or none, to play a missing resource).
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// The image the resource calls hand out; nullptr with size 0 plays a missing resource.
void SetResourceImage(const uint8_t* data, size_t size);
// Back to the image linked into the executable (if any).
void UseEmbeddedResourceImage();
// Number of loaded-but-not-freed resources (leak checks).
int LoadedResourceCount();
// The embedded image itself, or nullptr when this executable carries none.
const uint8_t* EmbeddedImage(size_t* size);

}  // namespace platform
