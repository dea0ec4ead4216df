// The image orders that -s chooses among; each ascending, like strcmp.
#pragma once

#include "base/image_info.h"
#include "base/settings.h"

using image_order_fn = int (*)(const image_info &a, const image_info &b);

int compare_name(const image_info &a, const image_info &b);
// By file size and by modification time, smallest and oldest first; ties by
// name, so that no order depends on the sort algorithm.
int compare_size(const image_info &a, const image_info &b);
int compare_mtime(const image_info &a, const image_info &b);
// By the time the photograph was taken, oldest first; undated ones last;
// ties and undated ones by name.
int compare_taken(const image_info &a, const image_info &b);

// The comparison for an order, chosen once per album.
image_order_fn order_function(image_order order);
