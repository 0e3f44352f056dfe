// Fills the view command registry with every family's commands, once per process.
#pragma once

namespace qel::ui {
void registerAllCommands();
}
