// Whether an image file can be the binary image of a model at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plccli {

// Why an image file is plainly no binary image for the model in row: an Intel HEX or S-record
// text file, or shorter than one block. "" when it may be one.
std::string ImageDoubt(const uint8_t* data, size_t size, uint32_t row);

}  // namespace plccli
