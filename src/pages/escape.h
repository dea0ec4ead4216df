// File names and EXIF texts are data, not markup: these make them safe to
// write into a page. Titles and captions from .description are the gallery
// owner's own markup and are never passed through here.
#pragma once

#include <string>
#include <string_view>

// & < > " ' become &amp; &lt; &gt; &quot; &#39;; everything else stays.
std::string html_escape(std::string_view text);

// For a name inside an href or src value: % # ? : \ control bytes and bytes
// above 0x7F are percent-encoded first (so the browser reads a path, not a
// fragment, query, scheme or another host, and finds the file whatever
// encoding it assumes for the page), then the result is HTML-escaped.
// Blanks stay as they are, but for one that starts the name, which a
// browser would drop from the start of a link.
std::string url_escape(std::string_view name);
