// Built as a file of image/: the include below reaches a layer above it and
// must fail to build (the layer_direction test).
#include "album/album.h"
