#include "base/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "base/report.h"

namespace {

using clock_type = std::chrono::steady_clock;

struct progress_state {
    std::mutex mutex;
    bool on = false;
    int32_t albums = 0;
    int32_t album = 0;
    int32_t photos = 0;
    int32_t done = 0;
    clock_type::time_point album_start;
    clock_type::time_point last_drawn;
};

progress_state &state()
{
    static progress_state progress;
    return progress;
}

// "about 40 s left", "about 3 min left", "about 2 h 5 min left".
std::string time_left(double seconds)
{
    // Never negative, and the half a hair below 0.5 that rounds up is as good
    // an estimate: no need for lround.
    // NOLINTNEXTLINE(bugprone-incorrect-roundings)
    const auto whole = static_cast<long>(seconds + 0.5);
    if (whole < 60) return "about " + std::to_string(whole < 1 ? 1 : whole) + " s left";
    const long minutes = (whole + 59) / 60;
    if (minutes < 60) return "about " + std::to_string(minutes) + " min left";
    return "about " + std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) +
           " min left";
}

// An estimate from fewer photographs or less time than this is noise.
constexpr int32_t fewest_for_estimate = 2;
constexpr std::chrono::seconds least_time_for_estimate{3};
// Redrawn at most this often: a run of fresh photographs finishes thousands a second.
constexpr std::chrono::milliseconds redraw_interval{100};

void draw(progress_state &p, clock_type::time_point now)
{
    std::string line = "album " + std::to_string(p.album) + " of " + std::to_string(p.albums);
    if (p.photos > 0)
        line += ": " + std::to_string(p.done) + " of " + std::to_string(p.photos) + " photo" +
                (p.photos == 1 ? "" : "s");
    const auto elapsed = now - p.album_start;
    if (p.done >= fewest_for_estimate && p.done < p.photos && elapsed >= least_time_for_estimate) {
        const double seconds = std::chrono::duration<double>(elapsed).count();
        line += ", " + time_left(seconds / p.done * (p.photos - p.done));
    }
    // A line longer than the terminal is wide would wrap, and the carriage
    // return would no longer reach its start.
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 &&
        line.size() >= size.ws_col)
        line.resize(size.ws_col - 1);
    show_status_line(line);
    p.last_drawn = now;
}

}  // namespace

void start_progress(int32_t albums)
{
    progress_state &p = state();
    std::lock_guard lock(p.mutex);
    p.on = true;
    p.albums = albums;
}

void progress_album(int32_t album)
{
    progress_state &p = state();
    std::lock_guard lock(p.mutex);
    if (!p.on) return;
    p.album = album;
    p.photos = 0;
    p.done = 0;
    p.album_start = clock_type::now();
    draw(p, p.album_start);
}

void progress_photos(int32_t photos)
{
    progress_state &p = state();
    std::lock_guard lock(p.mutex);
    if (!p.on) return;
    p.photos = photos;
    p.album_start = clock_type::now();
    draw(p, p.album_start);
}

void progress_photo_done()
{
    progress_state &p = state();
    std::lock_guard lock(p.mutex);
    if (!p.on) return;
    ++p.done;
    const auto now = clock_type::now();
    if (now - p.last_drawn >= redraw_interval || p.done == p.photos) draw(p, now);
}

void end_progress()
{
    progress_state &p = state();
    std::lock_guard lock(p.mutex);
    if (!p.on) return;
    p.on = false;
    show_status_line("");
}
