// The resource calls over the firmware image embedded in the executable.
#include <atomic>
#include <cstring>
#include <mutex>

#include "platform/platform.h"
#include "platform/resource_image.h"

// Defined by the fwimage object when the executable carries an image; weak, so a program
// without it links and simply has no image resource.
extern "C" const unsigned char plcfw_image_begin[] __attribute__((weak));
extern "C" const unsigned char plcfw_image_end[] __attribute__((weak));

namespace platform {

namespace {

constexpr uintptr_t kImageId = 8;  // PLCFW_BIN

struct ImageResource {
    const uint8_t* data;
    size_t size;
};

std::mutex gImageMutex;
bool gOverride = false;
ImageResource gOverrideImage{nullptr, 0};
ImageResource gFound{nullptr, 0};  // what FindResourceA handed out last
std::atomic<int> gLoaded{0};

ImageResource CurrentImage() {
    if (gOverride) return gOverrideImage;
    size_t size = 0;
    const uint8_t* data = EmbeddedImage(&size);
    return {data, size};
}

}  // namespace

const uint8_t* EmbeddedImage(size_t* size) {
    if (plcfw_image_begin == nullptr || plcfw_image_end == nullptr) {
        *size = 0;
        return nullptr;
    }
    // Two symbols around one blob: their distance is the image length.
    *size = reinterpret_cast<uintptr_t>(plcfw_image_end) -
            reinterpret_cast<uintptr_t>(plcfw_image_begin);
    return plcfw_image_begin;
}

void SetResourceImage(const uint8_t* data, size_t size) {
    std::lock_guard<std::mutex> lock(gImageMutex);
    gOverride = true;
    gOverrideImage = {data, size};
}

void UseEmbeddedResourceImage() {
    std::lock_guard<std::mutex> lock(gImageMutex);
    gOverride = false;
}

int LoadedResourceCount() {
    return gLoaded.load();
}

}  // namespace platform

HRSRC FindResourceA(HMODULE, LPCSTR name, LPCSTR type) {
    if (reinterpret_cast<uintptr_t>(name) != platform::kImageId || type == nullptr ||
        reinterpret_cast<uintptr_t>(type) < 0x10000 || std::strcmp(type, "BIN") != 0)
        return nullptr;
    std::lock_guard<std::mutex> lock(platform::gImageMutex);
    platform::ImageResource image = platform::CurrentImage();
    if (image.data == nullptr) return nullptr;
    platform::gFound = image;
    return reinterpret_cast<HRSRC>(&platform::gFound);
}

HGLOBAL LoadResource(HMODULE, HRSRC res) {
    if (res == nullptr) return nullptr;
    ++platform::gLoaded;
    return res;
}

LPVOID LockResource(HGLOBAL res) {
    if (res == nullptr) return nullptr;
    auto* image = static_cast<platform::ImageResource*>(res);
    return const_cast<uint8_t*>(image->data);
}

DWORD SizeofResource(HMODULE, HRSRC res) {
    if (res == nullptr) return 0;
    return static_cast<DWORD>(reinterpret_cast<platform::ImageResource*>(res)->size);
}

BOOL FreeResource(HGLOBAL res) {
    if (res != nullptr) --platform::gLoaded;
    return FALSE;
}
