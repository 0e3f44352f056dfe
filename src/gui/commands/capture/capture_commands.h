// Screen capture: the picture of an empty document taken from a rectangle of the screen.
#pragma once

#include "gui/docview/view_commands.h"

namespace qel::ui {
void registerCaptureCommands(ViewCommands& commands);
}
