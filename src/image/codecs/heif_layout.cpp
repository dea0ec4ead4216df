#include "image/codecs/heif_layout.h"

#include "base/limits.h"
#include "image/messages.h"

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

namespace {

constexpr uint32_t fourcc(const char (&name)[5])
{
    return uint32_t(uint8_t(name[0])) << 24 | uint32_t(uint8_t(name[1])) << 16 |
           uint32_t(uint8_t(name[2])) << 8 | uint32_t(uint8_t(name[3]));
}

// Big-endian fields of a box read into memory; a read past its end sets
// failed and gives 0.
struct cursor {
    std::span<const uint8_t> bytes;
    size_t at = 0;
    bool failed = false;

    uint64_t read(size_t size)
    {
        if (size > 8 || bytes.size() - at < size || at > bytes.size()) {
            failed = true;
            at = bytes.size();
            return 0;
        }
        uint64_t value = 0;
        for (size_t i = 0; i < size; ++i) value = value << 8 | bytes[at + i];
        at += size;
        return value;
    }
    void skip(size_t size)
    {
        if (bytes.size() - at < size) failed = true;
        at = failed ? bytes.size() : at + size;
    }
};

// A box: where its payload starts in the file and how long it is.
struct box {
    uint32_t type = 0;
    uint64_t start = 0;
    uint64_t size = 0;
    uint64_t header = 0;  // where the box itself starts
};

// Bits of a coded stream, most significant first; past the end, zeros and
// failed.
struct bit_reader {
    std::span<const uint8_t> bytes;
    size_t bit = 0;
    bool failed = false;

    uint32_t read(int count)
    {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            if (bit / 8 >= bytes.size()) {
                failed = true;
                return 0;
            }
            value = value << 1 | ((bytes[bit / 8] >> (7 - bit % 8)) & 1);
            ++bit;
        }
        return value;
    }
    void skip(int count)
    {
        for (int i = 0; i < count; ++i) read(1);
    }
    // Exp-Golomb, as HEVC codes sizes.
    uint32_t read_ue()
    {
        int zeros = 0;
        while (read(1) == 0) {
            if (failed || ++zeros > 31) {
                failed = true;
                return 0;
            }
        }
        return (uint32_t{1} << zeros) - 1 + read(zeros);
    }
};

struct location {
    int method = 0;                                      // 0: in the file, 1: in the idat box
    std::vector<std::pair<uint64_t, uint64_t>> extents;  // offset, length
};

struct size_2d {
    uint64_t width = 0;
    uint64_t height = 0;
    uint64_t pixels() const { return width * height; }
};

// A coded image: the picture it decodes to, the planes the decoder holds
// for it (larger by an HEVC conformance window), and their bytes a sample.
struct coded_image {
    size_2d shown;
    size_2d coded;
    unsigned bytes_per_sample = 1;
};

class layout_reader {
public:
    layout_reader(uint64_t file_size, const heif_read_at &read) : file_size_(file_size), read_(read)
    {}

    heif_layout run(std::string &error);
    std::vector<uint64_t> long_colour_boxes(uint64_t longest);
    std::optional<uint64_t> box_bytes(uint64_t longest);

private:
    uint64_t file_size_;
    const heif_read_at &read_;
    std::string error_;

    uint32_t primary_ = 0;
    bool have_primary_ = false;
    std::map<uint32_t, uint32_t> types_;
    std::map<uint32_t, location> locations_;
    std::optional<box> idat_;
    // References by type, from an item to others, in order.
    std::map<uint32_t, std::map<uint32_t, std::vector<uint32_t>>> references_;
    std::vector<box> properties_;  // ipco's, index 1 first
    std::map<uint32_t, std::vector<uint16_t>> associations_;
    std::map<uint64_t, coded_image> hevc_sizes_;                 // by where their hvcC box starts
    std::map<uint32_t, std::pair<size_2d, uint64_t>> measured_;  // picture, pixels held
    uint64_t longest_side_ = 0;
    unsigned bytes_per_sample_ = 1;

