// Colour commands: depth conversions, colour counting, reduction, the palette
// window and fitting to the palette.
#pragma once

#include "gui/docview/view_commands.h"

namespace qel::ui {
void registerColourCommands(ViewCommands& commands);
}
