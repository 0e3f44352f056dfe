#include "gui/commands/expr/calculator_dlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/expr/calculator.h"
#include "gui/kit/dialog_keys.h"

CCalculatorDlg::CCalculatorDlg(QWidget* parent) : QDialog(parent), formula_(new QLineEdit), answer_(new QLineEdit) {
    setWindowTitle(QStringLiteral("関数電卓"));
    formula_->setObjectName(QStringLiteral("formula"));
    answer_->setObjectName(QStringLiteral("answer"));
    answer_->setReadOnly(true);
    formula_->setMinimumWidth(280);

    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("式）"), formula_);
    fields->addRow(QStringLiteral("答え="), answer_);
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CCalculatorDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(new QLabel(QStringLiteral("(x=3.141592   y=2.718282   z=0  )   ")));
    layout->addWidget(buttons);
    qel::ui::readyForKeyboard(this);
}

void CCalculatorDlg::accept() {
    answer_->setText(QString::fromStdString(qel::calculatorAnswer(formula_->text().toStdString())));
}