    bool fail(const std::string &why)
    {
        if (error_.empty()) error_ = why;
        return false;
    }
    std::optional<std::vector<uint8_t>> read_at(uint64_t offset, uint64_t size);
    std::optional<std::vector<uint8_t>> payload(const box &b, uint64_t most = largest_heif_box)
    {
        return read_at(b.start, std::min(b.size, most));
    }
    bool children(uint64_t start, uint64_t end, std::vector<box> &found);
    bool read_meta(const box &meta);
    bool read_iinf(const box &b);
    bool read_iloc(const box &b);
    bool read_iref(const box &b);
    bool read_iprp(const box &b);
    std::optional<std::vector<uint8_t>> item_data(uint32_t item, uint64_t most);
    const box *property(uint32_t item, uint32_t type) const;
    std::optional<coded_image> coded_size(uint32_t item);
    std::optional<coded_image> hevc_size(uint32_t item);
    std::optional<coded_image> av1_size(uint32_t item);
    bool measure(uint32_t item, int depth, size_2d &picture, uint64_t &pixels);
    bool measure_once(uint32_t item, int depth, size_2d &picture, uint64_t &pixels);
};

std::optional<std::vector<uint8_t>> layout_reader::read_at(uint64_t offset, uint64_t size)
{
    if (size > largest_heif_box) {
        fail("a box or item of more than 16 MiB where the picture's size is read");
        return std::nullopt;
    }
    if (offset > file_size_ || size > file_size_ - offset) {
        fail("a box or item that reaches past the end of the file");
        return std::nullopt;
    }
    std::vector<uint8_t> bytes(size);
    if (!read_(offset, bytes)) {
        fail("the file could not be read");
        return std::nullopt;
    }
    return bytes;
}

// The boxes from start to end, headers only.
bool layout_reader::children(uint64_t start, uint64_t end, std::vector<box> &found)
{
    for (uint64_t at = start; at < end;) {
        if (end - at < 8) return fail("a box cut short");
        if (found.size() >= most_heif_children) return fail("too many boxes");
        const auto header = read_at(at, std::min<uint64_t>(16, end - at));
        if (!header) return false;
        cursor c{*header};
        uint64_t size = c.read(4);
        const auto type = static_cast<uint32_t>(c.read(4));
        uint64_t header_size = 8;
        if (size == 1) {
            size = c.read(8);
            header_size = 16;
        } else if (size == 0) {
            size = end - at;
        }
        if (c.failed || size < header_size || size > end - at) return fail("a box cut short");
        found.push_back({type, at + header_size, size - header_size, at});
        at += size;
    }
    return true;
}

heif_layout layout_reader::run(std::string &error)
{
    heif_layout layout;
    std::vector<box> top;
    if (children(0, file_size_, top)) {
        const auto meta = std::find_if(top.begin(), top.end(),
                                       [](const box &b) { return b.type == fourcc("meta"); });
        if (meta == top.end())
            fail("no meta box");
        else if (read_meta(*meta)) {
            size_2d picture;
            uint64_t pixels = 0;
            if (!have_primary_)
                fail("no primary item");
            else if (measure(primary_, 0, picture, pixels)) {
                // An alpha plane comes decoded beside the picture.
                const auto aux = references_.find(fourcc("auxl"));
                if (aux != references_.end())
                    for (const auto &[from, to] : aux->second) {
                        if (std::find(to.begin(), to.end(), primary_) == to.end()) continue;
                        size_2d alpha;
                        uint64_t alpha_pixels = 0;
                        // Depth and gain maps are auxiliary too, and not
                        // decoded: one that cannot be measured is passed by.
                        if (!measure(from, 1, alpha, alpha_pixels)) {
                            error_.clear();
                            continue;
                        }
                        pixels += alpha_pixels;
                    }
                if (error_.empty()) {
                    if (picture.width > UINT32_MAX || picture.height > UINT32_MAX)
                        fail("a picture too large to state");
                    layout.width = static_cast<uint32_t>(picture.width);
                    layout.height = static_cast<uint32_t>(picture.height);
                    layout.pixels = pixels;
                    layout.longest_side = longest_side_;
                    layout.bytes_per_sample = bytes_per_sample_;
                    if (const box *ispe = property(primary_, fourcc("ispe"))) {
                        if (const auto bytes = payload(*ispe, 12)) {
                            cursor c{*bytes};
                            c.skip(4);  // version and flags
                            layout.stated_width = static_cast<uint32_t>(c.read(4));
                            layout.stated_height = static_cast<uint32_t>(c.read(4));
                            if (c.failed) fail("an ispe box cut short");
                        }
                    }
                    const auto type = types_.find(primary_);
                    layout.canvas = type != types_.end() && (type->second == fourcc("grid") ||
                                                             type->second == fourcc("iovl"));
                }
            }
        }
    }
    error = error_;
    return layout;
}

