#include "gui/commands/colour/int_entry_dlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/kit/dialog_service.h"
#include "core/colour/working_palette.h"

IntEntryDlg::IntEntryDlg(const QString& title, const QString& prompt, int32_t maximum, QWidget* parent)
    : DdxDialog(parent), edit_(new QLineEdit), maximum_(maximum) {
    setWindowTitle(title);
    edit_->setObjectName(QStringLiteral("value"));
    auto* label = new QLabel(prompt);
    label->setWordWrap(true);
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &IntEntryDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(edit_);
    layout->addWidget(buttons);
    setMinimumWidth(320);
}

void IntEntryDlg::doDataExchange(qel::ui::DataExchange& dx) { dx.intField(edit_, value(), 0, maximum_); }

void IntEntryDlg::accept() {
    // Text that is no integer reads as 0 here and is refused by the field check.
    if (qel::ui::parseInteger(edit_->text()).value_or(0) < 0) {
        qel::ui::dialogs().message(this, QString::fromUtf8(qel::kNotPositiveMessage),
                                   QString::fromUtf8(qel::kNotPositiveTitle), qel::ui::Buttons::Ok,
                                   qel::ui::Icon::None);
        edit_->setFocus(Qt::OtherFocusReason);
        edit_->selectAll();
        return;
    }
    DdxDialog::accept();
}
