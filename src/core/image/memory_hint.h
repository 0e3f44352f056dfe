// A hint to the system about large blocks of memory about to be filled.
#pragma once

#include <cstddef>

namespace qel {

// Asks the system to back a large block with large pages where it can: fewer page faults when
// hundreds of megabytes of pixels are first written. Does nothing for small blocks or elsewhere.
void adviseLargePages(void* p, size_t bytes);

}  // namespace qel
