#include "image/picture.h"

#include <cerrno>
#include <new>

#include "image/messages.h"

result<pixel_buffer> allocate_pixels(size_t size)
{
    pixel_buffer buffer;
    buffer.samples.reset(new (std::nothrow) uint8_t[size > 0 ? size : 1]);
    if (!buffer.samples) {
        errno = ENOMEM;
        return message::cant_malloc();
    }
    buffer.size = size;
    return buffer;
}
