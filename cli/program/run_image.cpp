// The image of the run: an --image file or the one built into the program, behind the resource
// calls, with what the record says of it.
#include <filesystem>
#include <vector>

#include "catalogue/catalogue.h"
#include "cli/command/image_check.h"
#include "cli/command/texts.h"
#include "cli/program/parts.h"
#include "platform/resource_image.h"
#include "record/files.h"

namespace plccli {

namespace {

// The size of the file at path from its metadata; false when it has none (not a regular file).
bool ImageFileSize(const std::string& path, uint64_t* size) {
    std::error_code failed;
    if (!std::filesystem::is_regular_file(path, failed) || failed) return false;
    *size = std::filesystem::file_size(path, failed);
    return !failed;
}

// The image file's bytes; they stay behind the resource calls until the program ends. A file
// larger than the model takes is judged by its size and not read: the run is handed a stand-in
// one byte over the maximum, so that the run's own size check ends the case with its message,
// its event and its record line, as it ends the case of a file it was given whole. *fileBytes
// is the file's size (the record's). A FIFO or a device is refused without waiting for a writer.
bool LoadImageFile(const std::string& path, uint32_t row, std::vector<uint8_t>* data,
                   uint64_t* fileBytes, std::string* error) {
    uint64_t size = 0;
    if (ImageFileSize(path, &size) && size > MaxImageBytes(row)) {
        data->assign(static_cast<size_t>(MaxImageBytes(row)) + 1, 0);
        *fileBytes = size;
        return true;
    }
    std::string reason;
    std::string tooLarge = std::string("larger than ") + plcList[row] + " takes";
    if (plcrecord::ReadRegularFile(path, MaxImageBytes(row), tooLarge.c_str(), data, &reason)) {
        *fileBytes = data->size();
        return true;
    }
    *error = "cannot read the image file '" + path + "': " + reason;
    return false;
}

}  // namespace

// The image of the run behind the resource calls; its bytes stay until the program ends.
bool SetUpImage(const CliOptions& options, uint32_t row, RecordFields* fields, std::string* error) {
    static std::vector<uint8_t> image;
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (options.image) {
        uint64_t fileBytes = 0;
        if (!LoadImageFile(*options.image, row, &image, &fileBytes, error)) return false;
        bool unread = fileBytes > MaxImageBytes(row);
        std::string doubt = unread ? "" : ImageDoubt(image.data(), image.size(), row);
        if (!doubt.empty() && !options.force) {
            *error = "the image file '" + *options.image + "' is " + doubt +
                     "; --force writes it anyway";
            return false;
        }
        platform::SetResourceImage(image.data(), image.size());
        fields->imageFile = *options.image;
        fields->imageBytes = fileBytes;
        fields->imageSha256 = unread ? "" : Sha256Hex(image.data(), image.size());
        return true;
    }
    platform::UseEmbeddedResourceImage();
    data = platform::EmbeddedImage(&size);
    fields->imageBytes = size;
    fields->imageSha256 = data != nullptr ? Sha256Hex(data, size) : "";
    return true;
}

}  // namespace plccli
