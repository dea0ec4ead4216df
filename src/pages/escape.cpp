#include "pages/escape.h"

std::string html_escape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c; break;
        }
    }
    return out;
}

std::string url_escape(std::string_view name)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(name.size());
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        // Browsers drop blanks that start a URL: one that starts a name
        // (and so, often, the link) is encoded.
        const bool leading_blank = byte == ' ' && encoded.empty();
        if (byte == '%' || byte == '#' || byte == '?' || byte == ':' || byte == '\\' ||
            byte < 0x20 || byte >= 0x7F || leading_blank) {
            encoded += '%';
            encoded += hex[byte >> 4];
            encoded += hex[byte & 0x0F];
        } else {
            encoded += c;
        }
    }
    return html_escape(encoded);
}
