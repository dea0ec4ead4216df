#include "image/resample/vector_lanes.h"

#include <atomic>

namespace {

std::atomic<bool> avx2_allowed{true};

bool cpu_has_avx2()
{
#ifdef VISTREL_AVX2
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

}  // namespace

void set_resample_avx2(bool allowed) { avx2_allowed.store(allowed, std::memory_order_relaxed); }

bool resample_avx2_active()
{
    static const bool available = cpu_has_avx2();
    return available && avx2_allowed.load(std::memory_order_relaxed);
}
