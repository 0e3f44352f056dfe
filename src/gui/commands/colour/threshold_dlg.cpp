#include "gui/commands/colour/threshold_dlg.h"

#include "core/ops/operation.h"

CThresholdDlg::CThresholdDlg(QWidget* parent)
    : IntEntryDlg({.title = QStringLiteral("白黒にする"),
                   .prompt = QStringLiteral("しきい値を入れて下さい。"),
                   .fieldName = QStringLiteral("threshold"),
                   .cancelText = QStringLiteral("ｷｬﾝｾﾙ"),
                   .okMin = 0,
                   .okMax = 255,
                   .refusal = QStringLiteral("0-255の数を入れてください。"),
                   .refusalTitle = QStringLiteral("エラー"),
                   .refusalIcon = qel::ui::Icon::Warning,
                   .fieldBounds = std::pair{0, 255}},
                  parent) {
    // Offered first: the value the black-and-white operation declares.
    m_threshold = qel::operationForCommand(qel::cmd::ID_TO_BLACK_WHITE)->arg.initial;
}
