#include "gui/commands/lineart/straighten_dlg.h"

#include <climits>

CStraightenDlg::CStraightenDlg(QWidget* parent)
    : IntEntryDlg({.title = QStringLiteral("直線化"),
                   .prompt = QStringLiteral("画像を直線で表します。\n直線の長さ（ドット数）を入力して下さい。"),
                   .fieldName = QStringLiteral("length"),
                   .cancelText = QStringLiteral("ｷｬﾝｾﾙ"),
                   .okMin = 1,
                   .okMax = INT32_MAX,
                   .refusal = QStringLiteral("1以上の数を入れてください。"),
                   .refusalTitle = QStringLiteral("エラー"),
                   .refusalIcon = qel::ui::Icon::Warning},
                  parent) {}
