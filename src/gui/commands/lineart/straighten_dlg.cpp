#include "gui/commands/lineart/straighten_dlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/kit/dialog_service.h"

CStraightenDlg::CStraightenDlg(QWidget* parent) : DdxDialog(parent), edit_(new QLineEdit) {
    setWindowTitle(QStringLiteral("直線化"));
    edit_->setObjectName(QStringLiteral("length"));
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CStraightenDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("画像を直線で表します。\n直線の長さ（ドット数）を入力して下さい。")));
    layout->addWidget(edit_);
    layout->addWidget(buttons);
}

void CStraightenDlg::doDataExchange(qel::ui::DataExchange& dx) { dx.intField(edit_, m_length); }

void CStraightenDlg::accept() {
    // Text that is not an integer reads as 0 and is refused like any length below 1.
    const int32_t value = qel::ui::parseInteger(edit_->text()).value_or(0);
    if (value < 1) {
        qel::ui::dialogs().message(this, QStringLiteral("1以上の数を入れてください。"), QStringLiteral("エラー"),
                                   qel::ui::Buttons::Ok, qel::ui::Icon::Warning);
        edit_->setFocus(Qt::OtherFocusReason);
        edit_->selectAll();
        return;
    }
    DdxDialog::accept();
}
