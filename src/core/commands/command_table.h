// The command table: every menu item of the two menus (128 without a document
// window, 129 with one), its text, its accelerators and where it stands. A row
// that runs an operation names it and takes its identifier, the rule that
// enables it and its effect on the thinned flag from the operation's
// descriptor; the other rows state them. Menus, toolbar, shortcuts and the
// enabling of every action are built from these tables.
#pragma once

#include <vector>

#include "core/ops/command_ids.h"
#include "core/ops/rules.h"

namespace qel::cmd {

constexpr int kSeparator = 0;

struct Command {
    int id = kSeparator;        // kSeparator for a separator line
    const char* menu = nullptr; // popup path, levels separated by '>' ("効果>線"); nullptr: keyboard only
    const char* text = nullptr; // item text, "\t" then the accelerator shown
    Rule rule = Rule::Always;
    const char* keys = "";      // accelerators, ';'-separated, in QKeySequence portable form
    const char* prompt = nullptr;  // fly-by status text
    Thinned thinned = Thinned::Keep;
    bool announce = false;      // says "終了しました" when done
    // The operation the command runs ("thin"): the row takes its id, rule and thinned effect from it.
    const char* operation = nullptr;
};

// Menu 129, in menu order, plus the keyboard-only pane commands.
const std::vector<Command>& documentMenu();
// Menu 128.
const std::vector<Command>& startMenu();
// The row of a command in menu 129 (or the start menu), null for an unknown id.
const Command* findCommand(int id);
// The toolbar buttons in order, kSeparator between groups.
const std::vector<int>& toolbarButtons();

}  // namespace qel::cmd
