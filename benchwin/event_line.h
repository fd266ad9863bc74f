// A worker's --events output: bytes from its pipe into whole lines, and each line into its
// fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace plcbench {

// A line longer than this is no event line of ours; it is dropped whole, never cut into two.
const size_t MAX_EVENT_LINE_BYTES = 64 * 1024;

// The fields of one flat JSON object: a string value unescaped (as UTF-8), anything else (a
// number, true, an array) as written.
using EventLine = std::map<std::string, std::string>;

// False, and *out empty, when the line is not one flat JSON object.
bool ParseEventLine(const std::string& line, EventLine* out);
// The value of key; "" when absent.
std::string Field(const EventLine& event, const char* key);
// The value of key as a whole number; otherwise when absent or not a number.
int64_t NumberField(const EventLine& event, const char* key, int64_t otherwise);
double DecimalField(const EventLine& event, const char* key, double otherwise);

// The bytes of a pipe as they come, in pieces of any size, given back as whole lines (without
// the line end, a CR before it dropped too).
class LineBuffer {
  public:
    std::vector<std::string> Take(const char* data, size_t bytes);

  private:
    std::string partial_;
    bool overlong_ = false;  // the line under way passed the limit: dropped up to its end
};

}  // namespace plcbench
