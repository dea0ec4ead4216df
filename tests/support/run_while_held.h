// Runs of the binary that the kernel holds at chosen file accesses:
// fanotify's permission events on one path are each let through only once a
// handler has seen them, so that a test changes a file at an exact point of
// a run, every time.
#pragma once

#include <sys/fanotify.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/run_vistrel.h"

struct file_hold {
    // The file, or with FAN_EVENT_ON_CHILD in `events` the directory whose
    // entries' accesses are held.
    std::string path;
    // The permission events held: FAN_OPEN_PERM, FAN_ACCESS_PERM, ...
    uint64_t events = FAN_OPEN_PERM;
    // Each event's descriptor opened for writing too, so that the handler
    // can change the file through it, which raises no event of its own.
    bool writable = false;
    // Sees each held access; the access goes on once it returns. It runs on
    // the calling thread.
    std::function<void(const fanotify_event_metadata &)> handle;
};

// Runs vistrel with `args`, as run_vistrel does, while `hold` holds the
// accesses; nothing when this system offers no permission events (no
// fanotify, or no right to use it), for the caller to skip.
std::optional<run_result> run_while_held(const file_hold &hold,
                                         const std::vector<std::string> &args);
