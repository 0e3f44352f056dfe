// Geometry commands with a dialog: scale, mix and crop (the turns, mirror images and fractal need none).
#pragma once

#include "gui/docview/view_commands.h"

namespace qel::ui {
void registerGeometryCommands(ViewCommands& commands);
}