std::vector<uint64_t> layout_reader::long_colour_boxes(uint64_t longest)
{
    std::vector<uint64_t> found;
    std::vector<box> top, parts, groups, properties;
    if (!children(0, file_size_, top)) return found;
    for (const box &meta : top) {
        if (meta.type != fourcc("meta") || meta.size < 4) continue;
        if (!children(meta.start + 4, meta.start + meta.size, parts)) return found;
    }
    for (const box &part : parts)
        if (part.type == fourcc("iprp") && !children(part.start, part.start + part.size, groups))
            return found;
    for (const box &group : groups)
        if (group.type == fourcc("ipco") &&
            !children(group.start, group.start + group.size, properties))
            return found;
    for (const box &property : properties)
        if (property.type == fourcc("colr") && property.size > longest)
            found.push_back(property.header + 4);
    return found;
}

std::optional<uint64_t> layout_reader::box_bytes(uint64_t longest)
{
    std::vector<box> top, parts, groups, properties;
    if (!children(0, file_size_, top)) return std::nullopt;
    const auto whole = [](const box &b) { return b.start + b.size - b.header; };
    uint64_t bytes = 0;
    for (const box &b : top) {
        if (b.type == fourcc("mdat")) continue;
        bytes += whole(b);
        if (b.type != fourcc("meta") || b.size < 4) continue;
        parts.clear();
        if (!children(b.start + 4, b.start + b.size, parts)) return std::nullopt;
        for (const box &part : parts) {
            if (part.type == fourcc("idat")) bytes -= whole(part);
            if (part.type != fourcc("iprp")) continue;
            groups.clear();
            if (!children(part.start, part.start + part.size, groups)) return std::nullopt;
            for (const box &group : groups) {
                if (group.type != fourcc("ipco")) continue;
                properties.clear();
                if (!children(group.start, group.start + group.size, properties))
                    return std::nullopt;
                for (const box &property : properties)
                    if (property.type == fourcc("colr") && property.size > longest)
                        bytes -= whole(property);
            }
        }
    }
    return bytes;
}

bool layout_reader::read_meta(const box &meta)
{
    std::vector<box> parts;
    if (meta.size < 4 || !children(meta.start + 4, meta.start + meta.size, parts)) return false;
    for (const box &b : parts) {
        switch (b.type) {
        case fourcc("pitm"): {
            const auto bytes = payload(b, 8);
            if (!bytes) return false;
            cursor c{*bytes};
            const uint64_t version = c.read(1);
            c.skip(3);
            primary_ = static_cast<uint32_t>(c.read(version == 0 ? 2 : 4));
            if (c.failed) return fail("a pitm box cut short");
            have_primary_ = true;
            break;
        }
        case fourcc("iinf"):
            if (!read_iinf(b)) return false;
            break;
        case fourcc("iloc"):
            if (!read_iloc(b)) return false;
            break;
        case fourcc("iref"):
            if (!read_iref(b)) return false;
            break;
        case fourcc("iprp"):
            if (!read_iprp(b)) return false;
            break;
        case fourcc("idat"): idat_ = b; break;
        default: break;
        }
    }
    return true;
}

bool layout_reader::read_iinf(const box &b)
{
    const auto head = payload(b, 8);
    if (!head) return false;
    cursor c{*head};
    const uint64_t version = c.read(1);
    c.skip(3 + (version == 0 ? 2 : 4));
    if (c.failed) return fail("an iinf box cut short");
    std::vector<box> entries;
    if (!children(b.start + c.at, b.start + b.size, entries)) return false;
    for (const box &entry : entries) {
        if (entry.type != fourcc("infe")) continue;
        const auto bytes = payload(entry, 14);
        if (!bytes) return false;
        cursor e{*bytes};
        const uint64_t infe_version = e.read(1);
        e.skip(3);
        if (infe_version < 2) continue;  // no item types before version 2
        const auto id = static_cast<uint32_t>(e.read(infe_version == 2 ? 2 : 4));
        e.skip(2);
        const auto type = static_cast<uint32_t>(e.read(4));
        if (e.failed) return fail("an infe box cut short");
        types_[id] = type;
    }
    return true;
}

