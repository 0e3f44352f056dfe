// qel-batch options of the expr operations.
#include "batch/batch.h"

namespace qel::batch {

void registerExprOperations(Registry&) {}

}  // namespace qel::batch
