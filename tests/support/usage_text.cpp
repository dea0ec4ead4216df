#include "support/usage_text.h"

std::string usage_text(const usage_values &v)
{
    return "\nUsage:\n"
           "vistrel [options] /path/to/gallery\n\n"
           "Available options:\n"
           "   -c <x> ... columns per thumbnail index page (default: " +
           std::to_string(v.columns) +
           ")\n"
           "   -r <y> ... rows per thumbnail index page (default: " +
           std::to_string(v.rows) +
           ")\n"
           "   -h <i> ... height of the thumbnails in pixel (default: " +
           std::to_string(v.thumb_height) +
           ")\n"
           "   -H <j> ... height of the scaled images in pixel (default: " +
           std::to_string(v.scaled_height) +
           ")\n"
           "   -e     ... don't display exif data on the page, insert it in html comments\n"
           "   -E     ... don't display exif data at all\n"
           "   -D     ... display filename instead of size on index page\n"
           "   -f     ... force rebuild of everything; ignore cache\n"
           "   -o     ... don't remove orphaned files\n"
           "   -l     ... use bilinear resizing instead of bicubic\n"
           "              (faster, but image quality is poor)\n"
           "   -s <n> ... sort images according to argument\n"
           "              ('name', 'size', 'mtime'; default is 'name')\n"
           "   -d     ... title string for gallery and albums, if not provided in\n"
           "              '.description' files (default: '" +
           v.title +
           "')\n"
           "   -v     ... show version info\n\n";
}

std::string usage_then_hint(const usage_values &values)
{
    return usage_text(values) + "Try 'vistrel --help' for every option.\n";
}
