// Line-art commands of the view: thinning, straightening, line tidy, line tidy 2.
// Thinning and line tidy 2 mark the picture as thinned, which offers straightening
// and line tidy (the command table says so).
#include "gui/commands/lineart/lineart_commands.h"

#include "core/commands/command_table.h"
#include "core/lineart/lineart.h"
#include "gui/commands/lineart/straighten_dlg.h"

namespace qel::ui {

namespace {

void straighten(CQelView& view) {
    CStraightenDlg dlg(&view);
    if (dlg.exec() != QDialog::Accepted) return;
    const int32_t length = dlg.m_length;
    view.runImageCommand([length](DibImage& image) { return qel::straighten(image, length); },
                         commandOptions(cmd::ID_STRAIGHTEN));
}

}  // namespace

void registerLineartCommands(ViewCommands& commands) {
    using namespace qel::cmd;
    commands.addImageCommand(ID_THIN, [](DibImage& image) { return thin(image); });
    commands.add(ID_STRAIGHTEN, straighten);
    commands.addImageCommand(ID_TIDY, [](DibImage& image) { return tidyLines(image); });
    commands.addImageCommand(ID_TIDY2, [](DibImage& image) { return tidyLines2(image); });
}

}  // namespace qel::ui
