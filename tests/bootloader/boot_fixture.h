// Common ground of the bootloader protocol tests: a scripted PLC on a virtual link, a test image
// behind the resource, and the panel's view (progress, phase) at every host write.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/scripted_peer.h"

namespace boottest {

inline const std::string kAck = plctest::Bytes({ACK});
inline const std::string kNak = plctest::Bytes({NAK});
inline const std::string kNok = plctest::Bytes({NOK});

// Bit by bit, independent of the table the engine uses.
inline uint16_t ReferenceCrc(const uint8_t* data, size_t len) {
    uint16_t crc = 0;
    for (size_t i = 0; i < len; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int b = 0; b < 8; ++b)
            crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

class BootTest : public plctest::EngineTest {
  protected:
    void TearDown() override {
        CloseFile();
        EngineTest::TearDown();
    }

    // Starts one case of a table: the previous case's image and link released, the shared state
    // as at program start, the model selected.
    void StartCase(const char* model) {
        CloseFile();
        if (hSerial != INVALID_HANDLE_VALUE) CloseHandle(hSerial);
        plctest::ResetSharedState();
        Select(model);
    }

    // Opens the link to a fresh scripted PLC as hSerial; the script is filled afterwards. The
    // panel's view is recorded at every write.
    plctest::ScriptedPeer& Open() {
        peer = std::make_shared<plctest::ScriptedPeer>();
        progressAtWrite.clear();
        statusAtWrite.clear();
        peer->onWrite = [this] {
            progressAtWrite.push_back(progress);
            statusAtWrite.push_back(flashStatus);
        };
        link = &platform::RegisterVirtualLink("boot", peer);
        hSerial = CreateFileA("boot", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
        EXPECT_NE(hSerial, INVALID_HANDLE_VALUE);
        return *peer;
    }

    // Puts an image of that many distinct-looking bytes behind the resource and loads it.
    void UseImage(uint32_t size) {
        image.resize(size);
        uint32_t x = 0x2545F491u + size;
        for (auto& b : image) {
            x = x * 1664525u + 1013904223u;
            b = static_cast<uint8_t>(x >> 24);
        }
        platform::SetResourceImage(size ? image.data() : nullptr, size);
        LoadImage();
        fileLength = size;  // also for the empty image, which plays no resource at all
    }

    // Image bytes the cursor has handed out so far.
    size_t Consumed() const { return fin ? static_cast<size_t>(fin - image.data()) : 0; }

    // The host writes that are one request word, one control byte, or neither.
    size_t CountWrites(const std::string& bytes) const {
        size_t n = 0;
        for (const auto& w : peer->writes) n += w == bytes;
        return n;
    }

    std::shared_ptr<plctest::ScriptedPeer> peer;
    std::vector<int32_t> progressAtWrite;
    std::vector<int32_t> statusAtWrite;
    platform::VirtualLink* link = nullptr;
    std::vector<uint8_t> image;
};

}  // namespace boottest