bool layout_reader::read_iloc(const box &b)
{
    const auto bytes = payload(b);
    if (!bytes) return false;
    cursor c{*bytes};
    const uint64_t version = c.read(1);
    c.skip(3);
    const uint64_t sizes = c.read(2);
    const size_t offset_size = (sizes >> 12) & 15, length_size = (sizes >> 8) & 15,
                 base_size = (sizes >> 4) & 15,
                 index_size = version == 1 || version == 2 ? sizes & 15 : 0;
    const uint64_t count = c.read(version < 2 ? 2 : 4);
    for (uint64_t i = 0; i < count && !c.failed; ++i) {
        const auto id = static_cast<uint32_t>(c.read(version < 2 ? 2 : 4));
        location where;
        if (version == 1 || version == 2) where.method = static_cast<int>(c.read(2) & 15);
        c.skip(2);  // data reference index
        const uint64_t base = c.read(base_size);
        const uint64_t extents = c.read(2);
        for (uint64_t e = 0; e < extents && !c.failed; ++e) {
            c.skip(index_size);
            const uint64_t offset = c.read(offset_size);
            const uint64_t length = c.read(length_size);
            where.extents.emplace_back(base + offset, length);
        }
        locations_[id] = std::move(where);
    }
    if (c.failed) return fail("an iloc box cut short");
    return true;
}

bool layout_reader::read_iref(const box &b)
{
    const auto head = payload(b, 4);
    if (!head) return false;
    const bool wide = (*head)[0] != 0;
    std::vector<box> kinds;
    if (!children(b.start + 4, b.start + b.size, kinds)) return false;
    for (const box &kind : kinds) {
        if (kind.type != fourcc("dimg") && kind.type != fourcc("auxl")) continue;
        const auto bytes = payload(kind);
        if (!bytes) return false;
        cursor c{*bytes};
        const auto from = static_cast<uint32_t>(c.read(wide ? 4 : 2));
        const uint64_t count = c.read(2);
        std::vector<uint32_t> &to = references_[kind.type][from];
        for (uint64_t i = 0; i < count && !c.failed; ++i)
            to.push_back(static_cast<uint32_t>(c.read(wide ? 4 : 2)));
        if (c.failed) return fail("an iref box cut short");
    }
    return true;
}

bool layout_reader::read_iprp(const box &b)
{
    std::vector<box> parts;
    if (!children(b.start, b.start + b.size, parts)) return false;
    for (const box &part : parts) {
        if (part.type == fourcc("ipco")) {
            if (!children(part.start, part.start + part.size, properties_)) return false;
            continue;
        }
        if (part.type != fourcc("ipma")) continue;
        const auto bytes = payload(part);
        if (!bytes) return false;
        cursor c{*bytes};
        const uint64_t version = c.read(1);
        const bool wide_index = (c.read(3) & 1) != 0;
        const uint64_t count = c.read(4);
        for (uint64_t i = 0; i < count && !c.failed; ++i) {
            const auto id = static_cast<uint32_t>(c.read(version < 1 ? 2 : 4));
            const uint64_t associations = c.read(1);
            std::vector<uint16_t> &indices = associations_[id];
            for (uint64_t a = 0; a < associations && !c.failed; ++a)
                indices.push_back(
                    static_cast<uint16_t>(wide_index ? c.read(2) & 0x7FFF : c.read(1) & 0x7F));
        }
        if (c.failed) return fail("an ipma box cut short");
    }
    return true;
}

// The first bytes of an item's data, at most `most` of them.
std::optional<std::vector<uint8_t>> layout_reader::item_data(uint32_t item, uint64_t most)
{
    const auto found = locations_.find(item);
    if (found == locations_.end() || found->second.extents.empty()) {
        fail("an image item without data");
        return std::nullopt;
    }
    std::vector<uint8_t> data;
    for (const auto &[offset, length] : found->second.extents) {
        if (data.size() >= most) break;
        uint64_t start = offset;
        uint64_t size = std::min<uint64_t>(length, most - data.size());
        // A length of 0 runs to the end of the file (or of the idat box).
        if (found->second.method == 1) {
            if (!idat_ || offset > idat_->size) {
                fail("item data outside the idat box");
                return std::nullopt;
            }
            start = idat_->start + offset;
            if (length == 0 || size > idat_->size - offset)
                size = std::min<uint64_t>(most - data.size(), idat_->size - offset);
        } else if (found->second.method != 0) {
            fail("item data in another item");
            return std::nullopt;
        } else if (length == 0 && offset <= file_size_) {
            size = std::min<uint64_t>(most - data.size(), file_size_ - offset);
        }
        const auto bytes = read_at(start, size);
        if (!bytes) return std::nullopt;
        data.insert(data.end(), bytes->begin(), bytes->end());
    }
    return data;
}

