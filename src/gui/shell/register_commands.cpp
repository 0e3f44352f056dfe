#include "gui/shell/register_commands.h"

#include "gui/commands/capture/capture_commands.h"
#include "gui/commands/colour/colour_commands.h"
#include "gui/commands/expr/expr_commands.h"
#include "gui/commands/geometry/geometry_commands.h"
#include "gui/commands/lineart/lineart_commands.h"

namespace qel::ui {

void registerAllCommands() {
    static const bool done = [] {
        ViewCommands& commands = viewCommands();
        registerViewCommands(commands);
        registerColourCommands(commands);
        registerLineartCommands(commands);
        registerExprCommands(commands);
        registerGeometryCommands(commands);
        registerCaptureCommands(commands);
        commands.addOperations();
        return true;
    }();
    (void)done;
}

}  // namespace qel::ui
