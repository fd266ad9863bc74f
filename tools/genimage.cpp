// Writes the deterministic synthetic firmware image: genimage SIZE FILE.
// The bytes come from a fixed xorshift sequence, so every build makes the same image, and no two
// blocks of it are alike (a misplaced block shows up in a comparison).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: genimage SIZE FILE\n");
        return 2;
    }
    char* end = nullptr;
    unsigned long size = std::strtoul(argv[1], &end, 10);
    if (*argv[1] == '\0' || *end != '\0') {
        std::fprintf(stderr, "genimage: bad size '%s'\n", argv[1]);
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
        std::fprintf(stderr, "genimage: cannot write '%s'\n", argv[2]);
        return 1;
    }
    return 0;
}
