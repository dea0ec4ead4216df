// Videos (-V) behind the reader interface: the poster frame is the
// picture, turned upright as the stream's display matrix says, and the
// container's facts go to the video's page in place of EXIF data.
#include <memory>

#include "image/codecs/photo_reader.h"
#include "image/codecs/video_codec.h"

namespace {

class video_reader final : public photo_reader {
public:
    video_reader(video_file file, std::string path) : file_(std::move(file)), path_(std::move(path))
    {}

    int32_t stored_width() const override { return file_.width; }
    int32_t stored_height() const override { return file_.height; }

    unique_exif exif() override { return nullptr; }

    int orientation_to_apply(int) const override { return file_.orientation; }

    // A frame is decoded whole: no decoder here scales as it decodes.
    unsigned reduction_for(int32_t, int32_t) const override { return 1; }

    result<decode_footprint> measure(unsigned) override
    {
        return decode_footprint{size_t(file_.width) * size_t(file_.height) * 3,
                                video_decode_memory(file_), 3};
    }

    result<picture> decode(unsigned, stop_check stopped) override
    {
        return decode_poster(file_, stopped, path_);
    }

    std::optional<video_record> video() const override { return file_.facts; }
    std::optional<int64_t> recorded() const override { return file_.taken_time; }

private:
    video_file file_;
    std::string path_;
};

}  // namespace

result<unique_reader> open_video_reader(int fd, const std::string &path, int)
{
    result<video_file> opened = open_video(fd, path);
    if (!opened.ok()) return opened.error();
    return unique_reader(std::make_unique<video_reader>(std::move(*opened), path));
}
