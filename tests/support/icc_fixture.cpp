#include "support/icc_fixture.h"

#include <lcms2.h>

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

}  // namespace

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
