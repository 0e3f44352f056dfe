// Geometry commands: scale, mix and fractal.
#pragma once

#include "gui/docview/view_commands.h"

namespace qel::ui {
void registerGeometryCommands(ViewCommands& commands);
}
