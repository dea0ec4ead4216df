#include "album/partition.h"

std::vector<size_t> images_in_part(size_t images, int64_t first, part_choice part)
{
    std::vector<size_t> chosen;
    if (part.count <= 0) return chosen;
    // The first position of the album that falls in the part.
    const int64_t offset = ((part.index - 1) - first % part.count + part.count) % part.count;
    for (auto i = static_cast<size_t>(offset); i < images; i += static_cast<size_t>(part.count))
        chosen.push_back(i);
    return chosen;
}
