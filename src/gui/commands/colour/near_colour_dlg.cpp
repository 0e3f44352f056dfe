#include "gui/commands/colour/near_colour_dlg.h"

#include "core/colour/working_palette.h"

CNearColourDlg::CNearColourDlg(QWidget* parent)
    : IntEntryDlg(QStringLiteral("近い色を同じ色にする。"), QStringLiteral("同じ色にする色と色の距離を入れてください。"),
                  qel::kMaxMergeDistance, parent) {}
