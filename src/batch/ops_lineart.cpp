// qel-batch options of the lineart operations.
#include "batch/batch.h"

namespace qel::batch {

void registerLineartOperations(Registry&) {}

}  // namespace qel::batch
