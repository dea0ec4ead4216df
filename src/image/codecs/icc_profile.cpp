#include "image/codecs/icc_profile.h"
#include "base/big_endian.h"

#include <lcms2.h>
#include <lcms2_plugin.h>

#include <cstdlib>
#include <memory>

#include "image/messages.h"

namespace {

struct context_deleter {
    void operator()(cmsContext context) const { cmsDeleteContext(context); }
};
struct profile_closer {
    void operator()(cmsHPROFILE profile) const { cmsCloseProfile(profile); }
};
struct transform_deleter {
    void operator()(cmsHTRANSFORM transform) const { cmsDeleteTransform(transform); }
};
using unique_context = std::unique_ptr<_cmsContext_struct, context_deleter>;
using unique_profile = std::unique_ptr<void, profile_closer>;
using unique_transform = std::unique_ptr<void, transform_deleter>;

// lcms2 would report what it finds wrong to its error handler; the fault
// is told once, by the caller.
void ignore_error(cmsContext, cmsUInt32Number, const char *) {}

// lcms2's memory in a check: no block larger than largest_icc_allocation,
// so a table that claims more fails as one whose data is missing, at once.
void *bounded_malloc(cmsContext, cmsUInt32Number size)
{
    return size <= largest_icc_allocation ? std::malloc(size) : nullptr;
}
void bounded_free(cmsContext, void *block) { std::free(block); }
void *bounded_realloc(cmsContext, void *block, cmsUInt32Number size)
{
    return size <= largest_icc_allocation ? std::realloc(block, size) : nullptr;
}
cmsPluginMemHandler bounded_memory = {
    .base = {cmsPluginMagicNumber, LCMS_VERSION, cmsPluginMemHandlerSig, nullptr},
    .MallocPtr = bounded_malloc,
    .FreePtr = bounded_free,
    .ReallocPtr = bounded_realloc,
    .MallocZeroPtr = nullptr,  // lcms2's own, through MallocPtr
    .CallocPtr = nullptr,
    .DupPtr = nullptr,
};

// D2B0 to D2B3 and B2D0 to B2D3: the tags of multi-process elements.
bool is_multi_process_tag(uint32_t signature)
{
    const uint32_t kind = signature & 0xFFFFFF00;
    const uint32_t intent = signature & 0xFF;
    return (kind == 0x44324200 || kind == 0x42324400) && intent >= '0' && intent <= '3';
}

// What the tag table says before lcms2 reads a byte of the tags. lcms2
// reads only the tags a transform needs, and those cost what their bytes
// cost (curves, matrices, tables of a fixed number of stages; a table that
// claims more than it holds is bounded by bounded_memory) but for one kind:
// a multi-process element tag lists any number of elements by position, and
// lcms2 reads n of them in time that grows as n squared (80 KB of positions
// all naming one element take seconds), then runs every colour through each.
// Nothing here needs one, and no camera, scanner or display profile carries
// one: a profile with one is left out, and every check costs milliseconds.
std::string tag_table_fault(std::span<const uint8_t> profile)
{
    // The tag count, then 12 bytes a tag: signature, offset, size.
    const uint32_t tags = big_endian_32(profile.data() + 128);
    if (tags > (profile.size() - 132) / 12) return "not an ICC profile";
    for (uint32_t tag = 0; tag < tags; ++tag)
        if (is_multi_process_tag(big_endian_32(profile.data() + 132 + 12 * size_t{tag})))
            return "a profile with multi-process elements";
    return {};
}

struct space_of {
    cmsColorSpaceSignature space;
    cmsUInt32Number format;  // 8 bits a sample, as the picture has them
};

space_of picture_space(int components)
{
    switch (components) {
    case 1: return {cmsSigGrayData, TYPE_GRAY_8};
    case 4: return {cmsSigCmykData, TYPE_CMYK_8};
    default: return {cmsSigRgbData, TYPE_RGB_8};
    }
}

}  // namespace

std::string icc_size_fault(size_t size)
{
    if (size > largest_icc_profile)
        return "larger than " + std::to_string(largest_icc_profile) + " bytes";
    return {};
}

std::string icc_profile_fault(std::span<const uint8_t> profile, int components)
{
    if (std::string fault = icc_size_fault(profile.size()); !fault.empty()) return fault;
    // The 128-byte header: its size, then "acsp" at offset 36.
    if (profile.size() < 132 || big_endian_32(profile.data()) != profile.size() ||
        big_endian_32(profile.data() + 36) != 0x61637370)
        return "not an ICC profile";
    if (std::string fault = tag_table_fault(profile); !fault.empty()) return fault;
    // A context of its own: lcms2's error handler and memory are per
    // context, and jobs check profiles side by side.
    const unique_context context(cmsCreateContext(&bounded_memory, nullptr));
    if (!context) return "not an ICC profile";
    cmsSetLogErrorHandlerTHR(context.get(), ignore_error);
    const unique_profile opened(cmsOpenProfileFromMemTHR(
        context.get(), profile.data(), static_cast<cmsUInt32Number>(profile.size())));
    if (!opened) return "not an ICC profile";
    switch (cmsGetDeviceClass(opened.get())) {
    case cmsSigInputClass:
    case cmsSigDisplayClass:
    case cmsSigOutputClass:
    case cmsSigColorSpaceClass: break;
    default: return "not a profile an image can be tagged with";
    }
    const space_of space = picture_space(components);
    if (cmsGetColorSpace(opened.get()) != space.space)
        return "not a profile of the picture's colour space";
    // Building a transform reads the tags it needs: a profile whose curves
    // or tables do not parse fails here.
    const unique_profile srgb(cmsCreate_sRGBProfileTHR(context.get()));
    if (!srgb) return "not an ICC profile";
    const unique_transform transform(
        cmsCreateTransformTHR(context.get(), opened.get(), space.format, srgb.get(), TYPE_RGB_8,
                              INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE));
    if (!transform) return "a profile lcms2 cannot use";
    return {};
}

std::vector<uint8_t> checked_icc_profile(std::vector<uint8_t> profile, int components,
                                         const std::string &source_path)
{
    if (profile.empty()) return profile;
    const std::string fault = icc_profile_fault(profile, components);
    if (fault.empty()) return profile;
    note::profile_left_out(source_path, fault);
    return {};
}
