#include "gui/commands/geometry/scale_dlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CScaleDlg::CScaleDlg(int32_t width, int32_t height, QWidget* parent)
    : DdxDialog(parent),
      state(qel::ScaleDialogState::forPicture(width, height)),
      width_(new QLineEdit),
      height_(new QLineEdit),
      keepAspect_(new QCheckBox(QStringLiteral("縦横比一定"))),
      interpolate_(new QCheckBox(QStringLiteral("補完"))) {
    setWindowTitle(QStringLiteral("画像伸縮"));
    width_->setObjectName(QStringLiteral("width"));
    height_->setObjectName(QStringLiteral("height"));
    keepAspect_->setObjectName(QStringLiteral("keepAspect"));
    interpolate_->setObjectName(QStringLiteral("interpolate"));

    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("幅"), width_);
    fields->addRow(QStringLiteral("高さ"), height_);
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CScaleDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(keepAspect_);
    layout->addWidget(interpolate_);
    layout->addWidget(buttons);

    // The edit that last got the focus is the one the user types in; text written into the other
    // edit by the coupling then changes nothing in turn.
    width_->installEventFilter(this);
    height_->installEventFilter(this);
    connect(width_, &QLineEdit::textChanged, this, &CScaleDlg::onWidthChanged);
    connect(height_, &QLineEdit::textChanged, this, &CScaleDlg::onHeightChanged);
    // Clicks toggle the flag so that it follows the check mark while the dialog is open.
    connect(keepAspect_, &QCheckBox::clicked, this, [this] { state.keepAspectClicked(); });
}

bool CScaleDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        if (watched == width_) state.widthFocused();
        else if (watched == height_) state.heightFocused();
    }
    return DdxDialog::eventFilter(watched, event);
}

void CScaleDlg::onWidthChanged(const QString& text) {
    if (auto other = state.widthTextChanged(text.toStdString())) height_->setText(QString::fromStdString(*other));
}

void CScaleDlg::onHeightChanged(const QString& text) {
    if (auto other = state.heightTextChanged(text.toStdString())) width_->setText(QString::fromStdString(*other));
}

void CScaleDlg::doDataExchange(qel::ui::DataExchange& dx) {
    dx.intField(height_, m_height, qel::kScaleMin, qel::kScaleMax);
    dx.intField(width_, m_width, qel::kScaleMin, qel::kScaleMax);
    dx.checkBox(keepAspect_, m_keepAspect);
    dx.checkBox(interpolate_, m_interpolate);
}
