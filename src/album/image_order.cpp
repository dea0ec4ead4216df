#include "album/image_order.h"

// Byte order, whatever the locale: names are bytes, not text.
int compare_name(const image_info &a, const image_info &b) { return a.name.compare(b.name); }

// Ties go by name, so that the order is the same whatever the sort does
// with equal elements.
int compare_size(const image_info &a, const image_info &b)
{
    if (a.file_size != b.file_size) return a.file_size < b.file_size ? -1 : 1;
    return compare_name(a, b);
}

int compare_mtime(const image_info &a, const image_info &b)
{
    if (a.mtime != b.mtime) return a.mtime < b.mtime ? -1 : 1;
    return compare_name(a, b);
}

int compare_taken(const image_info &a, const image_info &b)
{
    if (a.taken_time != b.taken_time) {
        if (!a.taken_time) return 1;
        if (!b.taken_time) return -1;
        return *a.taken_time < *b.taken_time ? -1 : 1;
    }
    return compare_name(a, b);
}

image_order_fn order_function(image_order order)
{
    switch (order) {
    case image_order::size: return compare_size;
    case image_order::mtime: return compare_mtime;
    case image_order::taken: return compare_taken;
    case image_order::name: break;
    }
    return compare_name;
}
