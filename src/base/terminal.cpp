#include "base/terminal.h"

#include <unistd.h>

bool is_terminal(std::FILE *stream)
{
    // The answer does not change during a run.
    static const bool out = isatty(STDOUT_FILENO) == 1;
    static const bool err = isatty(STDERR_FILENO) == 1;
    if (stream == stdout) return out;
    if (stream == stderr) return err;
    return isatty(fileno(stream)) == 1;
}

namespace {

// The length of the valid UTF-8 sequence at text[i] that encodes no control
// character, or 0.
size_t printable_sequence(std::string_view text, size_t i)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t length;
    char32_t code;
    if (lead < 0x80) return lead >= 0x20 && lead != 0x7F ? 1 : 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        code = lead & 0x07;
    } else
        return 0;
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    static constexpr char32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < shortest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    if (code >= 0x80 && code <= 0x9F) return 0;      // C1 controls: CSI, OSC and the like
    if (code == 0x2028 || code == 0x2029) return 0;  // line and paragraph separators
    return length;
}

}  // namespace

std::string terminal_safe(std::string_view line)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string shown;
    shown.reserve(line.size());
    // The newline that ends the line is its own; any other came in a name.
    const bool ends_line = line.ends_with('\n');
    if (ends_line) line.remove_suffix(1);
    for (size_t i = 0; i < line.size();) {
        if (const size_t length = printable_sequence(line, i)) {
            shown.append(line.substr(i, length));
            i += length;
            continue;
        }
        const auto b = static_cast<unsigned char>(line[i++]);
        shown += "\\x";
        shown += hex[b >> 4];
        shown += hex[b & 0x0F];
    }
    if (ends_line) shown += '\n';
    return shown;
}
