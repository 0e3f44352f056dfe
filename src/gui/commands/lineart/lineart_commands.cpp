// Line-art commands of the view with a dialog: straightening. Thinning, line tidy and
// line tidy 2 run their operations as they are.
#include "gui/commands/lineart/lineart_commands.h"

#include "core/commands/command_table.h"
#include "gui/commands/lineart/straighten_dlg.h"

namespace qel::ui {

namespace {

void straighten(CQelView& view) {
    CStraightenDlg dlg(&view);
    if (dlg.exec() != QDialog::Accepted) return;
    const int32_t length = dlg.m_length;
    view.runOperation(cmd::ID_STRAIGHTEN, length);
}

}  // namespace

void registerLineartCommands(ViewCommands& commands) {
    using namespace qel::cmd;
    commands.add(ID_STRAIGHTEN, straighten);
}

}  // namespace qel::ui
