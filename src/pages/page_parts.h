// What the image pages and the thumbnail index pages share.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "base/derived_images.h"
#include "base/image_info.h"
#include "base/settings.h"

// The first lines of every page: standards mode, the language of the words
// the pages write, the encoding they are written in, and a viewport so that
// phones lay them out at their own width.
inline constexpr const char page_head_start[] =
    "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";

// Where an album stands below the gallery, for the links its pages make:
// its depth (1 for an album of the gallery itself) sets how far up the
// stylesheet and the gallery page are; with -R or -N, trail holds the title
// of every album from the top level down to this one, as its card shows it
// (markup), and the pages show it as breadcrumbs. Empty: no breadcrumbs.
struct album_place {
    size_t depth = 1;
    std::vector<std::string> trail;
};

// "../" once for every level up: how a page of an album at `depth` reaches
// the gallery.
std::string up_path(size_t depth);

// The breadcrumbs of a page of the album at `place`: the gallery's title
// (-d) and every album's down to this one, each a link to its first index
// page, but the last on the album's own index pages (link_last false),
// where it is the page itself. Empty without a trail.
std::string breadcrumbs(const album_place &place, const settings_record &config, bool link_last);

// Thumbnails on a full index page: rows x columns, each a positive int32,
// so counted in 64 bits where the product always fits.
int64_t index_page_capacity(const settings_record &config);

// The file name of index page `page` (from 1): index.html, index2.html, ...
std::string index_page_name(int64_t page);

// The URL of one derived image as a candidate of a srcset attribute:
// "<dir>/<name>", or "<album>/<dir>/<name>" from the gallery page, encoded
// as in a link and with its blanks and a leading comma encoded too.
std::string candidate_url(const derived_image &kind, const std::string &name,
                          const std::string &album_dir = {});

// With -2, the srcset attribute that offers a double-density image to
// high-density screens, to follow a src attribute: ` srcset="<dir>/<name> 2x"`,
// or from the gallery page ` srcset="<album>/<dir>/<name> 2x"`. Empty
// without -2, and where the photograph is too small for the double image to
// be larger than the single one; where it is only a little larger, the
// density it has takes the place of 2x.
std::string srcset(const derived_image &doubled, const settings_record &config,
                   const image_info &image, const std::string &album_dir = {});

// The made ones of these derived images as srcset candidates by width,
// "<url> <width>w, ...", narrowest first; of several of one width (a
// photograph smaller than they would be) only the first of the list.
std::string width_candidates(std::initializer_list<const derived_image *> kinds,
                             const image_info &image, const settings_record &config,
                             const std::string &album_dir = {});

// The caption as it goes into a page: one from .description is the owner's
// markup, written unchanged; the name standing in for a missing one is data.
std::string caption_html(const image_info &image);

// -a: the head's links to the previous and next page (the URLs as they go
// into an href; empty for none), and a small script inside the page that
// opens them with the left and right arrow keys. On an image page, up is
// its index page: PageUp and PageDown do as the arrows, a horizontal swipe
// too, and Escape goes up. Nothing needs the script: the pages work the
// same without it. An index page with no other gets nothing, unless
// `parent` (with -R, the page an album's index pages go up to) is given:
// Escape opens it.
std::string key_navigation(const std::string &prev, const std::string &next,
                           const std::string &up = {}, const std::string &parent = {},
                           bool video_page = false);

// -V: the rules of a video's page and of the play mark on its thumbnail,
// in a <style> of the pages that show one, so that a gallery's own
// stylesheet (written once, never replaced) need not know them and pages
// without videos stay as they were.
extern const char video_style[];

// A video's duration as players show it: "0:12", "12:05", "1:02:03".
std::string duration_text(int64_t milliseconds);
