// A core header reaching up into the window program: the layer check must refuse it.
#pragma once
#include "gui/shell/main_frame.h"
