#include "support/url_text.h"

#include <cctype>

std::string file_url(const std::string &path)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9') || c == '/' || c == '-' || c == '.' || c == '_' ||
            c == '~') {
            url += c;
        } else {
            url += '%';
            url += hex[byte >> 4];
            url += hex[byte & 0x0F];
        }
    }
    return url;
}

std::string percent_decode(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() &&
            std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}
