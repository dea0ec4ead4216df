#include "support/run_while_held.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

std::optional<run_result> run_while_held(const file_hold &hold,
                                         const std::vector<std::string> &args)
{
    const int events =
        fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, hold.writable ? O_RDWR : O_RDONLY);
    if (events < 0) return std::nullopt;
    if (fanotify_mark(events, FAN_MARK_ADD, hold.events, AT_FDCWD, hold.path.c_str()) != 0) {
        close(events);
        return std::nullopt;
    }

    run_result result;
    std::atomic<bool> done{false};
    std::thread run([&] {
        result = run_vistrel(args);
        done = true;
    });
    while (!done) {
        pollfd ready{events, POLLIN, 0};
        if (poll(&ready, 1, 50) <= 0) continue;
        alignas(fanotify_event_metadata) char buffer[4096];
        ssize_t got = read(events, buffer, sizeof buffer);
        for (auto *event = reinterpret_cast<fanotify_event_metadata *>(buffer);
             FAN_EVENT_OK(event, got); event = FAN_EVENT_NEXT(event, got)) {
            hold.handle(*event);
            const fanotify_response response{event->fd, FAN_ALLOW};
            if (write(events, &response, sizeof response) < 0) ADD_FAILURE() << "fanotify response";
            close(event->fd);
        }
    }
    run.join();
    // Accesses go unheld from here on.
    close(events);
    return result;
}
