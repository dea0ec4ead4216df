// The bounds on what a hostile or broken file can make a run spend, in one
// place, each with its reason. A file beyond one is refused with a message
// (or, where noted, the part beyond it is left unread); none of them is
// near what a real camera, phone or scanner writes.
#pragma once

#include <cstddef>
#include <cstdint>

// The most a JPEG decode may hold (libjpeg's max_memory_to_use): enough for
// the coefficients of a progressive photograph of 600 megapixels.
inline constexpr long largest_decode_memory = 2048L * 1024 * 1024;

// The most a HEIF or AVIF decode may hold, as for JPEG files: 2 GiB. A file
// of a few hundred bytes can claim a grid of 32768 x 32768 pixels, which
// libheif would allocate in full.
inline constexpr size_t largest_heif_decode_memory = size_t{2048} * 1024 * 1024;

// The most scans a JPEG file may have. libjpeg's own progressive script
// makes 10 for a colour photograph and 6 for a grey one, cameras and other
// encoders stay under about 20, and optimised scripts add a few more. Every
// scan costs libjpeg a pass over all the coefficient blocks of the
// components it covers, however few bytes it takes: a file of 10 KB that
// claims a large picture and carries a thousand empty scans would keep a
// core busy for minutes. Past the bound the file is refused as it is read,
// before any scan beyond it.
inline constexpr int most_jpeg_scans = 100;

// The most bytes libjpeg may skip in search of the next JPEG marker before
// the file is taken as ended: a real file has none between markers, and a
// hostile one must not keep it hunting through gigabytes.
inline constexpr unsigned largest_marker_hunt = 1u << 20;

// The largest ICC profile carried. Real camera, scanner and display
// profiles take a few kilobytes, and even a detailed printer profile with
// large lookup tables a few hundred: 1 MiB leaves room for those and keeps
// a derived thumbnail from growing beyond what its pixels cost. It fits in
// 17 APP2 markers, far from the 255 a JPEG file can number.
inline constexpr size_t largest_icc_profile = size_t{1024} * 1024;

// The largest block lcms2 may allocate while it checks a profile. The tables
// of a profile within largest_icc_profile take at most twice their bytes
// once read (8-bit entries are widened), and the transform built to check
// the profile a few hundred kilobytes more; but a table's header of a few
// bytes may claim 500 MB, which lcms2 would allocate and clear before it
// found the data missing. 16 MiB is eight times what a real profile needs.
inline constexpr size_t largest_icc_allocation = size_t{16} * 1024 * 1024;

// The largest HEIF Exif item read, its size asked first. The EXIF data of a
// JPEG file fits in one 64 KB marker, and cameras write HEIF Exif items of
// a few kilobytes; a larger one is left unread, as if there were none.
inline constexpr size_t largest_heif_exif = size_t{1024} * 1024;

// The most read of any one HEIF box or item: the item tables of a file with
// tens of thousands of tiles fit, and a hostile length costs no more.
inline constexpr uint64_t largest_heif_box = uint64_t{16} * 1024 * 1024;

// The most a HEIF file's boxes may hold outside its coded data (mdat and
// idat boxes), libheif reading them all into memory when it opens the file:
// a sparse file's box claiming gigabytes is refused before it does. Real
// files hold a few kilobytes, tens of thousands of tiles a few megabytes.
inline constexpr uint64_t largest_heif_boxes = uint64_t{16} * 1024 * 1024;

// The most HEIF boxes read in one: a file of empty 8-byte boxes must not
// take minutes (libheif stops at a few tens of thousands too).
inline constexpr size_t most_heif_children = 100000;

// How far HEIF iden items may lead to others before the file is taken as a
// loop.
inline constexpr int deepest_heif_reference = 8;

// The largest poster frame decoded from a video (-V): 16384 pixels a side
// and 8192 x 8192 in all, past 8K video (7680 x 4320) with room to spare;
// a container's header of a few bytes may state any size, which the decoder
// would allocate, a dozen frames of it.
inline constexpr int32_t largest_video_side = 16384;
inline constexpr int64_t largest_video_pixels = int64_t{8192} * 8192;

// The most streams a video may have: a phone writes two to five (video,
// audio, metadata, a still image); a file of thousands of empty tracks
// costs their tables.
inline constexpr int most_video_streams = 32;

// The most of a video read before its demuxer knows its streams, and how
// long one video may take to give its poster: the header of a real file
// is read in milliseconds, and a frame of 8K decoded in well under a
// second; a hostile one stops there with a message.
inline constexpr int64_t largest_video_probe = int64_t{8} * 1024 * 1024;
inline constexpr int video_seconds = 20;

// How many frames a poster may take to reach its time after a seek: a
// phone puts a key frame every second or two, 600 frames cover ten
// seconds at 60 frames a second.
inline constexpr int most_poster_frames = 600;

// The most of a .description read: far beyond any real one (a caption line
// per photograph of an album of a hundred thousand takes a few megabytes),
// and read in well under a second. The rest is left unread, with a note.
inline constexpr uint64_t largest_description = uint64_t{16} * 1024 * 1024;

// -R: how many folders deep below the gallery albums are made. Real photo
// libraries go four or five deep; the walk holds a directory open at every
// level (and the pages of an album hold a breadcrumb and a "../" for each),
// so a tree nested by accident or on purpose thousands deep stops here, with
// a note, far inside the descriptors a process may hold.
inline constexpr size_t deepest_album = 64;
