// Writes the deterministic synthetic firmware image: genimage SIZE FILE.
// The bytes come from a fixed xorshift sequence, so every build makes the same image, and no two
// blocks of it are alike (a misplaced block shows up in a comparison).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
    // Installed as plcsim-image: the usage names the program as it was called.
    const char* name =
        std::strrchr(argv[0], '/') != nullptr ? std::strrchr(argv[0], '/') + 1 : argv[0];
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::printf(
            "Usage: %s SIZE FILE\n"
            "Writes a synthetic firmware image of SIZE bytes to FILE, the same bytes on\n"
            "every run. Its file name names the model for plcfwupdate --image:\n"
            "QM2-E_v3.00.bin is an image for QM2-E.\n",
            name);
        return 0;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SIZE FILE (see --help)\n", name);
        return 2;
    }
    char* end = nullptr;
    unsigned long size = std::strtoul(argv[1], &end, 10);
    if (*argv[1] == '\0' || *end != '\0') {
        std::fprintf(stderr, "%s: bad size '%s'\n", name, argv[1]);
        return 2;
    }
    std::vector<unsigned char> image(size);
    uint64_t x = 0x4B6F7276656C2121ull;  // fixed seed
    for (unsigned long i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        image[i] = static_cast<unsigned char>(x >> 32);
    }
    FILE* f = std::fopen(argv[2], "wb");
    if (f == nullptr || std::fwrite(image.data(), 1, image.size(), f) != image.size() ||
        std::fclose(f) != 0) {
        std::fprintf(stderr, "%s: cannot write '%s'\n", name, argv[2]);
        return 1;
    }
    return 0;
}
