// A file reader reaching up into an operation family: the core's own order must refuse it.
#pragma once
#include "core/colour/conversions.h"
