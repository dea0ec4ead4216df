#include "pages/image_pages.h"

#include <cinttypes>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/derived_images.h"
#include "base/files.h"
#include "base/messages.h"
#include "pages/escape.h"
#include "pages/page_parts.h"

namespace {

struct exif_field {
    const char *label;
    std::optional<std::string> image_info::*text;
};

// The order in which the EXIF texts appear, in the table and the comment.
constexpr exif_field exif_fields[] = {
    {"Taken", &image_info::exif_taken},
    {"Aperture", &image_info::exif_aperture},
    {"Exposure Time", &image_info::exif_exposure},
    {"Flash", &image_info::exif_flash},
    {"Model", &image_info::exif_model},
};

// EXIF texts come from the photograph, not from the gallery owner: escaped,
// which also keeps a "-->" in one from closing the comment early.
void write_exif(std::FILE *out, const image_info &image, exif_mode mode)
{
    switch (mode) {
    case exif_mode::table:
        std::fputs("<table width=\"100%\" border=\"1\">\n", out);
        for (const exif_field &field : exif_fields) {
            if (const auto &text = image.*field.text)
                std::fprintf(out,
                             "<tr>\n<td><small>%s:</small></td><td><small>%s</small></td>\n</tr>\n",
                             field.label, html_escape(*text).c_str());
        }
        std::fputs("</table>\n<p>\n<small>\n", out);
        break;
    case exif_mode::comment:
        std::fputs("<!-- Begin EXIF data\n", out);
        for (const exif_field &field : exif_fields) {
            if (const auto &text = image.*field.text)
                std::fprintf(out, "%s: %s\n", field.label, html_escape(*text).c_str());
        }
        std::fputs("End EXIF data -->\n", out);
        break;
    default: break;
    }
}

// A video's facts, in the place and the form of a photograph's EXIF data.
std::vector<std::pair<const char *, std::string>> video_facts(const image_info &image)
{
    const video_record &video = *image.video;
    std::vector<std::pair<const char *, std::string>> facts;
    if (video.duration_ms > 0) facts.emplace_back("Duration", duration_text(video.duration_ms));
    facts.emplace_back("Size", std::to_string(image.width) + " x " + std::to_string(image.height) +
                                   " pixels");
    if (video.rate_num > 0 && video.rate_den > 0) {
        char rate[32];
        const double fps = double(video.rate_num) / double(video.rate_den);
        (void)std::snprintf(rate, sizeof rate, "%.*f frames a second",
                            video.rate_num % video.rate_den == 0 ? 0 : 2, fps);
        facts.emplace_back("Frame rate", rate);
    }
    facts.emplace_back("Codec", video.codec);
    char size[32];
    if (image.file_size >= 1024 * 1024)
        (void)std::snprintf(size, sizeof size, "%.1f MB",
                            double(image.file_size) / (1024.0 * 1024.0));
    else
        (void)std::snprintf(size, sizeof size, "%" PRId64 " KB", image.file_size / 1024);
    facts.emplace_back("File size", size);
    if (image.taken_time) {
        const int64_t t = *image.taken_time;
        char taken[32];
        (void)std::snprintf(taken, sizeof taken, "%04d-%02d-%02d %02d:%02d:%02d",
                            static_cast<int>(t / 10000000000),
                            static_cast<int>(t / 100000000 % 100),
                            static_cast<int>(t / 1000000 % 100), static_cast<int>(t / 10000 % 100),
                            static_cast<int>(t / 100 % 100), static_cast<int>(t % 100));
        facts.emplace_back("Recorded", taken);
    }
    return facts;
}

void write_video_facts(std::FILE *out, const image_info &image, exif_mode mode)
{
    const auto facts = video_facts(image);
    switch (mode) {
    case exif_mode::table:
        std::fputs("<table width=\"100%\" border=\"1\" class=\"video-facts\">\n", out);
        for (const auto &[label, text] : facts)
            std::fprintf(out,
                         "<tr>\n<td><small>%s:</small></td><td><small>%s</small></td>\n</tr>\n",
                         label, html_escape(text).c_str());
        std::fputs("</table>\n<p>\n<small>\n", out);
        break;
    case exif_mode::comment:
        std::fputs("<!-- Begin video data\n", out);
        for (const auto &[label, text] : facts)
            std::fprintf(out, "%s: %s\n", label, html_escape(text).c_str());
        std::fputs("End video data -->\n", out);
        break;
    default: break;
    }
}

void write_neighbour(std::FILE *out, const image_info &neighbour, const char *label,
                     const settings_record &config)
{
    const std::string link = url_escape(neighbour.derived);
    std::fprintf(out,
                 "<a href=\"%s\"><img src=\"%s/%s\"%s border=\"0\" width=\"%d\" "
                 "height=\"%d\" alt=\"%s\"><br><small>%s</small></a>",
                 url_escape(neighbour.page).c_str(), thumbnail.dir, link.c_str(),
                 srcset(thumbnail_2x, config, neighbour).c_str(),
                 neighbour.size(thumbnail.kind).width, neighbour.size(thumbnail.kind).height,
                 html_escape(neighbour.name).c_str(), label);
}

// The largest file of the photograph: the photo is never shown larger than
// it is at one device pixel per CSS pixel. Of two as wide, the first.
const derived_image &largest_photo_file(const image_info &image, const settings_record &config)
{
    const derived_image *largest = &scaled_image;
    for (const derived_image *kind : {&scaled_image_2x, &big_image})
        if (is_made(*kind, config) &&
            image.size(kind->kind).width > image.size(largest->kind).width)
            largest = kind;
    return *largest;
}

// The width the stylesheet shows the photo at, for the browser to choose a
// file before it has read the stylesheet: the page's width less its
// margins (on a phone the screen's less 0.75em a side; else at most 120em,
// less 3vw a side between 0.75em and 2.5em and the cell's padding of 0.5em
// a side), no higher than 85% of the window, no wider than the largest
// file. The sample stylesheet must agree with it.
std::string photo_sizes(int32_t width, int32_t height)
{
    const std::string limits = "calc(85vh * " + std::to_string(width) + " / " +
                               std::to_string(height) + "), " + std::to_string(width) + "px)";
    return "(max-width: 40em) min(calc(100vw - 1.5em), " + limits +
           ", min(calc(min(100vw, 120em) - 2 * clamp(0.75em, 3vw, 2.5em) - 1em), " + limits;
}

// The photo: its scaled image, with -2 and -b every size of it by width.
// The size of the largest goes to the stylesheet, which shows the photo as
// large as the window allows up to it, and keeps the box of that shape
// before the file arrives.
std::string photo_img(const image_info &image, const settings_record &config)
{
    const derived_image &largest = largest_photo_file(image, config);
    const int32_t width = image.size(largest.kind).width;
    const int32_t height = image.size(largest.kind).height;
    std::string img = "<img src=\"";
    img += scaled_image.dir;
    img += '/' + url_escape(image.derived) + '"';
    if (&largest != &scaled_image)
        img += " srcset=\"" +
               width_candidates({&scaled_image, &scaled_image_2x, &big_image}, image, config) +
               "\" sizes=\"" + photo_sizes(width, height) + '"';
    img += " border=\"0\" width=\"" + std::to_string(image.size(scaled_image.kind).width) +
           "\" height=\"" + std::to_string(image.size(scaled_image.kind).height) +
           "\" style=\"--w: " + std::to_string(width) + "; --h: " + std::to_string(height) +
           "\" alt=\"" + html_escape(image.name) + "\">";
    return img;
}

// -V: the video in the photo's place, playing the original; its poster the
// largest file made of its frame, its box the photo's.
std::string video_element(const image_info &image, const settings_record &config)
{
    const derived_image &largest = largest_photo_file(image, config);
    const int32_t width = image.size(largest.kind).width;
    const int32_t height = image.size(largest.kind).height;
    const std::string link = url_escape(image.name);
    std::string video = "<video controls preload=\"metadata\" playsinline poster=\"";
    video += largest.dir;
    video += '/' + url_escape(image.derived) + "\" width=\"" +
             std::to_string(image.size(scaled_image.kind).width) + "\" height=\"" +
             std::to_string(image.size(scaled_image.kind).height) +
             "\" style=\"--w: " + std::to_string(width) + "; --h: " + std::to_string(height) +
             "\">";
    video += "<source src=\"" + link + '"';
    if (!image.video->type.empty()) video += " type=\"" + html_escape(image.video->type) + '"';
    video += "><a href=\"" + link + "\">" + html_escape(image.name) + "</a></video>";
    return video;
}

outcome write_page(const open_dir &album, std::span<const image_info> images, size_t i,
                   const std::string &title, const std::string &footer, int64_t back_page,
                   const album_place &place, const settings_record &config)
{
    const image_info &image = images[i];
    result<output_file> file = open_output(album, image.page, message::fopen_failed);
    if (!file.ok()) return file.error();
    std::FILE *out = file->stream();

    const std::string name = html_escape(image.name);
    const std::string link = url_escape(image.name);
    const std::string caption = caption_html(image);

    std::fprintf(out,
                 "%s<title>%s: %s</title>\n"
                 "<link rel=\"stylesheet\" type=\"text/css\" href=\"%svistrel.css\" />\n",
                 page_head_start, title.c_str(), name.c_str(), up_path(place.depth).c_str());
    const bool video = image.video.has_value();
    if (video) std::fputs(video_style, out);
    if (config.arrow_keys)
        std::fputs(key_navigation(i > 0 ? url_escape(images[i - 1].page) : std::string(),
                                  i + 1 < images.size() ? url_escape(images[i + 1].page)
                                                        : std::string(),
                                  index_page_name(back_page), {}, video)
                       .c_str(),
                   out);
    std::fprintf(out,
                 "</head>\n<body>\n%s<table width=\"100%%\" cellpadding=\"5\">\n<tr>\n"
                 "<td width=\"100%%\" align=\"center\" colspan=\"3\">",
                 breadcrumbs(place, config, true).c_str());
    // A click on the video plays it; a photo links to its original.
    if (video)
        std::fputs(video_element(image, config).c_str(), out);
    else
        std::fprintf(out, "<a href=\"%s\">%s</a>", link.c_str(), photo_img(image, config).c_str());
    std::fprintf(out,
                 "<br />\n<b><em>%s</em></b>\n</td></tr>\n"
                 "<tr><td width=\"33%%\" align=\"center\" valign=\"top\">\n",
                 caption.c_str());

    if (i > 0) write_neighbour(out, images[i - 1], "previous image", config);

    std::fputs("</td>\n<td width=\"34%\" align=\"center\">\n", out);
    // -n: where the image stands in the album, as the index pages number them.
    if (config.page_numbers)
        std::fprintf(out, "<small class=\"position\">%zu of %zu</small><br />\n", i + 1,
                     images.size());
    if (video) {
        std::fprintf(out,
                     "<small><a href=\"%s\" download>Download the video (%" PRId64
                     " KB)</a></small>\n<p>\n",
                     link.c_str(), image.file_size / 1024);
        write_video_facts(out, image, config.exif_mode);
    } else {
        std::fprintf(out,
                     "<small><a href=\"%s\">Original size (%d x %d, %" PRId64
                     " KB)</a></small>\n<p>\n",
                     link.c_str(), image.width, image.height, image.file_size / 1024);
        write_exif(out, image, config.exif_mode);
    }

    std::fprintf(out, "<a href=\"%s\">Back to thumbnails</a>\n",
                 index_page_name(back_page).c_str());

    // Closes the <small> that only the EXIF table opens; kept in every mode.
    std::fputs("</small>\n</td>\n<td width=\"33%\" align=\"center\" valign=\"top\">", out);

    if (i + 1 < images.size()) write_neighbour(out, images[i + 1], "next image", config);

    std::fprintf(out, "</td>\n</tr>\n</table>\n%s</body></html>", footer.c_str());
    return finish_output(*file);
}

}  // namespace

outcome write_image_pages(const open_dir &album, std::span<const image_info> images,
                          const std::string &title, const std::string &footer,
                          const settings_record &config, const album_place &place)
{
    // The back link goes to the thumbnail index page that shows the image.
    const int64_t capacity = index_page_capacity(config);
    for (size_t i = 0; i < images.size(); ++i) {
        outcome written = write_page(album, images, i, title, footer,
                                     static_cast<int64_t>(i) / capacity + 1, place, config);
        if (!written.ok()) return written;
    }
    return {};
}
