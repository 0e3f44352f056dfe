#include "gui/kit/int_entry_dlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

IntEntryDlg::IntEntryDlg(const Form& form, QWidget* parent) : DdxDialog(parent), form_(form), edit_(new QLineEdit) {
    setWindowTitle(form.title);
    edit_->setObjectName(form.fieldName);
    auto* label = new QLabel(form.prompt);
    label->setWordWrap(form.wide);
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(form.cancelText, QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &IntEntryDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(edit_);
    layout->addWidget(buttons);
    if (form.wide) setMinimumWidth(320);
}

void IntEntryDlg::doDataExchange(qel::ui::DataExchange& dx) {
    if (form_.fieldBounds) dx.intField(edit_, value(), form_.fieldBounds->first, form_.fieldBounds->second);
    else dx.intField(edit_, value());
}

void IntEntryDlg::accept() {
    // Text that is no integer reads as 0 here.
    const int32_t v = qel::ui::parseInteger(edit_->text()).value_or(0);
    if (v < form_.okMin || v > form_.okMax) {
        qel::ui::dialogs().message(this, form_.refusal, form_.refusalTitle, qel::ui::Buttons::Ok, form_.refusalIcon);
        edit_->setFocus(Qt::OtherFocusReason);
        edit_->selectAll();
        return;
    }
    DdxDialog::accept();
}
