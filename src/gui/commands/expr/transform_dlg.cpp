#include "gui/commands/expr/transform_dlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/kit/dialog_service.h"
#include "core/expr/calculator.h"
#include "core/expr/formula_file.h"
#include "core/expr/transform.h"
#include "gui/commands/expr/calculator_dlg.h"

namespace {
QLineEdit* namedEdit(const char* name) {
    auto* edit = new QLineEdit;
    edit->setObjectName(QString::fromLatin1(name));
    return edit;
}

qel::ui::FileRequest formulaFileRequest(const QString& filter) {
    qel::ui::FileRequest request;
    request.filter = filter;
    request.defaultExtension = QStringLiteral("fnc");
    request.initialName = QStringLiteral("*.fnc");
    request.overwritePrompt = true;
    return request;
}

std::string localPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

const QString kInvalidFormula = QStringLiteral("式が不正です。");
const QString kErrorTitle = QStringLiteral("エラー");
}  // namespace

CTransformDlg::CTransformDlg(QWidget* parent)
    : DdxDialog(parent),
      inverse_(new QCheckBox(QStringLiteral("逆変換"))),
      formulaX_(namedEdit("formulaX")),
      formulaY_(namedEdit("formulaY")),
      formulaZ_(namedEdit("formulaZ")),
      weightRed_(namedEdit("weightRed")),
      weightGreen_(namedEdit("weightGreen")),
      weightBlue_(namedEdit("weightBlue")),
      keep_(new QCheckBox(QStringLiteral("保存"))),
      calculator_(new QPushButton(QStringLiteral("関数電卓"))),
      save_(new QPushButton(QStringLiteral("ファイルに保存"))),
      load_(new QPushButton(QStringLiteral("ファイルを読込"))) {
    setWindowTitle(QStringLiteral("関数で画像変換"));
    inverse_->setObjectName(QStringLiteral("inverse"));
    keep_->setObjectName(QStringLiteral("keep"));
    for (QPushButton* b : {calculator_, save_, load_}) b->setAutoDefault(false);

    auto* formulas = new QGridLayout;
    formulas->addWidget(new QLabel(QStringLiteral("x'=")), 0, 0);
    formulas->addWidget(formulaX_, 0, 1);
    formulas->addWidget(new QLabel(QStringLiteral("y'=")), 1, 0);
    formulas->addWidget(formulaY_, 1, 1);
    formulas->addWidget(new QLabel(QStringLiteral("z'=")), 2, 0);
    formulas->addWidget(formulaZ_, 2, 1);
    formulas->addWidget(new QLabel(QStringLiteral("（色の変換）")), 2, 2);
    formulas->setColumnMinimumWidth(1, 300);

    auto* weights = new QGroupBox(QStringLiteral("各色の重み（Ｚの係数）"));
    auto* weightRow = new QHBoxLayout(weights);
    weightRow->addWidget(new QLabel(QStringLiteral("赤")));
    weightRow->addWidget(weightRed_);
    weightRow->addWidget(new QLabel(QStringLiteral("緑")));
    weightRow->addWidget(weightGreen_);
    weightRow->addWidget(new QLabel(QStringLiteral("青")));
    weightRow->addWidget(weightBlue_);

    auto* options = new QHBoxLayout;
    options->addWidget(inverse_);
    options->addWidget(keep_);
    options->addStretch();
    options->addWidget(new QLabel(QStringLiteral("(x,y,z：変数)")));

    auto* tools = new QHBoxLayout;
    tools->addWidget(calculator_);
    tools->addWidget(save_);
    tools->addWidget(load_);
    tools->addStretch();

    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CTransformDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(formulas);
    layout->addWidget(weights);
    layout->addLayout(options);
    layout->addLayout(tools);
    layout->addWidget(buttons);

    for (QLineEdit* edit : {formulaX_, formulaY_, formulaZ_}) edit->installEventFilter(this);
    connect(calculator_, &QPushButton::clicked, this, &CTransformDlg::openCalculator);
    connect(save_, &QPushButton::clicked, this, &CTransformDlg::saveToFile);
    connect(load_, &QPushButton::clicked, this, &CTransformDlg::loadFromFile);
}

