#include "support/json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace {

[[noreturn]] void fail(const std::string &what) { throw std::runtime_error("json: " + what); }

void append_utf8(std::string &out, uint32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

}  // namespace

// Recursive descent over the text; nesting is bounded so that a hostile
// message cannot exhaust the stack.
class json_parser {
public:
    explicit json_parser(std::string_view text) : text_(text) {}

    json_value document()
    {
        json_value v = value(0);
        skip_space();
        if (pos_ != text_.size()) fail("trailing characters at " + std::to_string(pos_));
        return v;
    }

private:
    static constexpr int max_depth = 200;

    void skip_space()
    {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                       text_[pos_] == '\n' || text_[pos_] == '\r'))
            ++pos_;
    }

    char peek()
    {
        if (pos_ >= text_.size()) fail("unexpected end");
        return text_[pos_];
    }

    void expect(char c)
    {
        if (peek() != c) fail(std::string("expected '") + c + "' at " + std::to_string(pos_));
        ++pos_;
    }

    void literal(std::string_view word)
    {
        if (text_.substr(pos_, word.size()) != word) fail("bad literal at " + std::to_string(pos_));
        pos_ += word.size();
    }

    json_value value(int depth)
    {
        if (depth > max_depth) fail("nesting too deep");
        skip_space();
        json_value v;
        switch (peek()) {
        case '{':
            v.kind_ = json_value::kind::object;
            ++pos_;
            skip_space();
            if (peek() == '}') {
                ++pos_;
                return v;
            }
            for (;;) {
                skip_space();
                std::string key = string();
                skip_space();
                expect(':');
                v.object_.emplace_back(std::move(key), value(depth + 1));
                skip_space();
                if (peek() == ',') {
                    ++pos_;
                    continue;
                }
                expect('}');
                return v;
            }
        case '[':
            v.kind_ = json_value::kind::array;
            ++pos_;
            skip_space();
            if (peek() == ']') {
                ++pos_;
                return v;
            }
            for (;;) {
                v.array_.push_back(value(depth + 1));
                skip_space();
                if (peek() == ',') {
                    ++pos_;
                    continue;
                }
                expect(']');
                return v;
            }
        case '"':
            v.kind_ = json_value::kind::string;
            v.string_ = string();
            return v;
        case 't':
            literal("true");
            v.kind_ = json_value::kind::boolean;
            v.boolean_ = true;
            return v;
        case 'f':
            literal("false");
            v.kind_ = json_value::kind::boolean;
            return v;
        case 'n': literal("null"); return v;
        default:
            v.kind_ = json_value::kind::number;
            v.number_ = number();
            return v;
        }
    }

    double number()
    {
        const size_t start = pos_;
        if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
        while (pos_ < text_.size() &&
               std::string_view("0123456789.eE+-").find(text_[pos_]) != std::string_view::npos)
            ++pos_;
        double result = 0;
        const char *first = text_.data() + start;
        const char *last = text_.data() + pos_;
        const auto [end, error] = std::from_chars(first, last, result);
        if (error != std::errc() || end != last || first == last)
            fail("bad number at " + std::to_string(start));
        return result;
    }

    uint32_t hex4()
    {
        if (pos_ + 4 > text_.size()) fail("short \\u escape");
        uint32_t code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[pos_++];
            code <<= 4;
            if (c >= '0' && c <= '9')
                code |= static_cast<uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                code |= static_cast<uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                code |= static_cast<uint32_t>(c - 'A' + 10);
            else
                fail("bad \\u escape");
        }
        return code;
    }

    std::string string()
    {
        expect('"');
        std::string out;
        for (;;) {
            // Copy runs of plain characters at once: base64 payloads are long.
            const size_t stop = text_.find_first_of("\"\\", pos_);
            if (stop == std::string_view::npos) fail("unterminated string");
            out.append(text_.substr(pos_, stop - pos_));
            pos_ = stop + 1;
            if (text_[stop] == '"') return out;
            const char c = peek();
            ++pos_;
            switch (c) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                uint32_t code = hex4();
                if (code >= 0xD800 && code < 0xDC00 && text_.substr(pos_, 2) == "\\u") {
                    const size_t back = pos_;
                    pos_ += 2;
                    const uint32_t low = hex4();
                    if (low >= 0xDC00 && low < 0xE000)
                        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    else
                        pos_ = back;
                }
                if (code >= 0xD800 && code < 0xE000) code = 0xFFFD;  // a lone surrogate
                append_utf8(out, code);
                break;
            }
            default: fail("bad escape at " + std::to_string(pos_ - 1));
            }
        }
    }

    std::string_view text_;
    size_t pos_ = 0;
};

json_value json_value::parse(std::string_view text) { return json_parser(text).document(); }

bool json_value::as_bool() const
{
    if (kind_ != kind::boolean) fail("not a boolean: " + dump());
    return boolean_;
}

double json_value::as_number() const
{
    if (kind_ != kind::number) fail("not a number: " + dump());
    return number_;
}

int64_t json_value::as_int() const
{
    const double n = as_number();
    if (n != std::floor(n) || std::fabs(n) > 9.0e15) fail("not an integer: " + dump());
    return static_cast<int64_t>(n);
}

const std::string &json_value::as_string() const
{
    if (kind_ != kind::string) fail("not a string: " + dump());
    return string_;
}

const std::vector<json_value> &json_value::as_array() const
{
    if (kind_ != kind::array) fail("not an array: " + dump());
    return array_;
}

const json_value *json_value::find(std::string_view key) const
{
    if (kind_ != kind::object) return nullptr;
    for (const auto &[name, member] : object_)
        if (name == key) return &member;
    return nullptr;
}

const json_value &json_value::at(std::string_view key) const
{
    const json_value *member = find(key);
    if (!member) fail("no member \"" + std::string(key) + "\" in " + dump().substr(0, 300));
    return *member;
}

std::string json_value::dump() const
{
    switch (kind_) {
    case kind::null: return "null";
    case kind::boolean: return boolean_ ? "true" : "false";
    case kind::number: {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.17g", number_);
        return buffer;
    }
    case kind::string: return json_quote(string_);
    case kind::array: {
        std::string out = "[";
        for (size_t i = 0; i < array_.size(); ++i) {
            if (i) out += ',';
            out += array_[i].dump();
        }
        return out + "]";
    }
    case kind::object: {
        std::string out = "{";
        for (size_t i = 0; i < object_.size(); ++i) {
            if (i) out += ',';
            out += json_quote(object_[i].first);
            out += ':';
            out += object_[i].second.dump();
        }
        return out + "}";
    }
    }
    return "null";
}

std::string json_quote(std::string_view text)
{
    static constexpr char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (byte < 0x20) {
                out += "\\u00";
                out += hex[byte >> 4];
                out += hex[byte & 0x0F];
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}