const box *layout_reader::property(uint32_t item, uint32_t type) const
{
    const auto found = associations_.find(item);
    if (found == associations_.end()) return nullptr;
    for (const uint16_t index : found->second)
        if (index > 0 && index <= properties_.size() && properties_[index - 1].type == type)
            return &properties_[index - 1];
    return nullptr;
}

// Without emulation prevention bytes: 0x000003 codes 0x0000.
std::vector<uint8_t> raw_bytes(std::span<const uint8_t> nal)
{
    std::vector<uint8_t> raw;
    raw.reserve(nal.size());
    int zeros = 0;
    for (const uint8_t byte : nal) {
        if (zeros >= 2 && byte == 3) {
            zeros = 0;
            continue;
        }
        zeros = byte == 0 ? zeros + 1 : 0;
        raw.push_back(byte);
    }
    return raw;
}

// The sizes of an HEVC sequence parameter set, its two-byte NAL header
// first: pic_width_in_luma_samples and pic_height_in_luma_samples, the
// picture inside its conformance window, and the bit depths.
std::optional<coded_image> sps_size(std::span<const uint8_t> nal)
{
    const std::vector<uint8_t> raw = raw_bytes(nal);
    bit_reader bits{raw};
    bits.skip(16);  // NAL unit header
    bits.skip(4);   // sps_video_parameter_set_id
    const uint32_t sub_layers = bits.read(3);
    bits.skip(1);
    bits.skip(96);  // the general profile, tier and level
    bool profile_present[8] = {}, level_present[8] = {};
    for (uint32_t i = 0; i < sub_layers; ++i) {
        profile_present[i] = bits.read(1) != 0;
        level_present[i] = bits.read(1) != 0;
    }
    if (sub_layers > 0) bits.skip(2 * (8 - static_cast<int>(sub_layers)));
    for (uint32_t i = 0; i < sub_layers; ++i) {
        if (profile_present[i]) bits.skip(88);
        if (level_present[i]) bits.skip(8);
    }
    bits.read_ue();  // sps_seq_parameter_set_id
    const uint32_t chroma_format = bits.read_ue();
    const bool separate_planes = chroma_format == 3 && bits.read(1) != 0;
    coded_image image;
    image.coded.width = bits.read_ue();
    image.coded.height = bits.read_ue();
    image.shown = image.coded;
    if (bits.read(1) != 0) {  // conformance_window_flag, offsets in chroma samples
        const bool subsampled = !separate_planes && (chroma_format == 1 || chroma_format == 2);
        const uint64_t unit_x = subsampled ? 2 : 1;
        const uint64_t unit_y = !separate_planes && chroma_format == 1 ? 2 : 1;
        const uint64_t left = bits.read_ue(), right = bits.read_ue();
        const uint64_t top = bits.read_ue(), bottom = bits.read_ue();
        if (unit_x * (left + right) >= image.coded.width ||
            unit_y * (top + bottom) >= image.coded.height)
            return std::nullopt;
        image.shown.width -= unit_x * (left + right);
        image.shown.height -= unit_y * (top + bottom);
    }
    const uint32_t luma_depth = bits.read_ue() + 8;
    const uint32_t chroma_depth = bits.read_ue() + 8;
    image.bytes_per_sample = luma_depth > 8 || chroma_depth > 8 ? 2 : 1;
    if (bits.failed) return std::nullopt;
    return image;
}

