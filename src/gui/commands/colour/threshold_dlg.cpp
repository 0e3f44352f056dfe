#include "gui/commands/colour/threshold_dlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/kit/dialog_service.h"

CThresholdDlg::CThresholdDlg(QWidget* parent) : DdxDialog(parent), edit_(new QLineEdit) {
    setWindowTitle(QStringLiteral("白黒にする"));
    edit_->setObjectName(QStringLiteral("threshold"));
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CThresholdDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("しきい値を入れて下さい。")));
    layout->addWidget(edit_);
    layout->addWidget(buttons);
}

void CThresholdDlg::doDataExchange(qel::ui::DataExchange& dx) { dx.intField(edit_, m_threshold, 0, 255); }

void CThresholdDlg::accept() {
    // Text that is not an integer reads as 0 here and is refused by the field check.
    const int32_t value = qel::ui::parseInteger(edit_->text()).value_or(0);
    if (value < 0 || value > 255) {
        qel::ui::dialogs().message(this, QStringLiteral("0-255の数を入れてください。"), QStringLiteral("エラー"),
                                   qel::ui::Buttons::Ok, qel::ui::Icon::Warning);
        edit_->setFocus(Qt::OtherFocusReason);
        edit_->selectAll();
        return;
    }
    m_threshold = value;
    DdxDialog::accept();
}
