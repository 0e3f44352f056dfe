// The operation result lives in the installed headers, so the core and library users share it.
#pragma once

#include <qel/op_result.h>
