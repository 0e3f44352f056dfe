// The installed facade reaching into the core and into a codec's header: users
// of the installed library have neither, so the layer check must refuse both.
#pragma once
#include <cstdint>
#include <qel/op_result.h>
#include "core/image/dib_image.h"
#include <zlib.h>
