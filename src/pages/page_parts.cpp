#include "pages/page_parts.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "pages/escape.h"

std::string up_path(size_t depth)
{
    std::string path;
    for (size_t level = 0; level < depth; ++level) path += "../";
    return path;
}

std::string breadcrumbs(const album_place &place, const settings_record &config, bool link_last)
{
    if (place.trail.empty()) return {};
    // The gallery's title and the albums' are the owner's markup, as on
    // the gallery page and the cards.
    std::string line = "<p class=\"breadcrumbs\"><a href=\"" + up_path(place.trail.size()) +
                       "index.html\">" + config.default_title + "</a>";
    for (size_t i = 0; i < place.trail.size(); ++i) {
        line += " &rsaquo; ";
        const size_t up = place.trail.size() - 1 - i;
        if (up == 0 && !link_last)
            line += "<span>" + place.trail[i] + "</span>";
        else
            line += "<a href=\"" + up_path(up) + "index.html\">" + place.trail[i] + "</a>";
    }
    line += "</p>\n";
    return line;
}

int64_t index_page_capacity(const settings_record &config)
{
    return int64_t{config.rows} * int64_t{config.columns};
}

std::string index_page_name(int64_t page)
{
    if (page == 1) return "index.html";
    return "index" + std::to_string(page) + ".html";
}

std::string candidate_url(const derived_image &kind, const std::string &name,
                          const std::string &album_dir)
{
    std::string url;
    if (!album_dir.empty()) {
        url += url_escape(album_dir);
        url += '/';
    }
    url += kind.dir;
    url += '/';
    url += url_escape(name);
    // Within a candidate list a blank ends the URL and commas before it are
    // skipped: both are encoded there.
    std::string encoded;
    for (const char c : url) {
        if (c == ' ')
            encoded += "%20";
        else if (c == ',' && encoded.empty())
            encoded += "%2C";
        else
            encoded += c;
    }
    return encoded;
}

std::string srcset(const derived_image &doubled, const settings_record &config,
                   const image_info &image, const std::string &album_dir)
{
    if (!is_made(doubled, config)) return {};
    const int32_t single = image.size(doubled.multiplies).width;
    if (image.size(doubled.kind).width <= single) return {};
    // Twice the width, but less from a photograph smaller than that: the
    // density it has, shown at the single image's size.
    char density[32];  // %.6g takes 13 characters at most
    static_cast<void>(std::snprintf(density, sizeof density, "%.6g",
                                    static_cast<double>(image.size(doubled.kind).width) / single));
    return " srcset=\"" + candidate_url(doubled, image.derived, album_dir) + ' ' + density + "x\"";
}

std::string width_candidates(std::initializer_list<const derived_image *> kinds,
                             const image_info &image, const settings_record &config,
                             const std::string &album_dir)
{
    struct candidate {
        const derived_image *kind;
        int32_t width;
    };
    std::vector<candidate> candidates;
    for (const derived_image *kind : kinds) {
        if (!is_made(*kind, config)) continue;
        const bool known =
            std::any_of(candidates.begin(), candidates.end(), [&](const candidate &c) {
                return c.width == image.size(kind->kind).width;
            });
        if (!known) candidates.push_back({kind, image.size(kind->kind).width});
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const candidate &a, const candidate &b) { return a.width < b.width; });
    std::string list;
    for (const candidate &c : candidates) {
        if (!list.empty()) list += ", ";
        list += candidate_url(*c.kind, image.derived, album_dir) + ' ' + std::to_string(c.width) +
                'w';
    }
    return list;
}

std::string caption_html(const image_info &image)
{
    return image.caption_from_description ? image.caption : html_escape(image.caption);
}

