#include "gui/commands/colour/near_colour_dlg.h"

#include <climits>

#include "core/colour/working_palette.h"

CNearColourDlg::CNearColourDlg(QWidget* parent)
    : IntEntryDlg({.title = QStringLiteral("近い色を同じ色にする。"),
                   .prompt = QStringLiteral("同じ色にする色と色の距離を入れてください。"),
                   .fieldName = QStringLiteral("value"),
                   .cancelText = QStringLiteral("キャンセル"),
                   .okMin = 0,
                   .okMax = INT32_MAX,
                   .refusal = QString::fromUtf8(qel::kNotPositiveMessage),
                   .refusalTitle = QString::fromUtf8(qel::kNotPositiveTitle),
                   .refusalIcon = qel::ui::Icon::None,
                   .fieldBounds = std::pair{0, qel::kMaxMergeDistance},
                   .wide = true},
                  parent) {}
