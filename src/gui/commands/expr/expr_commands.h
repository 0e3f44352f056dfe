// Formula commands: transform by formulas and the calculator.
#pragma once

#include "gui/docview/view_commands.h"

namespace qel::ui {
void registerExprCommands(ViewCommands& commands);
}
