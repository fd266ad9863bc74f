// Whether an image file can be the binary image of a model at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plccli {

// Why the image file at path cannot be read at all: "no such file", "a directory, not a file",
// or the system's reason; "" when it may be (a FIFO or a device is left to the load, which
// refuses it without waiting for a writer). Told before its name is read for a model.
std::string ImageFileProblem(const std::string& path);

// Why an image file is plainly no binary image for the model in row: an Intel HEX or S-record
// text file, or shorter than one block. "" when it may be one.
std::string ImageDoubt(const uint8_t* data, size_t size, uint32_t row);

}  // namespace plccli
