#include "support/icc_fixture.h"

#include <lcms2.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

struct profile_closer {
    void operator()(void *profile) const { cmsCloseProfile(profile); }
};
using unique_profile = std::unique_ptr<void, profile_closer>;

struct curve_freer {
    void operator()(cmsToneCurve *curve) const { cmsFreeToneCurve(curve); }
};

struct mlu_freer {
    void operator()(cmsMLU *mlu) const { cmsMLUfree(mlu); }
};

struct transform_freer {
    void operator()(void *transform) const { cmsDeleteTransform(transform); }
};

void write_text(cmsHPROFILE profile, cmsTagSignature tag, const std::string &text)
{
    std::unique_ptr<cmsMLU, mlu_freer> mlu(cmsMLUalloc(nullptr, 1));
    if (!mlu || !cmsMLUsetASCII(mlu.get(), "en", "US", text.c_str()) ||
        !cmsWriteTag(profile, tag, mlu.get()))
        throw std::runtime_error("fixture: lcms2 could not write a text tag");
}

std::vector<uint8_t> saved(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    if (!cmsSaveProfileToMem(profile, nullptr, &size))
        throw std::runtime_error("fixture: lcms2 save failed");
    std::vector<uint8_t> bytes(size);
    if (!cmsSaveProfileToMem(profile, bytes.data(), &size))
        throw std::runtime_error("fixture: lcms2 save failed");
    bytes.resize(size);
    return bytes;
}

void put_32(std::vector<uint8_t> &bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

uint32_t get_32(const std::vector<uint8_t> &bytes, size_t at)
{
    return uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 |
           uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}

void append_32(std::vector<uint8_t> &bytes, uint32_t value)
{
    bytes.resize(bytes.size() + 4);
    put_32(bytes, bytes.size() - 4, value);
}

void append_16(std::vector<uint8_t> &bytes, uint16_t value)
{
    bytes.push_back(static_cast<uint8_t>(value >> 8));
    bytes.push_back(static_cast<uint8_t>(value));
}

uint32_t four_characters(const char (&text)[5])
{
    return uint32_t(uint8_t(text[0])) << 24 | uint32_t(uint8_t(text[1])) << 16 |
           uint32_t(uint8_t(text[2])) << 8 | uint8_t(text[3]);
}

}  // namespace

std::vector<uint8_t> with_tag(std::vector<uint8_t> profile, const char (&signature)[5],
                              const std::vector<uint8_t> &data)
{
    // The header, the tag count at 128, then 12 bytes a tag: signature,
    // offset, size.
    const uint32_t tags = get_32(profile, 128);
    for (uint32_t tag = 0; tag < tags; ++tag)
        put_32(profile, 132 + 12 * tag + 4, get_32(profile, 132 + 12 * tag + 4) + 12);
    const auto entry = profile.begin() + 132 + 12 * static_cast<std::ptrdiff_t>(tags);
    profile.insert(entry, 12, 0);
    put_32(profile, 128, tags + 1);
    profile.resize((profile.size() + 3) / 4 * 4);
    put_32(profile, 132 + 12 * tags, four_characters(signature));
    put_32(profile, 132 + 12 * tags + 4, static_cast<uint32_t>(profile.size()));
    put_32(profile, 132 + 12 * tags + 8, static_cast<uint32_t>(data.size()));
    profile.insert(profile.end(), data.begin(), data.end());
    put_32(profile, 0, static_cast<uint32_t>(profile.size()));
    return profile;
}

std::vector<uint8_t> multi_process_elements(uint32_t elements)
{
    std::vector<uint8_t> tag;
    append_32(tag, four_characters("mpet"));
    append_32(tag, 0);
    append_16(tag, 3);  // channels in, then out
    append_16(tag, 3);
    append_32(tag, elements);
    // The positions, from the tag's start: one matrix of 12 floats.
    const uint32_t matrix = 16 + 8 * elements;
    constexpr uint32_t matrix_size = 12 + 12 * 4;
    for (uint32_t i = 0; i < elements; ++i) {
        append_32(tag, matrix);
        append_32(tag, matrix_size);
    }
    append_32(tag, four_characters("matf"));
    append_32(tag, 0);
    append_16(tag, 3);
    append_16(tag, 3);
    const float identity[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};  // then the offsets
    for (const float value : identity) {
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        append_32(tag, bits);
    }
    return tag;
}

