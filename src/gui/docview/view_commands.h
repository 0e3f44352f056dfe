// The commands views run. A command that is one core operation taking no value
// runs its descriptor (addOperations); each command family registers, in its own
// file, a handler for each command with a dialog and, where it needs one, a
// set-up run on every new view (the palette window, connections to the view's signals). The
// frame enables and runs commands through this registry; CQelView::runCommand
// looks handlers up here.
#pragma once

#include <functional>
#include <map>
#include <vector>

#include "gui/docview/qel_view.h"

namespace qel::ui {

class ViewCommands {
public:
    using Handler = std::function<void(CQelView&)>;
    using Setup = std::function<void(CQelView&)>;

    void add(int id, Handler handler) { handlers_[id] = std::move(handler); }
    void addSetup(Setup setup) { setups_.push_back(std::move(setup)); }
    // A family that may hold a view's undo and redo (the palette window while it is open).
    void addUndoHold(std::function<bool(const CQelView&)> hold) { undoHolds_.push_back(std::move(hold)); }
    bool holdsUndo(const CQelView& view) const {
        for (const auto& hold : undoHolds_)
            if (hold(view)) return true;
        return false;
    }
    // Every command that is one core operation taking no value and has no handler yet runs its operation.
    void addOperations();

    const Handler* find(int id) const {
        auto it = handlers_.find(id);
        return it == handlers_.end() ? nullptr : &it->second;
    }
    void setUp(CQelView& view) const {
        for (const Setup& s : setups_) s(view);
    }

private:
    std::map<int, Handler> handlers_;
    std::vector<Setup> setups_;
    std::vector<std::function<bool(const CQelView&)>> undoHolds_;
};

// The registry of the process; the shell fills it once before the first view is made.
ViewCommands& viewCommands();

// The view's own commands: undo, redo, copy, paste, zoom, image information, printing.
void registerViewCommands(ViewCommands& commands);

// The options of a picture command as its row in the command table states them: the announcement
// and the effect on the thinned flag.
CQelView::CommandOptions commandOptions(int id);

}  // namespace qel::ui
