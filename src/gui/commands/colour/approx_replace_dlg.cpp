#include "gui/commands/colour/approx_replace_dlg.h"

#include <climits>

#include "core/colour/working_palette.h"

CApproxReplaceDlg::CApproxReplaceDlg(QWidget* parent)
    : IntEntryDlg({.title = QStringLiteral("近似置換"),
                   .prompt = QStringLiteral("近似の精度を入力してください。０を入力するとパレットの近い色で画像をで置き換えます。"),
                   .fieldName = QStringLiteral("value"),
                   .cancelText = QStringLiteral("キャンセル"),
                   .okMin = 0,
                   .okMax = INT32_MAX,
                   .refusal = QString::fromUtf8(qel::kNotPositiveMessage),
                   .refusalTitle = QString::fromUtf8(qel::kNotPositiveTitle),
                   .refusalIcon = qel::ui::Icon::None,
                   .fieldBounds = std::pair{0, qel::kMaxPrecision},
                   .wide = true},
                  parent) {}
