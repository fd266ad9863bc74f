// Whether an image file can be the binary image of a model at all: technicians keep the Intel
// HEX and S-record files of a firmware next to its binary, and a file shorter than one block is
// no firmware of any model.
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "catalogue/catalogue.h"
#include "cli/command/image_check.h"

namespace plccli {

namespace {

// Text records: a lead character, then hex digits up to the line's end, every line alike.
bool IsRecordText(const uint8_t* data, size_t size, bool (*leads)(const uint8_t* line, size_t n)) {
    size_t at = 0;
    bool any = false;
    while (at < size) {
        size_t end = at;
        while (end < size && data[end] != '\n') ++end;
        size_t n = end - at;
        if (n > 0 && data[at + n - 1] == '\r') --n;
        if (n > 0) {
            if (!leads(data + at, n)) return false;
            for (size_t i = 2; i < n; ++i)
                if (std::isxdigit(data[at + i]) == 0) return false;
            any = true;
        }
        at = end + 1;
    }
    return any;
}

bool IntelHexLead(const uint8_t* line, size_t n) {
    return n >= 11 && line[0] == ':' && std::isxdigit(line[1]) != 0;
}

bool SRecordLead(const uint8_t* line, size_t n) {
    return n >= 10 && line[0] == 'S' && std::isdigit(line[1]) != 0;
}

}  // namespace

std::string ImageFileProblem(const std::string& path) {
    std::error_code failed;
    std::filesystem::file_status status = std::filesystem::status(path, failed);
    if (status.type() == std::filesystem::file_type::not_found) return "no such file";
    if (failed) return failed.message();
    if (std::filesystem::is_directory(status)) return "a directory, not a file";
    if (!std::filesystem::is_regular_file(status)) return "";
    errno = 0;
    std::ifstream file(path, std::ios::binary);
    if (!file) return errno != 0 ? std::strerror(errno) : "it cannot be opened";
    return "";
}

std::string ImageDoubt(const uint8_t* data, size_t size, uint32_t row) {
    if (IsRecordText(data, size, IntelHexLead))
        return "an Intel HEX text file, not the binary image; use the .bin file of the firmware";
    if (IsRecordText(data, size, SRecordLead))
        return "an S-record text file, not the binary image; use the .bin file of the firmware";
    uint32_t block = BlockDataBytes(row);
    if (size < block)
        return std::to_string(size) + " bytes, shorter than one block (" + std::to_string(block) +
               " bytes) of " + plcList[row] + ": no firmware image";
    return "";
}

}  // namespace plccli