std::string key_navigation(const std::string &prev, const std::string &next, const std::string &up,
                           const std::string &parent, bool video_page)
{
    std::string head;
    if (!prev.empty()) head += "<link rel=\"prev\" href=\"" + prev + "\">\n";
    if (!next.empty()) head += "<link rel=\"next\" href=\"" + next + "\">\n";
    const bool image_page = !up.empty();
    // An album's only index page, with nowhere up to go: nothing to do.
    if (!image_page && head.empty() && parent.empty()) return head;
    head += "<script>\n(function(d){function l(r){r=d.querySelector('link[rel='+r+']');"
            "return r&&r.href}"
            "function go(h,e){if(h){if(e)e.preventDefault();location.href=h}}"
            "var p=l('prev'),n=l('next'),k={ArrowLeft:p,ArrowRight:n";
    // The name of an index page needs no quoting inside a string.
    if (image_page)
        head += ",PageUp:p,PageDown:n,Escape:'" + up + "'},x,y";
    else if (!parent.empty())
        head += ",Escape:'" + parent + "'}";
    else
        head += "}";
    head += ";d.addEventListener('keydown',function(e){";
    // A key or a touch inside the playing video is the video's: it seeks.
    if (video_page) head += "e.target.closest&&e.target.closest('video')||";
    head += "e.altKey||e.ctrlKey||e.metaKey||e.shiftKey||go(k[e.key],e)});";
    // A swipe: one finger, mostly sideways, and not while the page is
    // zoomed in, where it moves the picture about.
    if (image_page)
        head += "d.addEventListener('touchstart',function(e){var t=e.touches[0];"
                "x=e.touches.length==1&&!((window.visualViewport||{}).scale>1)";
    if (image_page && video_page) head += "&&!(e.target.closest&&e.target.closest('video'))";
    if (image_page)
        head += "?t.clientX:null;"
                "y=t.clientY},{passive:true});"
                "d.addEventListener('touchend',function(e){var t=e.changedTouches[0],"
                "a=t.clientX-x,b=t.clientY-y;if(x!=null&&a*a>2500&&a*a>4*b*b)go(a<0?n:p)})";
    head += "})(document);\n</script>\n";
    return head;
}

// The video as large as the window allows, as the stylesheet sizes the
// photo on an image page (style="--w; --h" of the largest poster file);
// on the thumbnail a play mark in the middle and the duration in a corner.
const char video_style[] =
    "<style>\n"
    "td[colspan] video{display:block;margin:0 auto;max-width:100%;height:auto;"
    "width:min(calc(min(100vw,120rem) - 2*clamp(0.75rem,3vw,2.5rem) - 1rem),"
    "calc(85vh*var(--w)/var(--h)),calc(var(--w)*1px));aspect-ratio:var(--w)/var(--h);"
    "border-radius:6px;background:#000}\n"
    "@media (max-width:40rem){td[colspan] video{"
    "width:min(calc(100vw - 1.5rem),calc(85vh*var(--w)/var(--h)),calc(var(--w)*1px))}}\n"
    "a.video{position:relative}\n"
    "a.video::before{content:\"\";position:absolute;left:50%;top:50%;margin:-11px 0 0 -7px;"
    "border-style:solid;border-width:11px 0 11px 18px;"
    "border-color:transparent transparent transparent rgba(255,255,255,.92);"
    "filter:drop-shadow(0 0 2px rgba(0,0,0,.8));pointer-events:none}\n"
    "a.video::after{content:attr(data-duration);position:absolute;right:4px;bottom:4px;"
    "padding:0 4px;border-radius:3px;background:rgba(0,0,0,.72);color:#fff;"
    "font:600 11px/16px system-ui,sans-serif;pointer-events:none}\n"
    "</style>\n";

std::string duration_text(int64_t milliseconds)
{
    const int64_t seconds = (milliseconds + 500) / 1000;
    char text[32];
    if (seconds >= 3600)
        (void)std::snprintf(text, sizeof text, "%lld:%02lld:%02lld",
                            static_cast<long long>(seconds / 3600),
                            static_cast<long long>(seconds / 60 % 60),
                            static_cast<long long>(seconds % 60));
    else
        (void)std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                            static_cast<long long>(seconds % 60));
    return text;
}
