#include "album/photo_jobs.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <utility>

#include "album/messages.h"
#include "base/files.h"
#include "base/ordered_jobs.h"
#include "base/progress.h"
#include "base/report.h"
#include "image/derive_image.h"

namespace {

// One photograph's job: derived, or with -k left out when it cannot be
// read, its message in its place among the others. Its derived files wait
// in `made` to be put in place.
result<photo_outcome> photo_job(const album_dirs &dirs, image_info &image, derived_files &made,
                                const settings_record &config, const derive_context &context)
{
    if (!config.quiet) note::image(join_path(dirs.album.path, image.name));
    // A quiet run keeps what reading the photograph says until it knows
    // whether anything was made: a fresh photograph's warnings were said
    // when it was made, and are not said again.
    report_log held;
    report_log *const outer = current_report_log();
    if (config.quiet) set_report_log(&held);
    result<derived_files> derived = derive_image(dirs, image, config, context);
    if (config.quiet) {
        set_report_log(outer);
        if (!derived.ok() || derived->gone || !derived->written.empty()) replay_report_log(held);
    }
    photo_outcome outcome = photo_outcome::fresh;
    if (derived.ok()) {
        made = std::move(*derived);
        if (made.gone) {
            outcome = photo_outcome::gone;
        } else if (!made.written.empty()) {
            outcome = photo_outcome::made;
            if (config.quiet) note::made(join_path(dirs.album.path, image.name));
        }
    } else if (config.keep_going && derived.error().kind == failure_kind::bad_input) {
        // Printed here, in the job's own place among the others' lines, as
        // no warning is; the run names it again at its end.
        note::left_out(join_path(dirs.album.path, image.name), derived.error().text);
        outcome = photo_outcome::unreadable;
    } else {
        return derived.error();
    }
    progress_photo_done();
    return outcome;
}

// Image indices by falling file size, a fair guess at the work each needs,
// so that no large photograph is left to run alone at the end.
std::vector<size_t> largest_first(int album_fd, std::span<const image_info> images)
{
    std::vector<std::pair<int64_t, size_t>> sizes;
    sizes.reserve(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        struct stat status;
        const bool known = stat_entry(album_fd, images[i].name, status);
        sizes.emplace_back(known ? -static_cast<int64_t>(status.st_size) : 0, i);
    }
    std::stable_sort(sizes.begin(), sizes.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<size_t> order;
    order.reserve(sizes.size());
    for (const auto &entry : sizes) order.push_back(entry.second);
    return order;
}

}  // namespace

result<std::vector<photo_outcome>>
process_images(const album_dirs &dirs, std::span<image_info> images, const settings_record &config)
{
    std::vector<photo_outcome> outcomes(images.size(), photo_outcome::fresh);
    const int threads = config.jobs > 0 ? config.jobs : usable_cpus();
    derive_context context;
    context.stopped = job_cancelled;
    context.claim_memory = claim_memory;
    if (threads <= 1 || images.size() <= 1) {
        // One image at a time: libheif may take the threads the jobs would.
        context.heif_threads = threads > 1 ? threads : 0;
        for (size_t i = 0; i < images.size(); ++i) {
            derived_files made;
            result<photo_outcome> done = photo_job(dirs, images[i], made, config, context);
            if (!done.ok()) return done.error();
            outcomes[i] = *done;
            if (outcome placed = place_derived(dirs, images[i], made, config); !placed.ok())
                return placed.error();
        }
        return outcomes;
    }
    // Each image touches only its own record, files and outcome; its files
    // are put in place in image order, once every image before it succeeded,
    // so a failed run leaves exactly what one thread leaves. Those of images
    // after a failure go with this vector, their temporary files with them.
    std::vector<derived_files> made(images.size());
    const outcome done = run_ordered(
        images.size(), threads,
        [&](size_t i) -> outcome {
            result<photo_outcome> job = photo_job(dirs, images[i], made[i], config, context);
            if (!job.ok()) return job.error();
            outcomes[i] = *job;
            return {};
        },
        largest_first(dirs.album.fd.fd, images),
        [&](size_t i) { return place_derived(dirs, images[i], made[i], config); });
    if (!done.ok()) return done.error();
    return outcomes;
}
