#include "bootloader/turnaround.h"

#include "catalogue/report.h"

namespace {

// Written by the worker alone; the front ends see only what PublishTurnaround puts out.
uint32_t gBuckets[TURNAROUND_BUCKETS];
uint32_t gCount = 0;
uint32_t gBelowSlow = 0;  // replies that came less than TURNAROUND_SLOW_US late
uint32_t gWireUs = 0;

// The extra time of the reply at rank (from 0) in ascending order: the middle of its bucket,
// or the histogram's end for one in the last bucket (that long or longer).
int32_t ExtraAtRank(uint32_t rank) {
    uint32_t seen = 0;
    for (uint32_t b = 0; b + 1 < TURNAROUND_BUCKETS; ++b) {
        seen += gBuckets[b];
        if (seen > rank)
            return static_cast<int32_t>(b * TURNAROUND_BUCKET_US + TURNAROUND_BUCKET_US / 2);
    }
    return static_cast<int32_t>(TURNAROUND_BUCKETS * TURNAROUND_BUCKET_US);
}

// The median (the lower middle one) has reached TURNAROUND_SLOW_US: at most its rank of the
// replies came earlier.
bool MedianSlow() {
    return gCount > 0 && gBelowSlow <= (gCount - 1) / 2;
}

}  // namespace

uint32_t WireTimeUs(uint32_t bytes, uint32_t baud) {
    if (baud == 0) return 0;
    return static_cast<uint32_t>(static_cast<uint64_t>(bytes) * LINE_BITS_PER_BYTE * 1000000 /
                                 baud);
}

void BeginTurnaround(uint32_t wireUs) {
    for (uint32_t& b : gBuckets) b = 0;
    gCount = 0;
    gBelowSlow = 0;
    gWireUs = wireUs;
    plcReport.blockWireUs = static_cast<int32_t>(wireUs);
    plcReport.turnaroundBlocks = 0;
    plcReport.turnaroundMedianUs = NOT_REPORTED;
    plcReport.turnaroundP95Us = NOT_REPORTED;
    plcReport.slowReplies = 0;
}

void CountTurnaround(uint64_t leftUs, uint64_t writtenUs, uint64_t repliedUs) {
    // The block's last byte left the host when its bytes had had their time on the wire, and
    // not before the write returned (a driver that returns only once it has sent them).
    uint64_t lastByteUs = leftUs + gWireUs;
    if (writtenUs > lastByteUs) lastByteUs = writtenUs;
    uint64_t extraUs = repliedUs > lastByteUs ? repliedUs - lastByteUs : 0;
    uint64_t bucket = extraUs / TURNAROUND_BUCKET_US;
    ++gBuckets[bucket < TURNAROUND_BUCKETS ? bucket : TURNAROUND_BUCKETS - 1];
    ++gCount;
    if (extraUs < TURNAROUND_SLOW_US) ++gBelowSlow;
    bool settled = gCount >= TURNAROUND_SETTLED_BLOCKS;
    if (settled && plcReport.slowReplies == 0 && MedianSlow()) {
        PublishTurnaround();
        plcReport.slowReplies = 1;
    } else if (gCount % TURNAROUND_PUBLISH_BLOCKS == 0) {
        PublishTurnaround();
    }
}

void PublishTurnaround() {
    if (gCount == 0) return;
    plcReport.turnaroundMedianUs = ExtraAtRank((gCount - 1) / 2);
    // The smallest value that 95 % of the replies do not exceed.
    plcReport.turnaroundP95Us = ExtraAtRank((gCount * 95 + 99) / 100 - 1);
    plcReport.turnaroundBlocks = static_cast<int32_t>(gCount);
}
