// qel-batch options of the colour operations.
#include "batch/batch.h"

namespace qel::batch {

void registerColourOperations(Registry&) {}

}  // namespace qel::batch
