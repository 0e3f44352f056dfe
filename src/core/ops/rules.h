// When a command or operation may run, and what it does to the thinned flag: the menus enable
// their items by these rules, and qel-batch refuses an operation where its rule fails.
#pragma once

#include <vector>

namespace qel::cmd {

// When a command is enabled.
enum class Rule {
    Always,
    DocumentWindow,  // framework commands that need an active document window
    Never,
    Picture,
    NoPicture,      // an empty document is active
    Depth24,        // picture of 24 bits per pixel
    DepthNot24,
    DepthAbove4,
    Depth4Or8,
    Depth8,
    Depth8Thinned,  // 8 bits and the view's thinned flag set
    Undo,
    Redo,
};

// What the rules look at: the active document window, its picture and its view.
struct CommandContext {
    bool documentWindow = false;
    bool picture = false;
    int depth = 0;
    bool thinned = false;
    bool undoEnabled = false;
    bool redoEnabled = false;
};

bool isEnabled(Rule rule, const CommandContext& context);

// The picture depths a rule accepts, in the order messages name them (empty: any picture, or no
// depth rule at all).
std::vector<int> depthsAccepted(Rule rule);

// What a picture command does to the view's thinned flag, which offers straightening and line tidy.
enum class Thinned { Keep, Set, Clear };

}  // namespace qel::cmd