std::optional<coded_image> layout_reader::hevc_size(uint32_t item)
{
    const box *config = property(item, fourcc("hvcC"));
    if (!config) {
        fail("an HEVC image without its hvcC box");
        return std::nullopt;
    }
    // The tiles of a grid share one, usually.
    if (const auto known = hevc_sizes_.find(config->start); known != hevc_sizes_.end())
        return known->second;
    const auto bytes = payload(*config);
    if (!bytes) return std::nullopt;
    cursor c{*bytes};
    c.skip(22);
    const uint64_t arrays = c.read(1);
    for (uint64_t a = 0; a < arrays && !c.failed; ++a) {
        const uint64_t nal_type = c.read(1) & 0x3F;
        const uint64_t units = c.read(2);
        for (uint64_t u = 0; u < units && !c.failed; ++u) {
            const size_t length = c.read(2);
            if (c.failed || bytes->size() - c.at < length) break;
            const std::span<const uint8_t> nal(bytes->data() + c.at, length);
            c.skip(length);
            if (nal_type == 33) {
                if (auto size = sps_size(nal)) return hevc_sizes_[config->start] = *size;
            }
        }
    }
    fail("an HEVC image without a sequence parameter set");
    return std::nullopt;
}

// max_frame_width_minus_1 and max_frame_height_minus_1 of an AV1 sequence
// header OBU's payload, plus one each.
std::optional<size_2d> sequence_header_size(std::span<const uint8_t> payload)
{
    bit_reader bits{payload};
    bits.skip(3);  // seq_profile
    bits.skip(1);  // still_picture
    if (bits.read(1) != 0) {
        bits.skip(5);  // reduced_still_picture_header: seq_level_idx[0]
    } else {
        bool decoder_model_info = false;
        int buffer_delay_length = 0;
        if (bits.read(1) != 0) {  // timing_info_present_flag
            bits.skip(64);
            if (bits.read(1) != 0) {  // equal_picture_interval: uvlc
                int zeros = 0;
                while (!bits.failed && bits.read(1) == 0) ++zeros;
                if (zeros < 32) bits.skip(zeros);
            }
            decoder_model_info = bits.read(1) != 0;
            if (decoder_model_info) {
                buffer_delay_length = static_cast<int>(bits.read(5)) + 1;
                bits.skip(32 + 5 + 5);
            }
        }
        const bool initial_display_delay = bits.read(1) != 0;
        const uint32_t points = bits.read(5) + 1;
        for (uint32_t i = 0; i < points && !bits.failed; ++i) {
            bits.skip(12);
            if (bits.read(5) > 7) bits.skip(1);
            if (decoder_model_info && bits.read(1) != 0) bits.skip(2 * buffer_delay_length + 1);
            if (initial_display_delay && bits.read(1) != 0) bits.skip(4);
        }
    }
    const int width_bits = static_cast<int>(bits.read(4)) + 1;
    const int height_bits = static_cast<int>(bits.read(4)) + 1;
    size_2d size;
    size.width = uint64_t{bits.read(width_bits)} + 1;
    size.height = uint64_t{bits.read(height_bits)} + 1;
    if (bits.failed) return std::nullopt;
    return size;
}

// The sequence header among OBUs, each with its size field as AVIF has them.
std::optional<size_2d> obus_size(std::span<const uint8_t> obus)
{
    cursor c{obus};
    while (c.at < obus.size() && !c.failed) {
        const uint64_t header = c.read(1);
        const int type = static_cast<int>(header >> 3) & 15;
        if (header & 4) c.skip(1);  // extension
        if ((header & 2) == 0) return std::nullopt;
        uint64_t size = 0;
        for (int i = 0; i < 8; ++i) {  // leb128
            const uint64_t byte = c.read(1);
            size |= (byte & 0x7F) << (7 * i);
            if ((byte & 0x80) == 0) break;
        }
        if (c.failed || size > obus.size() - c.at) return std::nullopt;
        if (type == 1) return sequence_header_size(obus.subspan(c.at, size));
        c.skip(size);
    }
    return std::nullopt;
}

std::optional<coded_image> layout_reader::av1_size(uint32_t item)
{
    // The sequence header comes first in the item's data; av1C may carry a
    // copy, which is not required. Without av1C's high_bitdepth flag, the
    // depth is taken as high.
    coded_image image;
    image.bytes_per_sample = 2;
    std::optional<size_2d> size;
    if (const box *config = property(item, fourcc("av1C")); config && config->size >= 4) {
        const auto bytes = payload(*config);
        if (!bytes) return std::nullopt;
        image.bytes_per_sample = ((*bytes)[2] & 0x40) != 0 ? 2 : 1;
        if (bytes->size() > 4) size = obus_size(std::span<const uint8_t>(*bytes).subspan(4));
    }
    if (!size) {
        const auto data = item_data(item, 512);
        if (!data) return std::nullopt;
        size = obus_size(*data);
    }
    if (!size) {
        fail("an AV1 image without a sequence header");
        return std::nullopt;
    }
    image.shown = image.coded = *size;
    return image;
}

