// qel-batch options of the geometry operations.
#include "batch/batch.h"

namespace qel::batch {

void registerGeometryOperations(Registry&) {}

}  // namespace qel::batch
