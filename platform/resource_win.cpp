// --image on Windows: the file's bytes stand behind the resource calls of the embedded image,
// as the platform layer does on POSIX. The engine calls FindResourceA, LoadResource,
// LockResource, SizeofResource and FreeResource through their import slots; this program fills
// them with calls that hand out the file's image when there is one, and the executable's own
// resource otherwise.
// Windows only; the static checks that run natively see an empty unit.
#ifdef _WIN32

#include <windows.h>

#include <atomic>

#include "platform/link_calls_win.h"
#include "platform/resource_image.h"
#include "resource/resource.h"

namespace {

std::atomic<const uint8_t*> gFileImage{nullptr};
std::atomic<size_t> gFileImageBytes{0};
std::atomic<int> gLoaded{0};
// The one resource of a file image: its address stands for its HRSRC and its HGLOBAL.
char gFileResourceToken;

HRSRC FileResource() {
    return reinterpret_cast<HRSRC>(&gFileResourceToken);
}

bool IsImageRequest(HMODULE module, LPCSTR name, LPCSTR type) {
    return module == nullptr && IS_INTRESOURCE(name) &&
           reinterpret_cast<uintptr_t>(name) == PLCFW_BIN && !IS_INTRESOURCE(type) &&
           lstrcmpA(type, "BIN") == 0;
}

HRSRC WINAPI ImageFindResource(HMODULE module, LPCSTR name, LPCSTR type) {
    if (gFileImage.load() != nullptr && IsImageRequest(module, name, type)) return FileResource();
    auto real = platform::RealKernel32().findResourceA;
    return real(module, name, type);
}

HGLOBAL WINAPI ImageLoadResource(HMODULE module, HRSRC resource) {
    if (resource == FileResource()) {
        ++gLoaded;
        return reinterpret_cast<HGLOBAL>(resource);
    }
    auto real = platform::RealKernel32().loadResource;
    return real(module, resource);
}

LPVOID WINAPI ImageLockResource(HGLOBAL data) {
    if (data == reinterpret_cast<HGLOBAL>(FileResource()))
        return const_cast<uint8_t*>(gFileImage.load());
    auto real = platform::RealKernel32().lockResource;
    return real(data);
}

DWORD WINAPI ImageSizeofResource(HMODULE module, HRSRC resource) {
    if (resource == FileResource()) return static_cast<DWORD>(gFileImageBytes.load());
    auto real = platform::RealKernel32().sizeofResource;
    return real(module, resource);
}

BOOL WINAPI ImageFreeResource(HGLOBAL data) {
    if (data == reinterpret_cast<HGLOBAL>(FileResource())) {
        --gLoaded;
        return TRUE;
    }
    auto real = platform::RealKernel32().freeResource;
    return real(data);
}

}  // namespace

extern "C" {
decltype(&FindResourceA) __imp_FindResourceA = &ImageFindResource;
decltype(&LoadResource) __imp_LoadResource = &ImageLoadResource;
decltype(&LockResource) __imp_LockResource = &ImageLockResource;
decltype(&SizeofResource) __imp_SizeofResource = &ImageSizeofResource;
decltype(&FreeResource) __imp_FreeResource = &ImageFreeResource;
}

namespace platform {

void SetResourceImage(const uint8_t* data, size_t size) {
    gFileImageBytes = size;
    gFileImage = data;
}

void UseEmbeddedResourceImage() {
    gFileImage = nullptr;
    gFileImageBytes = 0;
}

int LoadedResourceCount() {
    return gLoaded.load();
}

const uint8_t* EmbeddedImage(size_t* size) {
    auto find = platform::RealKernel32().findResourceA;
    auto load = platform::RealKernel32().loadResource;
    auto lock = platform::RealKernel32().lockResource;
    auto sizeOf = platform::RealKernel32().sizeofResource;
    *size = 0;
    HRSRC resource = find(nullptr, MAKEINTRESOURCEA(PLCFW_BIN), "BIN");
    if (resource == nullptr) return nullptr;
    const auto* data = static_cast<const uint8_t*>(lock(load(nullptr, resource)));
    if (data != nullptr) *size = sizeOf(nullptr, resource);
    return data;
}

}  // namespace platform

#endif  // _WIN32