std::vector<uint8_t> lut_claiming_table(uint8_t grid_points, uint8_t outputs)
{
    std::vector<uint8_t> tag;
    append_32(tag, four_characters("mAB "));
    append_32(tag, 0);
    tag.push_back(3);
    tag.push_back(outputs);
    append_16(tag, 0);
    // Offsets of the B curves, the matrix, the M curves, the table and the
    // A curves: the table alone, right after them.
    for (const uint32_t offset : {0u, 0u, 0u, 32u, 0u}) append_32(tag, offset);
    // Its points a side for each of 16 inputs, then its precision (2
    // bytes) and three bytes of padding; its entries are left out.
    for (int input = 0; input < 16; ++input) tag.push_back(input < 3 ? grid_points : 0);
    for (const uint8_t byte : {2, 0, 0, 0}) tag.push_back(byte);
    return tag;
}

std::vector<uint8_t> srgb_curve_profile(const rgb_primaries &space, size_t at_least)
{
    const cmsCIExyY white{space.white[0], space.white[1], 1.0};
    const cmsCIExyYTRIPLE colorants{{space.red[0], space.red[1], 1.0},
                                    {space.green[0], space.green[1], 1.0},
                                    {space.blue[0], space.blue[1], 1.0}};
    // IEC 61966-2-1: Y = ((X + 0.055) / 1.055)^2.4 above 0.04045, X / 12.92 below.
    const cmsFloat64Number srgb[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    const std::unique_ptr<cmsToneCurve, curve_freer> curve(
        cmsBuildParametricToneCurve(nullptr, 4, srgb));
    if (!curve) throw std::runtime_error("fixture: lcms2 could not build the sRGB curve");
    cmsToneCurve *curves[3] = {curve.get(), curve.get(), curve.get()};
    const unique_profile profile(cmsCreateRGBProfile(&white, &colorants, curves));
    if (!profile) throw std::runtime_error("fixture: lcms2 could not build the profile");
    write_text(profile.get(), cmsSigProfileDescriptionTag,
               "RGB with the sRGB curve (test fixture)");
    std::vector<uint8_t> bytes = saved(profile.get());
    if (bytes.size() < at_least) {
        write_text(profile.get(), cmsSigCopyrightTag, std::string(at_least, 'x'));
        bytes = saved(profile.get());
    }
    return bytes;
}

std::vector<uint8_t> grey_profile()
{
    const std::unique_ptr<cmsToneCurve, curve_freer> curve(cmsBuildGamma(nullptr, 2.2));
    const unique_profile profile(cmsCreateGrayProfile(cmsD50_xyY(), curve.get()));
    if (!profile) throw std::runtime_error("fixture: lcms2 could not build a grey profile");
    return saved(profile.get());
}

std::vector<uint8_t> abstract_lab_profile()
{
    const unique_profile profile(cmsCreateLab4Profile(nullptr));
    if (!profile) throw std::runtime_error("fixture: lcms2 could not build a Lab profile");
    return saved(profile.get());
}

std::array<double, 3> profile_xyz(const std::vector<uint8_t> &profile, std::array<uint8_t, 3> rgb)
{
    const unique_profile source(
        cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(profile.size())));
    const unique_profile xyz(cmsCreateXYZProfile());
    if (!source || !xyz) throw std::runtime_error("profile_xyz: lcms2 could not open the profiles");
    const std::unique_ptr<void, transform_freer> transform(
        cmsCreateTransform(source.get(), TYPE_RGB_8, xyz.get(), TYPE_XYZ_DBL,
                           INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE));
    if (!transform) throw std::runtime_error("profile_xyz: lcms2 could not build the transform");
    cmsCIEXYZ out{};
    cmsDoTransform(transform.get(), rgb.data(), &out, 1);
    return {out.X, out.Y, out.Z};
}
