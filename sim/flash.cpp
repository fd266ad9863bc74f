#include "sim/flash.h"

#include <algorithm>
#include <cstring>

namespace plcsim {

void Flash::Grow(uint32_t end) {
    if (bytes_.size() < end) {
        bytes_.resize(end, OLD_CONTENT);
        programmed_.resize(end, 0);
    }
}

bool Flash::ErasePage(uint32_t page, std::string* error) {
    uint64_t start = static_cast<uint64_t>(page) * pageBytes_;
    if (start + pageBytes_ > CAPACITY_BYTES) {
        if (error) *error = "erase of page " + std::to_string(page) + " beyond the flash";
        return false;
    }
    uint32_t s = static_cast<uint32_t>(start);
    Grow(s + pageBytes_);
    std::fill(bytes_.begin() + s, bytes_.begin() + s + pageBytes_, ERASED);
    std::fill(programmed_.begin() + s, programmed_.begin() + s + pageBytes_, 0);
    if (erased_.size() <= page) erased_.resize(page + 1, false);
    erased_[page] = true;
    return true;
}

bool Flash::Program(uint32_t offset, const uint8_t* data, uint32_t len, std::string* error) {
    uint64_t end = static_cast<uint64_t>(offset) + len;
    if (end > CAPACITY_BYTES) {
        if (error) *error = "block at " + std::to_string(offset) + " beyond the flash";
        return false;
    }
    Grow(static_cast<uint32_t>(end));
    // The usual case, a block into erased and untouched flash, in bulk: a transfer programs
    // thousands of blocks and the simulator must keep up with the host.
    bool allErased = len > 0;
    for (uint32_t page = offset / pageBytes_; allErased && page <= (end - 1) / pageBytes_; ++page)
        allErased = PageErased(page);
    uint8_t* mark = programmed_.data() + offset;
    if (allErased && std::memchr(mark, 1, len) == nullptr) {
        std::memcpy(bytes_.data() + offset, data, len);
        std::memset(mark, 1, len);
        return true;
    }
    uint32_t notErased = 0, twice = 0;
    for (uint32_t i = 0; i < len; ++i) {
        uint32_t at = offset + i;
        bool clean = PageErased(at / pageBytes_) && !programmed_[at];
        if (!PageErased(at / pageBytes_)) ++notErased;
        else if (programmed_[at]) ++twice;
        bytes_[at] = clean ? data[i] : static_cast<uint8_t>(bytes_[at] & data[i]);
        programmed_[at] = 1;
    }
    if (notErased == 0 && twice == 0) return true;
    if (error) {
        *error = "block at " + std::to_string(offset) + ":";
        if (notErased) *error += " " + std::to_string(notErased) + " bytes beyond the erased area";
        if (twice) *error += " " + std::to_string(twice) + " bytes written twice";
    }
    return false;
}

uint32_t Flash::ErasedPageCount() const {
    return static_cast<uint32_t>(std::count(erased_.begin(), erased_.end(), true));
}

std::vector<uint8_t> Flash::Read(uint32_t offset, uint32_t len) const {
    std::vector<uint8_t> out(len, OLD_CONTENT);
    for (uint32_t i = 0; i < len && offset + i < bytes_.size(); ++i) out[i] = bytes_[offset + i];
    return out;
}

}  // namespace plcsim