std::optional<coded_image> layout_reader::coded_size(uint32_t item)
{
    const auto type = types_.find(item);
    if (type != types_.end() && type->second == fourcc("hvc1")) return hevc_size(item);
    if (type != types_.end() && type->second == fourcc("av01")) return av1_size(item);
    fail("an image item of a type libheif does not decode");
    return std::nullopt;
}

// The picture an item decodes to, and the most pixels held at once to make
// it (added to pixels).
bool layout_reader::measure(uint32_t item, int depth, size_2d &picture, uint64_t &pixels)
{
    // Items that many others share are measured once: a few bytes of
    // references must not cost exponential time.
    if (const auto known = measured_.find(item); known != measured_.end()) {
        picture = known->second.first;
        pixels += known->second.second;
        return true;
    }
    uint64_t held = 0;
    if (!measure_once(item, depth, picture, held)) return false;
    measured_[item] = {picture, held};
    longest_side_ = std::max({longest_side_, picture.width, picture.height});
    pixels += held;
    return true;
}

bool layout_reader::measure_once(uint32_t item, int depth, size_2d &picture, uint64_t &pixels)
{
    if (depth > deepest_heif_reference)
        return fail("image items that refer to each other in a loop");
    const auto type = types_.find(item);
    if (type == types_.end()) return fail("an image item without an infe box");
    const bool grid = type->second == fourcc("grid"), overlay = type->second == fourcc("iovl");
    if (!grid && !overlay && type->second != fourcc("iden")) {
        const auto image = coded_size(item);
        if (!image) return false;
        picture = image->shown;
        pixels += image->coded.pixels();
        longest_side_ = std::max({longest_side_, image->coded.width, image->coded.height});
        bytes_per_sample_ = std::max(bytes_per_sample_, image->bytes_per_sample);
        return true;
    }
    std::vector<uint32_t> inputs;
    if (const auto refs = references_.find(fourcc("dimg")); refs != references_.end())
        if (const auto from = refs->second.find(item); from != refs->second.end())
            inputs = from->second;
    if (inputs.empty()) return fail("a derived image item without its inputs");
    if (type->second == fourcc("iden")) return measure(inputs.front(), depth + 1, picture, pixels);

    const auto data = item_data(item, 64);
    if (!data) return false;
    cursor c{*data};
    c.skip(1);
    const bool wide = (c.read(1) & 1) != 0;
    if (grid)
        c.skip(2);  // rows and columns
    else
        c.skip(8);  // the canvas fill colour
    picture.width = c.read(wide ? 4 : 2);
    picture.height = c.read(wide ? 4 : 2);
    if (c.failed) return fail("a grid or overlay header cut short");
    // The canvas, and beside it the largest input while it is decoded.
    uint64_t largest = 0;
    for (const uint32_t input :
         std::vector<uint32_t>(inputs.begin(), std::unique(inputs.begin(), inputs.end()))) {
        size_2d tile;
        uint64_t tile_pixels = 0;
        if (!measure(input, depth + 1, tile, tile_pixels)) return false;
        largest = std::max(largest, tile_pixels);
    }
    pixels += picture.pixels() + largest;
    return true;
}

}  // namespace

result<heif_layout> read_heif_layout(uint64_t file_size, const heif_read_at &read,
                                     const std::string &path)
{
    std::string why;
    const heif_layout layout = layout_reader(file_size, read).run(why);
    if (!why.empty()) return message::heif_layout_unreadable(path, why);
    return layout;
}

std::vector<uint64_t> long_colour_boxes(uint64_t file_size, const heif_read_at &read,
                                        uint64_t longest)
{
    return layout_reader(file_size, read).long_colour_boxes(longest);
}

std::optional<uint64_t> heif_box_bytes(uint64_t file_size, const heif_read_at &read,
                                       uint64_t longest)
{
    return layout_reader(file_size, read).box_bytes(longest);
}
