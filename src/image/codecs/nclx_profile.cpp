#include "image/codecs/nclx_profile.h"

#include <lcms2.h>

#include <memory>
#include <optional>
#include <string>

namespace {

// ITU-T H.273's colour primaries: red, green, blue and white, CIE 1931 xy.
struct primaries_entry {
    int code;
    const char *name;
    cmsCIExyYTRIPLE colorants;
    cmsCIExyY white;
};

constexpr cmsCIExyY d65{0.3127, 0.3290, 1.0};
constexpr cmsCIExyY illuminant_c{0.310, 0.316, 1.0};

constexpr primaries_entry primaries_table[] = {
    {4, "BT.470 System M", {{0.67, 0.33, 1}, {0.21, 0.71, 1}, {0.14, 0.08, 1}}, illuminant_c},
    {5, "BT.470 System B, G", {{0.64, 0.33, 1}, {0.29, 0.60, 1}, {0.15, 0.06, 1}}, d65},
    {6, "BT.601 525", {{0.630, 0.340, 1}, {0.310, 0.595, 1}, {0.155, 0.070, 1}}, d65},
    {7, "SMPTE 240M", {{0.630, 0.340, 1}, {0.310, 0.595, 1}, {0.155, 0.070, 1}}, d65},
    {8, "Generic film", {{0.681, 0.319, 1}, {0.243, 0.692, 1}, {0.145, 0.049, 1}}, illuminant_c},
    {9, "BT.2020", {{0.708, 0.292, 1}, {0.170, 0.797, 1}, {0.131, 0.046, 1}}, d65},
    {11, "DCI-P3", {{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}}, {0.314, 0.351, 1.0}},
    {12, "Display P3", {{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}}, d65},
    {22, "EBU Tech 3213-E", {{0.630, 0.340, 1}, {0.295, 0.605, 1}, {0.155, 0.077, 1}}, d65},
};

// A transfer characteristic as lcms2's parametric curve: type 1 is
// Y = X^g, type 4 is Y = (aX + b)^g for X >= d, cX below.
struct curve_entry {
    int type;
    cmsFloat64Number parameters[5];
    const char *name;
};

std::optional<curve_entry> curve_for(int transfer)
{
    switch (transfer) {
    case 13:  // IEC 61966-2-1: sRGB
        return curve_entry{4, {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045}, "sRGB curve"};
    case 1:  // BT.709; 6 (BT.601), 14 and 15 (BT.2020) are the same curve
    case 6:
    case 14:
    case 15:  // V = 1.099 L^0.45 - 0.099 above L = 0.018, 4.5 L below; inverted
        return curve_entry{4, {1 / 0.45, 1 / 1.099, 0.099 / 1.099, 1 / 4.5, 0.081}, "BT.709 curve"};
    case 8: return curve_entry{1, {1.0}, "linear"};
    case 4: return curve_entry{1, {2.2}, "gamma 2.2"};
    case 5: return curve_entry{1, {2.8}, "gamma 2.8"};
    default: return std::nullopt;
    }
}

struct profile_closer {
    void operator()(void *profile) const { cmsCloseProfile(profile); }
};

struct curve_freer {
    void operator()(cmsToneCurve *curve) const { cmsFreeToneCurve(curve); }
};

struct mlu_freer {
    void operator()(cmsMLU *mlu) const { cmsMLUfree(mlu); }
};

bool write_text(cmsHPROFILE profile, cmsTagSignature tag, const std::string &text)
{
    const std::unique_ptr<cmsMLU, mlu_freer> mlu(cmsMLUalloc(nullptr, 1));
    return mlu && cmsMLUsetASCII(mlu.get(), "en", "US", text.c_str()) &&
           cmsWriteTag(profile, tag, mlu.get());
}

// The header's creation time (bytes 24 to 35: year, month, day, hours,
// minutes, seconds, big-endian): lcms2 writes the clock's, a fixed one keeps
// derived files the same from run to run. The profile ID stays zero, "not
// computed", so nothing else depends on it.
void fix_creation_time(std::vector<uint8_t> &profile)
{
    static constexpr uint16_t fixed[6] = {2024, 1, 1, 0, 0, 0};
    for (size_t i = 0; i < 6; ++i) {
        profile[24 + 2 * i] = static_cast<uint8_t>(fixed[i] >> 8);
        profile[25 + 2 * i] = static_cast<uint8_t>(fixed[i] & 0xFF);
    }
}

}  // namespace

std::vector<uint8_t> nclx_profile(int primaries, int transfer)
{
    const primaries_entry *space = nullptr;
    for (const primaries_entry &entry : primaries_table)
        if (entry.code == primaries) space = &entry;
    const std::optional<curve_entry> curve = curve_for(transfer);
    if (!space || !curve) return {};

    const std::unique_ptr<cmsToneCurve, curve_freer> tone(
        cmsBuildParametricToneCurve(nullptr, curve->type, curve->parameters));
    if (!tone) return {};
    cmsToneCurve *curves[3] = {tone.get(), tone.get(), tone.get()};
    const std::unique_ptr<void, profile_closer> profile(
        cmsCreateRGBProfile(&space->white, &space->colorants, curves));
    if (!profile) return {};
    const std::string description = std::string(space->name) + ", " + curve->name;
    if (!write_text(profile.get(), cmsSigProfileDescriptionTag, description) ||
        !write_text(profile.get(), cmsSigCopyrightTag, "No copyright, use freely"))
        return {};

    cmsUInt32Number size = 0;
    if (!cmsSaveProfileToMem(profile.get(), nullptr, &size) || size < 128) return {};
    std::vector<uint8_t> bytes(size);
    if (!cmsSaveProfileToMem(profile.get(), bytes.data(), &size)) return {};
    bytes.resize(size);
    fix_creation_time(bytes);
    return bytes;
}
