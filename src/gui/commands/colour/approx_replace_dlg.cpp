#include "gui/commands/colour/approx_replace_dlg.h"

#include "core/colour/working_palette.h"

CApproxReplaceDlg::CApproxReplaceDlg(QWidget* parent)
    : IntEntryDlg(QStringLiteral("近似置換"),
                  QStringLiteral("近似の精度を入力してください。０を入力するとパレットの近い色で画像をで置き換えます。"),
                  qel::kMaxPrecision, parent) {}
