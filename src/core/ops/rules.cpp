#include "core/ops/rules.h"

namespace qel::cmd {

bool isEnabled(Rule rule, const CommandContext& c) {
    switch (rule) {
    case Rule::Always: return true;
    case Rule::DocumentWindow: return c.documentWindow;
    case Rule::Never: return false;
    case Rule::Picture: return c.documentWindow && c.picture;
    case Rule::NoPicture: return c.documentWindow && !c.picture;
    case Rule::Depth24: return c.documentWindow && c.picture && c.depth == 24;
    case Rule::DepthNot24: return c.documentWindow && c.picture && c.depth != 24;
    case Rule::DepthAbove4: return c.documentWindow && c.picture && c.depth > 4;
    case Rule::Depth4Or8: return c.documentWindow && c.picture && (c.depth == 4 || c.depth == 8);
    case Rule::Depth8: return c.documentWindow && c.picture && c.depth == 8;
    case Rule::Depth8Thinned: return c.documentWindow && c.picture && c.depth == 8 && c.thinned;
    case Rule::Undo: return c.documentWindow && c.undoEnabled;
    case Rule::Redo: return c.documentWindow && c.redoEnabled;
    }
    return false;
}

std::vector<int> depthsAccepted(Rule rule) {
    switch (rule) {
    case Rule::Depth24: return {24};
    case Rule::DepthNot24: return {1, 4, 8};
    case Rule::DepthAbove4: return {8, 24};
    case Rule::Depth4Or8: return {8, 4};
    case Rule::Depth8:
    case Rule::Depth8Thinned: return {8};
    default: return {};
    }
}

}  // namespace qel::cmd
