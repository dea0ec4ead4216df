#include "run/gallery.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <optional>
#include <thread>
#include <vector>

#include "album/album.h"
#include "base/files.h"
#include "base/limits.h"
#include "base/progress.h"
#include "base/report.h"
#include "base/terminal.h"
#include "pages/escape.h"
#include "pages/gallery_page.h"
#include "pages/stylesheet.h"
#include "run/command_line.h"
#include "run/derive_record.h"
#include "run/messages.h"
#include "run/version.h"

namespace {

// In the gallery, beside the albums; a file, so never taken for one.
constexpr const char *gallery_lock_name = ".lock";
// Where a lock file others could open is replaced from; while it is there,
// held, no other run replaces it.
constexpr const char *new_lock_name = ".lock.tmp";
// How often a run looks again at a lock file being replaced by another.
constexpr int lock_attempts = 1000;

bool is_album(const dir_entry &entry) { return entry.type == DT_DIR && entry.name[0] != '.'; }

std::string build_page_footer()
{
    const std::time_t now = std::time(nullptr);
    const char *when = std::ctime(&now);  // 24 characters and a newline
    std::string footer = "<hr />\n<div class=\"generated\">Web gallery generated ";
    footer += when ? when : "";
    footer += " with <a href=\"";
    footer += vistrel_home_page;
    footer += "\">vistrel ";
    footer += vistrel_version;
    footer += "</a></div>\n";
    return footer;
}

// The gallery's entries in name order.
result<std::vector<dir_entry>> list_gallery(const open_dir &gallery)
{
    result<std::vector<dir_entry>> entries = list_directory(gallery, message::cant_closedir);
    if (!entries.ok()) return entries;
    // Byte order, whatever the locale: names are bytes, not text.
    std::sort(entries->begin(), entries->end(),
              [](const dir_entry &a, const dir_entry &b) { return a.name < b.name; });
    return entries;
}

// The lock file is opened for writing as well: NFS emulates flock with
// POSIX locks, and an exclusive one needs a file open for writing. Never
// through a link, and never blocking on a FIFO swapped in since the look.
constexpr int lock_file_flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// Someone else's file, or anything but a file, is left as it is: neither
// opened, used nor changed.
bool is_ours(const struct stat &status)
{
    return S_ISREG(status.st_mode) && status.st_uid == geteuid();
}

bool same_file(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Replaces the lock file `judged`, which others could open, with one made
// 0600 under new_lock_name and renamed over it, locked before it is
// placed: whoever opened the old one (a chmod would leave them holding it)
// holds nothing any run looks at. Only the run that made new_lock_name
// replaces, and only while the lock file is still the one judged, so that
// two runs never lock a file each. Gives no file when another run is at it
// or has done it: look again.
result<unique_fd> replace_lock_file(const open_dir &gallery, const std::string &operand,
                                    const struct stat &judged, int operation)
{
    const int dir = gallery.fd.fd;
    unique_fd made(openat(dir, new_lock_name, lock_file_flags | O_CREAT | O_EXCL, 0600));
    if (!made) {
        if (errno != EEXIST) return message::cant_lock(operand);
        // Another run's, being placed, or left by a run killed meanwhile:
        // one that no run holds goes.
        unique_fd found(openat(dir, new_lock_name, lock_file_flags));
        struct stat status;
        if (!found) {
            if (errno == ENOENT) return unique_fd();
            if (errno == ELOOP || errno == EISDIR || errno == ENXIO)
                return message::new_lock_not_ours(operand);
            return message::cant_lock(operand);
        }
        if (fstat(found.fd, &status) != 0) return message::cant_lock(operand);
        if (!is_ours(status)) return message::new_lock_not_ours(operand);
        // One placed since it was opened is a lock file in use: not to be
        // held, even for a moment, by a run that only looks.
        struct stat named;
        if (!stat_entry(dir, new_lock_name, named) || !same_file(named, status)) return unique_fd();
        if (flock(found.fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) return unique_fd();
            return message::cant_lock(operand);
        }
        if (stat_entry(dir, new_lock_name, named) && same_file(named, status))
            unlinkat(dir, new_lock_name, 0);
        return unique_fd();
    }
    // Held from here on, so that a run that finds it knows it is no leftover.
    if (flock(made.fd, operation | LOCK_NB) != 0) {
        // A run took it for a leftover before it was held, and removes it.
        if (errno == EWOULDBLOCK) return unique_fd();
        return message::cant_lock(operand);
    }
    // Or has done so already.
    struct stat own, current;
    if (fstat(made.fd, &own) != 0) return message::cant_lock(operand);
    if (!stat_entry(dir, new_lock_name, current) || !same_file(current, own)) return unique_fd();
    if (!stat_entry(dir, gallery_lock_name, current) || !same_file(current, judged)) {
        unlinkat(dir, new_lock_name, 0);
        return unique_fd();
    }
    if (renameat(dir, new_lock_name, dir, gallery_lock_name) != 0) {
        failure failed = message::cant_lock(operand);
        unlinkat(dir, new_lock_name, 0);
        return failed;
    }
    return made;
}

// One full run at a time per gallery: two would write the same temporary
// files. Part runs write disjoint files and share the lock, which keeps a
// full run out while any part runs, and the parts out while it runs. The
// lock is taken on a file in the gallery, so that runs on several machines
// of a shared file system meet on it, and only the run's user may open it,
// so that no one else can hold it. It ends with the process however that
// ends.
outcome lock_gallery(const open_dir &gallery, const std::string &operand, int operation,
                     unique_fd &lock)
{
    for (int attempt = 0; attempt < lock_attempts; ++attempt) {
        struct stat status;
        if (stat_entry(gallery.fd.fd, gallery_lock_name, status) && !is_ours(status))
            return message::lock_not_ours(operand);
        lock = unique_fd(openat(gallery.fd.fd, gallery_lock_name, lock_file_flags | O_CREAT, 0600));
        if (!lock) {
            if (errno == ELOOP || errno == EISDIR || errno == ENXIO)
                return message::lock_not_ours(operand);
            return message::cant_lock(operand);
        }
        if (fstat(lock.fd, &status) != 0) return message::cant_lock(operand);
        if (!is_ours(status)) return message::lock_not_ours(operand);
        if ((status.st_mode & 077) != 0) {
            result<unique_fd> replaced = replace_lock_file(gallery, operand, status, operation);
            if (!replaced.ok()) return replaced.error();
            lock = std::move(*replaced);
        } else if (flock(lock.fd, operation | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) return message::gallery_locked(operand);
            return message::cant_lock(operand);
        }
        // What is locked is the file named .lock, not one replaced since it
        // was opened.
        struct stat held, named;
        if (lock && fstat(lock.fd, &held) == 0 &&
            stat_entry(gallery.fd.fd, gallery_lock_name, named) && same_file(held, named))
            return {};
        lock = unique_fd();
        // Another run is replacing it: a matter of moments.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return message::gallery_locked(operand);
}

// A run whose standard output failed goes no further than the album it
// was on: what it did can no longer be told.
outcome standard_output_written()
{
    if (const int error = standard_output_error())
        return message::cant_write_standard_output(error);
    return {};
}

// What a run did, for its last words.
struct run_totals {
    int32_t albums = 0;
    int32_t photos = 0;
    int32_t made = 0;
    int32_t unreadable = 0;
    std::vector<std::string> unreadable_names;  // album/photo, in the order they were met
    int32_t deleted = 0;
    int32_t left_out = 0;  // albums at fault themselves
};

// An album and, with -R, the albums in its folder, by name: the tree is
// listed once before anything is made, so that -q can count its albums and
// every part run (-p) deals its images alike.
struct album_node {
    std::string name;
    std::vector<album_node> below;
};

// The albums in the folder held open, `depth` folders below the gallery (0
// for the gallery itself): its folders not hidden nor links, and with -R
// theirs, in byte order at every level. Every folder is listed through the
// one above it, held open meanwhile.
result<std::vector<album_node>> list_albums(const open_dir &dir, size_t depth,
                                            const settings_record &config)
{
    result<std::vector<dir_entry>> entries = list_gallery(dir);
    if (!entries.ok()) return entries.error();
    std::vector<album_node> albums;
    for (const dir_entry &entry : *entries) {
        if (!is_album(entry)) continue;
        album_node album{entry.name, {}};
        if (config.album_tree) {
            const open_dir inside{unique_fd(open_dir_at(dir.fd.fd, entry.name)),
                                  join_path(dir.path, entry.name)};
            if (!inside.fd) return message::cant_opendir(inside.path);
            if (depth + 1 < deepest_album) {
                result<std::vector<album_node>> below = list_albums(inside, depth + 1, config);
                if (!below.ok()) return below.error();
                album.below = std::move(*below);
            } else {
                result<std::vector<dir_entry>> inner = list_gallery(inside);
                if (!inner.ok()) return inner.error();
                if (std::ranges::any_of(*inner, is_album)) note::too_deep(inside.path, depth + 1);
            }
        }
        albums.push_back(std::move(album));
    }
    return albums;
}

int32_t count_albums(const std::vector<album_node> &albums)
{
    int32_t count = 0;
    for (const album_node &album : albums) count += 1 + count_albums(album.below);
    return count;
}

// -p: the derived images of one part of every album, and nothing else.
// `first` is the gallery's number of the next album's first image.
outcome derive_albums(const open_dir &parent, const std::string &above,
                      const std::vector<album_node> &albums, const settings_record &config,
                      int64_t &first, run_totals &totals)
{
    for (const album_node &node : albums) {
        result<album_part_result> album = derive_album_part(parent, node.name, config, first);
        if (!album.ok()) return album.error();
        first += album->images;
        const std::string named = above.empty() ? node.name : above + "/" + node.name;
        if (album->left_out) {
            ++totals.left_out;
        } else {
            ++totals.albums;
            totals.photos += album->derived - album->unreadable;  // as the pages would count
            totals.made += album->made;
            totals.unreadable += album->unreadable;
            for (const std::string &photo : album->unreadable_names)
                totals.unreadable_names.push_back(join_path(named, photo));
        }
        if (outcome said = standard_output_written(); !said.ok()) return said;
        if (node.below.empty()) continue;
        const open_dir inside{unique_fd(open_dir_at(parent.fd.fd, node.name)),
                              join_path(parent.path, node.name)};
        if (!inside.fd) return message::cant_opendir(inside.path);
        if (outcome done = derive_albums(inside, named, node.below, config, first, totals);
            !done.ok())
            return done;
    }
    return {};
}

outcome derive_part(const open_dir &gallery, const std::string &operand,
                    const settings_record &config, run_totals &totals)
{
    unique_fd lock;
    if (outcome locked = lock_gallery(gallery, operand, LOCK_SH, lock); !locked.ok()) return locked;
    if (outcome same = check_derive_record(gallery, operand, config); !same.ok()) return same;
    result<std::vector<album_node>> albums = list_albums(gallery, 0, config);
    if (!albums.ok()) return albums.error();
    int64_t first = 0;
    return derive_albums(gallery, "", *albums, config, first, totals);
}

// What every album of a full run shares.
struct full_run {
    const settings_record &config;
    const std::string &footer;
    run_totals &totals;
    const std::string &gallery_path;  // what album paths are named from, for -k's list
    int32_t begun = 0;                // albums begun, for the progress line
};

// The album's path inside the gallery, as -k names its left-out photos.
std::string inside_gallery(const std::string &album_path, const std::string &gallery_path)
{
    return album_path.substr(std::min(album_path.size(), gallery_path.size() + 1));
}

// Makes the album `node` inside `parent`, which stands at `above`, and
// first (-R) every album below it, whose cards its pages list. Gives the
// album's card for the page that lists it; none for an album left out.
result<std::optional<album_card>> make_album(const open_dir &parent, const album_node &node,
                                             const album_place &above, full_run &run)
{
    const settings_record &config = run.config;
    if (!config.quiet) note::directory(join_path(parent.path, node.name));
    progress_album(++run.begun);
    result<album_work> work = begin_album(parent, node.name, config);
    if (!work.ok()) return work.error();
    album_place place{above.depth + 1, above.trail};
    // With -R or -N, the pages say where they are: every album's title down
    // to this one, as the cards show it.
    if (config.album_tree || config.folder_titles)
        place.trail.push_back(work->summary.title ? *work->summary.title : html_escape(node.name));

    std::vector<album_card> cards;
    for (const album_node &below : node.below) {
        result<std::optional<album_card>> card = make_album(work->dirs.album, below, place, run);
        if (!card.ok()) return card.error();
        if (*card) cards.push_back(std::move(**card));
    }

    result<album_result> album = finish_album(*work, place, cards, config, run.footer);
    if (!album.ok()) return album.error();
    std::optional<album_card> card;
    // Left out of the page that lists it: its pages, if any, are from an
    // earlier run, and its cache directories not what they should be.
    if (album->left_out) {
        ++run.totals.left_out;
    } else {
        ++run.totals.albums;
        run.totals.photos += album->images;
        run.totals.made += album->made;
        run.totals.unreadable += album->unreadable;
        for (const std::string &photo : album->unreadable_names)
            run.totals.unreadable_names.push_back(
                join_path(inside_gallery(work->dirs.album.path, run.gallery_path), photo));
        run.totals.deleted += album->deleted;
        card = album_card{node.name, album->title, album->images, 0, album->cover, {}};
        for (const album_card &below : cards) {
            card->images += below.images;
            card->albums += 1 + below.albums;
            // -C: an album without images of its own shows the first cover below it.
            if (!card->cover && below.cover) {
                card->cover = below.cover;
                card->cover_dir = below.cover_dir.empty() ? below.dir_name
                                                          : below.dir_name + '/' + below.cover_dir;
            }
        }
    }
    if (outcome said = standard_output_written(); !said.ok()) return said.error();
    return card;
}

outcome write_gallery(const open_dir &gallery, const std::string &operand,
                      const settings_record &config, run_totals &totals)
{
    unique_fd lock;
    if (outcome locked = lock_gallery(gallery, operand, LOCK_EX, lock); !locked.ok()) return locked;
    if (outcome same = check_derive_record(gallery, operand, config); !same.ok()) return same;
    const std::string footer = build_page_footer();

    result<output_file> page = open_gallery_page(gallery, config);
    if (!page.ok()) return page.error();
    if (outcome styled = place_stylesheet(gallery); !styled.ok()) return styled;
    result<std::vector<dir_entry>> entries = list_gallery(gallery);
    if (!entries.ok()) return entries.error();
    remove_derive_record_leftovers(gallery, *entries);
    result<std::vector<album_node>> albums = list_albums(gallery, 0, config);
    if (!albums.ok()) return albums.error();
    if (config.quiet && is_terminal(stderr)) start_progress(count_albums(*albums));
    full_run run{config, footer, totals, gallery.path};
    const album_place top{0, {}};
    size_t listed = 0;
    for (const album_node &node : *albums) {
        result<std::optional<album_card>> card = make_album(gallery, node, top, run);
        if (!card.ok()) return card.error();
        if (*card) write_album_item(*page, **card, listed++, config);
    }
    if (outcome finished = finish_gallery_page(*page, footer); !finished.ok()) return finished;

    end_progress();
    if (!config.quiet) note::albums_processed(totals.albums);
    return {};
}

}  // namespace

int run_gallery(std::string gallery_path, const settings_record &config)
{
    const auto start = std::chrono::steady_clock::now();
    struct stat status;
    if (stat(gallery_path.c_str(), &status) != 0) {
        report_failure(message::cant_stat(gallery_path));
        return 1;
    }
    if (!S_ISDIR(status.st_mode)) {
        note::not_a_directory(gallery_path);
        write_usage(config);
        return 1;
    }
    const std::string operand = gallery_path;
    if (!gallery_path.empty() && gallery_path.back() == '/') gallery_path.pop_back();
    // The one path followed: the user named it, link or not.
    open_dir gallery{unique_fd(open_named_dir(operand)), gallery_path};
    if (!gallery.fd) {
        report_failure(message::cant_opendir(operand));
        return 1;
    }
    run_totals totals;
    const outcome written = config.part.count > 0 ? derive_part(gallery, operand, config, totals)
                                                  : write_gallery(gallery, operand, config, totals);
    end_progress();
    if (!written.ok()) {
        report_failure(written.error());
        // Without -k a photograph that cannot be read ends the run: say how
        // to have the rest made.
        if (written.error().kind == failure_kind::bad_input && !config.keep_going)
            note::keep_going_hint();
        return 1;
    }
    if (config.quiet) {
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        note::run_summary(totals.albums, totals.photos, totals.made, totals.photos - totals.made,
                          totals.deleted, seconds.count());
    }
    if (const int error = close_standard_output()) {
        report_failure(message::cant_write_standard_output(error));
        return 1;
    }
    // What the run went past, said last.
    if (totals.unreadable > 0)
        report_failure(message::photos_unreadable(totals.unreadable, totals.unreadable_names));
    if (totals.left_out > 0) report_failure(message::albums_left_out(totals.left_out));
    return totals.unreadable > 0 || totals.left_out > 0 ? 1 : 0;
}
