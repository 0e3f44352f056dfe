// Line-art commands: thinning, straightening, line tidy, line tidy 2.
#pragma once

#include "gui/docview/view_commands.h"

namespace qel::ui {
void registerLineartCommands(ViewCommands& commands);
}
