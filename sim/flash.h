// The PLC's flash as the bootloader sees it: pages that "ERASE" clears, bytes that blocks
// program. Programming behaves like NOR flash (bits only go from 1 to 0), so a byte written
// twice or into a page that was not erased comes out damaged, and the fault is recorded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plcsim {

class Flash {
public:
    static constexpr uint32_t CAPACITY_BYTES = 4u * 1024 * 1024;
    static constexpr uint8_t OLD_CONTENT = 0x5A;  // what the previous firmware left behind
    static constexpr uint8_t ERASED = 0xFF;

    explicit Flash(uint32_t pageBytes = 2048) : pageBytes_(pageBytes) {}

    uint32_t PageBytes() const { return pageBytes_; }
    // Erases one page. False (with the reason) when the page lies beyond the capacity.
    bool ErasePage(uint32_t page, std::string* error);
    // Programs len bytes at offset. False, with the reasons, when any byte lies outside the
    // erased pages or was programmed before since its erase; those bytes are ANDed in as flash
    // does, the others are stored.
    bool Program(uint32_t offset, const uint8_t* data, uint32_t len, std::string* error);

    bool PageErased(uint32_t page) const { return page < erased_.size() && erased_[page]; }
    uint32_t ErasedPageCount() const;
    // len bytes from offset; bytes never touched read as OLD_CONTENT.
    std::vector<uint8_t> Read(uint32_t offset, uint32_t len) const;

private:
    void Grow(uint32_t end);
    uint32_t pageBytes_;
    std::vector<uint8_t> bytes_;
    std::vector<uint8_t> programmed_;  // 1 for a byte programmed since its page's erase
    std::vector<bool> erased_;
};

}  // namespace plcsim
