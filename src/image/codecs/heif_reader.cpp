// HEIF and AVIF photographs through libheif, behind the reader interface.
// libheif decodes the picture whole and upright as its container says, so
// there is no reduction and no EXIF turn left to apply.
#include <memory>

#include "image/codecs/heif_codec.h"
#include "image/codecs/photo_reader.h"
#include "image/messages.h"

namespace {

class heif_photo_reader final : public photo_reader {
public:
    heif_photo_reader(heif_file file, std::string path, int decoding_threads)
        : file_(std::move(file)), path_(std::move(path)), threads_(decoding_threads)
    {}

    int32_t stored_width() const override { return file_.width; }
    int32_t stored_height() const override { return file_.height; }

    unique_exif exif() override
    {
        const std::vector<uint8_t> block = heif_exif(file_);
        if (block.empty()) return nullptr;
        return unique_exif(
            exif_data_new_from_data(block.data(), static_cast<unsigned>(block.size())));
    }

    int orientation_to_apply(int) const override { return heif_file::orientation; }

    unsigned reduction_for(int32_t, int32_t) const override { return 1; }

    // libheif's picture and the copy made of it are both the decoder's.
    result<decode_footprint> measure(unsigned) override
    {
        return decode_footprint{0, heif_decode_memory(file_), 3};
    }

    result<picture> decode(unsigned, stop_check stopped) override
    {
        if (stopped && stopped()) return failure::stopped();
        result<picture> decoded = decode_heif(file_, threads_, path_);
        if (!decoded.ok()) return decoded;
        // The pages state the header's size: a picture of any other is a lie.
        if (decoded->width != static_cast<uint32_t>(file_.width) ||
            decoded->height != static_cast<uint32_t>(file_.height))
            return message::decoded_size_differs(path_, decoded->width, decoded->height,
                                                 file_.width, file_.height);
        return decoded;
    }

private:
    heif_file file_;
    std::string path_;
    int threads_;
};

}  // namespace

result<unique_reader> open_heif_reader(int fd, const std::string &path, int decoding_threads)
{
    result<heif_file> opened = open_heif(fd, path);
    if (!opened.ok()) return opened.error();
    const heif_file &file = *opened;
    if (file.width <= 0 || file.height <= 0)
        return message::no_stated_size(path, file.width, file.height);
    if (file.size_differs)
        return message::decoded_size_differs(path, file.decoded_width, file.decoded_height,
                                             static_cast<int32_t>(file.stated_width),
                                             static_cast<int32_t>(file.stated_height));
    return unique_reader(
        std::make_unique<heif_photo_reader>(std::move(*opened), path, decoding_threads));
}
