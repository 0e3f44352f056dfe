#include "gui/commands/colour/quantize_dlg.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <string>

#include "core/ops/operation.h"

namespace {

const qel::OperationField& colours() { return qel::fieldOf(qel::cmd::ID_QUANTIZE, "colours"); }

}  // namespace

CQuantizeDlg::CQuantizeDlg(QWidget* parent)
    : IntEntryDlg({.title = QStringLiteral("高画質減色"),
                   .prompt = QStringLiteral("色数（2〜256）を入れて下さい。"),
                   .fieldName = QStringLiteral("colours"),
                   .cancelText = QStringLiteral("ｷｬﾝｾﾙ"),
                   .okMin = int(colours().min),
                   .okMax = int(colours().max),
                   .refusal = QStringLiteral("2-256の数を入れてください。"),
                   .refusalTitle = QStringLiteral("エラー"),
                   .refusalIcon = qel::ui::Icon::Warning,
                   .fieldBounds = std::pair{int(colours().min), int(colours().max)}},
                  parent),
      dither_(new QCheckBox(QStringLiteral("ディザリング"))) {
    dither_->setObjectName(QStringLiteral("dither"));
    // Below the number, above the buttons.
    if (auto* box = qobject_cast<QBoxLayout*>(layout())) box->insertWidget(box->count() - 1, dither_);
    m_colours = std::stoi(colours().initial);
}

void CQuantizeDlg::doDataExchange(qel::ui::DataExchange& dx) {
    IntEntryDlg::doDataExchange(dx);
    dx.checkBox(dither_, m_dither);
}