void CTransformDlg::doDataExchange(qel::ui::DataExchange& dx) {
    dx.checkBox(inverse_, m_inverse);
    // OK takes no formula that does not validate: the dialog stays open on that field.
    const auto formula = [&dx](QLineEdit* edit, QString& value) {
        dx.textField(edit, value, qel::kFormulaFieldMaxChars);
        if (dx.saving() && !dx.failed() && !qel::formulaIsValid(value.toStdString()))
            dx.fail(edit, kInvalidFormula, kErrorTitle);
    };
    formula(formulaX_, m_formulaX);
    formula(formulaY_, m_formulaY);
    formula(formulaZ_, m_formulaZ);
    dx.floatField(weightRed_, m_weightRed, qel::kWeightMin, qel::kWeightMax);
    dx.floatField(weightGreen_, m_weightGreen, qel::kWeightMin, qel::kWeightMax);
    dx.floatField(weightBlue_, m_weightBlue, qel::kWeightMin, qel::kWeightMax);
    dx.checkBox(keep_, m_keep);
}

bool CTransformDlg::isFormulaEdit(QObject* object) const {
    return object == formulaX_ || object == formulaY_ || object == formulaZ_;
}

bool CTransformDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut && isFormulaEdit(watched)) {
        // Only a move of the focus to another control of this dialog counts as leaving the field: the
        // dialog losing activation (to the message box, another window or a popup menu) does not.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (!warning_ && reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            // The check runs once the focus has arrived where the user sent it, so that the message box
            // returns the focus there.
            QPointer<QLineEdit> edit = static_cast<QLineEdit*>(watched);
            // A failed OK that has sent the focus back to this field has already said so.
            QTimer::singleShot(0, this, [this, edit] {
                if (edit && isVisible() && focusWidget() != edit) checkFormulaField(edit);
            });
        }
    }
    return DdxDialog::eventFilter(watched, event);
}

bool CTransformDlg::checkFormulaField(QLineEdit* edit) {
    if (!edit || qel::formulaIsValid(edit->text().toStdString())) return true;
    warning_ = true;
    qel::ui::dialogs().message(this, kInvalidFormula, kErrorTitle, qel::ui::Buttons::Ok, qel::ui::Icon::Warning);
    warning_ = false;
    return false;
}

void CTransformDlg::openCalculator() {
    CCalculatorDlg calculator(this);
    calculator.exec();
}

qel::FormulaFileFields CTransformDlg::fieldsAsTyped() const {
    qel::FormulaFileFields fields;
    fields.formulaX = formulaX_->text().toStdString();
    fields.formulaY = formulaY_->text().toStdString();
    fields.formulaZ = formulaZ_->text().toStdString();
    fields.weightRed = weightRed_->text().toStdString();
    fields.weightGreen = weightGreen_->text().toStdString();
    fields.weightBlue = weightBlue_->text().toStdString();
    fields.inverse = inverse_->isChecked();
    return fields;
}

void CTransformDlg::saveToFile() {
    // The save dialog lists formula files, as the load dialog does.
    const QString path =
        qel::ui::dialogs().saveFile(this, formulaFileRequest(QStringLiteral("変換ファイル |*.fnc|")));
    if (path.isEmpty()) return;
    // A file that cannot be written is passed over without a message.
    qel::writeFormulaFile(localPath(path), fieldsAsTyped());
}

void CTransformDlg::loadFromFile() {
    const QString path =
        qel::ui::dialogs().openFile(this, formulaFileRequest(QStringLiteral("変換ファイル |*.fnc||")));
    if (path.isEmpty()) return;
    // Items missing from the file leave their fields as they are.
    qel::FormulaFileFields fields = fieldsAsTyped();
    if (qel::readFormulaFile(localPath(path), fields) != qel::FormulaFileStatus::Loaded) return;
    formulaX_->setText(QString::fromStdString(fields.formulaX));
    formulaY_->setText(QString::fromStdString(fields.formulaY));
    formulaZ_->setText(QString::fromStdString(fields.formulaZ));
    weightRed_->setText(QString::fromStdString(fields.weightRed));
    weightGreen_->setText(QString::fromStdString(fields.weightGreen));
    weightBlue_->setText(QString::fromStdString(fields.weightBlue));
    inverse_->setChecked(fields.inverse);
}
