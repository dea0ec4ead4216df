// The progress line of a quiet run (-q) whose standard error is a terminal:
// one line, rewritten in place, that says which album of how many is being
// made, how many of its photographs are done and, once it can tell, about
// how long the album has left. It is erased before anything else is
// written, and is never written to a file or a pipe. Output state of the
// process, like the program name: the run turns it on once, the album and
// its jobs tell it how far they are, and it does nothing unless turned on.
#pragma once

#include <cstdint>

// Turns the line on for a run of `albums` albums.
void start_progress(int32_t albums);

// The album numbered `album` (from 1) begins.
void progress_album(int32_t album);

// The album begun has `photos` photographs.
void progress_photos(int32_t photos);

// One photograph of the album is done; safe on any thread.
void progress_photo_done();

// Erases the line for good: before the run's last words.
void end_progress();
