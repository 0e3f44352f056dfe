#include "gui/commands/colour/threshold_dlg.h"

#include "core/ops/operation.h"

namespace {

const qel::OperationArg& thresholdArg() { return qel::operationForCommand(qel::cmd::ID_TO_BLACK_WHITE)->arg; }

}  // namespace

CThresholdDlg::CThresholdDlg(QWidget* parent)
    : IntEntryDlg({.title = QStringLiteral("白黒にする"),
                   .prompt = QStringLiteral("しきい値を入れて下さい。"),
                   .fieldName = QStringLiteral("threshold"),
                   .cancelText = QStringLiteral("ｷｬﾝｾﾙ"),
                   .okMin = thresholdArg().min,
                   .okMax = thresholdArg().max,
                   .refusal = QStringLiteral("0-255の数を入れてください。"),
                   .refusalTitle = QStringLiteral("エラー"),
                   .refusalIcon = qel::ui::Icon::Warning,
                   .fieldBounds = std::pair{thresholdArg().min, thresholdArg().max}},
                  parent) {
    // Offered first: the value the black-and-white operation declares.
    m_threshold = thresholdArg().initial;
}
