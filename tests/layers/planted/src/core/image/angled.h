// The same reaches written in angle brackets, up into the window program and up
// into the installed facade: the layer check must refuse them as it refuses quotes.
#pragma once
#include <vector>
#include <gui/shell/main_frame.h>
#include <qel/qel.h>
