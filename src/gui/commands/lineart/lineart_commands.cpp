// Line-art commands of the view with a dialog: straightening, and the scan clean-up's adaptive
// black and white and despeckling. Thinning, line tidy and line tidy 2 run their operations as
// they are.
#include "gui/commands/lineart/lineart_commands.h"

#include "core/commands/command_table.h"
#include "core/ops/operation.h"
#include "gui/commands/lineart/scan_cleanup_dlg.h"
#include "gui/commands/lineart/straighten_dlg.h"

namespace qel::ui {

namespace {

void straighten(CQelView& view) {
    CStraightenDlg dlg(&view);
    if (dlg.exec() != QDialog::Accepted) return;
    const int32_t length = dlg.m_length;
    view.runOperation(cmd::ID_STRAIGHTEN, length);
}

int commandNamed(const char* name) { return commandOf(*findOperation(name)); }

// The values go to the runner as field values: it checks them as qel-batch's do, before the snapshot.
void adaptiveBw(CQelView& view) {
    CAdaptiveBwDlg dlg(&view);
    if (dlg.exec() != QDialog::Accepted) return;
    view.runOperation(commandNamed("adaptive-bw"), FieldValues{int64_t(dlg.m_window), dlg.m_k});
}

void despeckle(CQelView& view) {
    CDespeckleDlg dlg(&view);
    if (dlg.exec() != QDialog::Accepted) return;
    const int32_t pixels = dlg.m_pixels;
    view.runOperation(commandNamed("despeckle"), pixels);
}

}  // namespace

void registerLineartCommands(ViewCommands& commands) {
    using namespace qel::cmd;
    commands.add(ID_STRAIGHTEN, straighten);
    commands.add(commandNamed("adaptive-bw"), adaptiveBw);
    commands.add(commandNamed("despeckle"), despeckle);
}

}  // namespace qel::ui
