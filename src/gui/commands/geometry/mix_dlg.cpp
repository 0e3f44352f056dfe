#include "gui/commands/geometry/mix_dlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/ops/operation.h"
#include "gui/kit/dialog_service.h"

namespace {
QLineEdit* numberEdit(const char* name) {
    auto* e = new QLineEdit;
    e->setObjectName(QLatin1String(name));
    e->setMaximumWidth(80);
    return e;
}
}  // namespace

CMixDlg::CMixDlg(QWidget* parent)
    : DdxDialog(parent),
      fileName_(new QLineEdit),
      ratio_(numberEdit("ratio")),
      rectHeight_(numberEdit("rectHeight")),
      rectWidth_(numberEdit("rectWidth")),
      copyX_(numberEdit("copyX")),
      copyY_(numberEdit("copyY")),
      startX_(numberEdit("startX")),
      startY_(numberEdit("startY")),
      keyBlue_(numberEdit("keyBlue")),
      keyGreen_(numberEdit("keyGreen")),
      keyRed_(numberEdit("keyRed")),
      browse_(new QPushButton(QStringLiteral("参照"))) {
    setWindowTitle(QStringLiteral("混合"));
    fileName_->setObjectName(QStringLiteral("fileName"));
    fileName_->setMinimumWidth(260);
    browse_->setObjectName(QStringLiteral("browse"));
    browse_->setAutoDefault(false);
    connect(browse_, &QPushButton::clicked, this, &CMixDlg::onBrowse);

    auto* file = new QHBoxLayout;
    file->addWidget(fileName_, 1);
    file->addWidget(browse_);

    auto* ratio = new QHBoxLayout;
    ratio->addWidget(new QLabel(QStringLiteral("混合比 ：")));
    ratio->addWidget(ratio_);
    ratio->addWidget(new QLabel(QStringLiteral("(0から１までの小数)")));
    ratio->addStretch(1);

    auto* grid = new QGridLayout;
    const auto cell = [grid](int row, int column, const QString& label, QLineEdit* edit) {
        grid->addWidget(new QLabel(label), row, 2 * column, Qt::AlignRight);
        grid->addWidget(edit, row, 2 * column + 1);
    };
    cell(0, 0, QStringLiteral("コピー始点x"), copyX_);
    cell(0, 1, QStringLiteral("コピー始点y"), copyY_);
    cell(1, 0, QStringLiteral("幅w="), rectWidth_);
    cell(1, 1, QStringLiteral("高さh="), rectHeight_);
    cell(2, 0, QStringLiteral("始点x="), startX_);
    cell(2, 1, QStringLiteral("始点y="), startY_);

    auto* key = new QGroupBox(QStringLiteral("透過色"));
    auto* keyRow = new QHBoxLayout(key);
    for (const auto& [label, edit] : {std::pair{QStringLiteral("青："), keyBlue_}, std::pair{QStringLiteral("緑："), keyGreen_},
                                      std::pair{QStringLiteral("赤："), keyRed_}}) {
        keyRow->addWidget(new QLabel(label));
        keyRow->addWidget(edit);
    }

    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CMixDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("混合するファイル名")));
    layout->addLayout(file);
    layout->addLayout(ratio);
    layout->addLayout(grid);
    layout->addWidget(key);
    layout->addWidget(buttons);
}

void CMixDlg::onBrowse() {
    qel::ui::FileRequest request;
    // Any picture Qel reads mixes; the BMP filter stays in the list. The dialog starts beside the
    // picture being mixed into.
    request.filter = QStringLiteral("Bimap Files | *.bmp |画像ファイル|*.bmp;*.png;*.jpg;*.jpeg;*.tif;*.tiff;*.webp;*.gif||");
    request.selectedFilter = QStringLiteral("画像ファイル");
    request.defaultExtension = QStringLiteral("bmp");
    request.initialName = QStringLiteral("*.bmp");
    request.overwritePrompt = true;
    request.directory = qel::ui::startFolder(m_documentPath);
    const QString path = qel::ui::dialogs().openFile(this, request);
    if (path.isEmpty()) return;
    m_fileName = path;
    fileName_->setText(path);
}

void CMixDlg::doDataExchange(qel::ui::DataExchange& dx) {
    dx.textField(fileName_, m_fileName);
    // The ranges the mix operation declares for its fields.
    const auto range = [&](QLineEdit* edit, int32_t& value, const char* name) {
        const qel::OperationField& f = qel::fieldOf(qel::cmd::ID_MIX, name);
        dx.intField(edit, value, int32_t(f.min), int32_t(f.max));
    };
    const qel::OperationField& ratio = qel::fieldOf(qel::cmd::ID_MIX, "ratio");
    dx.floatField(ratio_, m_ratio, float(ratio.min), float(ratio.max));
    range(rectHeight_, m_rectHeight, "height");
    range(rectWidth_, m_rectWidth, "width");
    range(copyX_, m_copyX, "copy_x");
    range(copyY_, m_copyY, "copy_y");
    range(startX_, m_startX, "x");
    range(startY_, m_startY, "y");
    range(keyBlue_, m_keyBlue, "blue");
    range(keyGreen_, m_keyGreen, "green");
    range(keyRed_, m_keyRed, "red");
}
