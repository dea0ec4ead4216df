// What an album says: its progress on standard output, and its notes on
// standard error, which never end the run. Orphan removal's lines carry no
// program name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "album/image_listing.h"
#include "base/messages.h"

namespace note {

inline void image(const std::string &path) { report_out("Image %s\n", path.c_str()); }
inline void index_pages_created(int32_t pages)
{
    report_out("%d thumbnail index pages created.\n", pages);
}
inline void album_processed(int32_t images, const std::string &name)
{
    report_out("%d image%s processed in album '%s'.\n", images, images == 1 ? "" : "s",
               name.c_str());
}
// A quiet run (-q): a line per photograph whose derived files were made,
// and one summary line at the end.
inline void made(const std::string &path) { report_out("made %s\n", path.c_str()); }
// -k: a photograph that could not be read, and why: the failure's text,
// the path it starts with said once.
inline void left_out(const std::string &path, std::string_view reason)
{
    if (reason.starts_with(path) && reason.substr(path.size()).starts_with(": "))
        reason.remove_prefix(path.size() + 2);
    if (reason.ends_with('\n')) reason.remove_suffix(1);
    report_err("%s: left out %s: %.*s\n", program_name().c_str(), path.c_str(),
               static_cast<int>(reason.size()), reason.data());
}
// What the listing passed over for want of an option, in one line per
// album: "N HEIF or AVIF photos (give -i)", and any other kind beside it.
inline void not_included(const std::string &path, const passed_over &passed)
{
    const struct {
        int32_t count;
        const char *one, *many, *option;
    } kinds[] = {
        {passed.heif, "HEIF or AVIF photo", "HEIF or AVIF photos", "-i"},
        {passed.video, "video", "videos", "-V"},
    };
    std::string list;
    for (const auto &kind : kinds)
        if (kind.count > 0)
            list += (list.empty() ? "" : ", ") + std::to_string(kind.count) + " " +
                    (kind.count == 1 ? kind.one : kind.many) + " (give " + kind.option + ")";
    if (!list.empty()) report_err("   %s: not included: %s\n", path.c_str(), list.c_str());
}
inline void derived_names_taken(const std::string &name, const std::string &owner)
{
    report_err("   %s: its derived names belong to %s, skipped\n", name.c_str(), owner.c_str());
}
inline void description_cut(const std::string &path, uint64_t mebibytes)
{
    report_err("   %s: longer than %llu MiB, the rest is ignored\n", path.c_str(),
               static_cast<unsigned long long>(mebibytes));
}
inline void not_a_regular_file(const std::string &path)
{
    report_err("   %s: not a regular file, ignored\n", path.c_str());
}
inline void deleted_orphan(const std::string &path)
{
    report_out("deleted orphan %s\n", path.c_str());
}
inline void orphans_unreadable(const std::string &path)
{
    report_out("can't opendir(%s)\n", path.c_str());
}
inline void orphan_kept(const std::string &path) { report_err("can't unlink(%s)\n", path.c_str()); }
inline void orphans_unclosed(const std::string &path)
{
    report_err("can't closedir(%s)\n", path.c_str());
}

}  // namespace note
