// Small real videos for tests, made at run time with the ffmpeg program of
// the distribution (the tests' tool only: vistrel itself never runs it).
#pragma once

#include <string>

struct video_recipe {
    enum class codec { h264_mp4, vp9_webm, hevc_mov, audio_only_mp4 } format = codec::h264_mp4;
    int width = 160;  // as coded, before the display matrix turns it
    int height = 120;
    double seconds = 2;
    int rate = 25;
    // The first seconds black: the poster must skip them.
    double black_seconds = 0;
    // A display matrix turning the coded frame this many degrees clockwise
    // to be seen (0, 90, 180 or 270), written into the MP4's track header
    // as phones do.
    int turn = 0;
    bool audio = false;  // an AAC (Opus in WebM) track beside the video
    // The picture: four flat quadrants (support/quadrants.h) that the turn
    // shows upright, instead of ffmpeg's moving test pattern.
    bool quadrants = false;
    int keyframe_every = 0;  // frames between key frames; 0: the encoder's choice
    std::string created;     // the container's creation_time, "2024-05-06T07:08:09Z"
};

// Writes the clip to path; a failure of ffmpeg is thrown as
// std::runtime_error.
void write_video(const std::string &path, const video_recipe &spec);

// The clip's bytes, made once in a temporary directory.
std::string video_bytes(const video_recipe &spec);

// The bytes of a made clip, cut to its first `keep` bytes (a download cut
// short), with its moov box first so that the header still reads.
void write_truncated_video(const std::string &path, size_t keep);
