// Host CPU time of SendFW per block, against a PLC that acknowledges every block at once.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/ack_peer.h"
#include "platform/resource_image.h"

namespace {

// model, image bytes: the embedded size on a 4 KiB-page model, and the largest 128-byte-block image
void BM_SendFW(benchmark::State& state, const char* model, uint32_t imageBytes) {
    std::vector<uint8_t> image(imageBytes);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 131 + (i >> 8));
    platform::SetResourceImage(image.data(), image.size());
    auto peer = benchsupport::OpenAckLink(model);
    uint32_t blocks = TransferBlockCount(selectedPLCIdx, imageBytes);
    for (auto _ : state) {
        LoadImage();  // the cursor back at the first byte, as at the start of a run
        if (SendFW(hSerial) != OK) state.SkipWithError("transfer failed");
        CloseFile();
    }
    state.counters["blocks"] = blocks;
    // CPU time per block (the rate is taken over CPU time, inverted).
    state.counters["cpu_per_block"] = benchmark::Counter(
        blocks, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            ImageBytesSent(selectedPLCIdx, imageBytes));
    CloseHandle(hSerial);
    platform::UnregisterAllVirtualLinks();
}

BENCHMARK_CAPTURE(BM_SendFW, RP200_2076672, plcList[ROW_RP200], 2076672)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SendFW, QM2E_917504, plcList[ROW_QM2_E], 917504)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
