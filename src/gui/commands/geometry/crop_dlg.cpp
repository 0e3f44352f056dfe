#include "gui/commands/geometry/crop_dlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <tuple>

#include "core/ops/operation.h"

CCropDlg::CCropDlg(int32_t pictureWidth, int32_t pictureHeight, QWidget* parent)
    : DdxDialog(parent),
      m_width(pictureWidth),
      m_height(pictureHeight),
      pictureWidth_(pictureWidth),
      pictureHeight_(pictureHeight),
      x_(new QLineEdit),
      y_(new QLineEdit),
      width_(new QLineEdit),
      height_(new QLineEdit) {
    setWindowTitle(QStringLiteral("切り抜き"));
    auto* fields = new QFormLayout;
    for (const auto& [edit, name, label] : {std::tuple{x_, "x", "x"}, std::tuple{y_, "y", "y"},
                                            std::tuple{width_, "width", "幅"}, std::tuple{height_, "height", "高さ"}}) {
        edit->setObjectName(QLatin1String(name));
        fields->addRow(QString::fromUtf8(label), edit);
    }
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CCropDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(buttons);
}

void CCropDlg::doDataExchange(qel::ui::DataExchange& dx) {
    // The ranges the crop operation declares for its fields.
    const int id = qel::commandOf(*qel::findOperation("crop"));
    const auto range = [&](QLineEdit* edit, int32_t& value, const char* name) {
        const qel::OperationField& f = qel::fieldOf(id, name);
        dx.intField(edit, value, int32_t(f.min), int32_t(f.max));
    };
    range(x_, m_x, "x");
    range(y_, m_y, "y");
    range(width_, m_width, "width");
    range(height_, m_height, "height");
    if (!dx.saving() || dx.failed()) return;
    const QString outside = QStringLiteral("切り抜く範囲が画像（%1×%2）からはみ出しています。").arg(pictureWidth_).arg(pictureHeight_);
    if (int64_t(m_x) + m_width > pictureWidth_) dx.fail(width_, outside);
    else if (int64_t(m_y) + m_height > pictureHeight_) dx.fail(height_, outside);
}
