// How much later than its time on the wire the PLC's reply to each image block comes: what the
// host's serial stack and a USB-serial adapter's latency timer add, or a PLC that is slow to
// write its flash (the two look the same from here). The figures go to plcReport.
#pragma once

#include <cstdint>

// The word is due once this many blocks are measured, and from then on whenever the median
// reaches TURNAROUND_SLOW_US.
#define TURNAROUND_SETTLED_BLOCKS 64
#define TURNAROUND_SLOW_US 8000
// The figures are kept as a histogram of this resolution; a reply later than the last bucket
// counts in it.
#define TURNAROUND_BUCKET_US 100
#define TURNAROUND_BUCKETS 1000

// The figures go out every this many blocks (a run cut short records them as they were), and
// at the transfer's end.
#define TURNAROUND_PUBLISH_BLOCKS 16

// Bits of one byte on the transfer's line: start, 8 data, stop.
#define LINE_BITS_PER_BYTE 10

// The time n bytes take on a line of baud.
uint32_t WireTimeUs(uint32_t bytes, uint32_t baud);

// A transfer begins whose blocks and their replies take wireUs each on the line.
void BeginTurnaround(uint32_t wireUs);
// One acknowledged block: it would have been on the wire alone from leftUs on (its write began
// then), its write returned at writtenUs, its reply was read at repliedUs.
void CountTurnaround(uint64_t leftUs, uint64_t writtenUs, uint64_t repliedUs);
// Puts the median and the 95th percentile so far into plcReport.
void PublishTurnaround();
