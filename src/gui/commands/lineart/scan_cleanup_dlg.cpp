#include "gui/commands/lineart/scan_cleanup_dlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <string>

#include "core/ops/operation.h"

namespace {

const qel::Operation& operation(const char* name) { return *qel::findOperation(name); }

}  // namespace

CAdaptiveBwDlg::CAdaptiveBwDlg(QWidget* parent) : DdxDialog(parent), window_(new QLineEdit), k_(new QLineEdit) {
    setWindowTitle(QStringLiteral("適応的白黒化"));
    // Offered first: the defaults the operation declares.
    const qel::Operation& op = operation("adaptive-bw");
    m_window = std::stoi(op.arg.fields[0].initial);
    m_k = std::stod(op.arg.fields[1].initial);
    window_->setObjectName(QStringLiteral("window"));
    k_->setObjectName(QStringLiteral("k"));
    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("窓の大きさ（奇数）"), window_);
    fields->addRow(QStringLiteral("k（0～1）"), k_);
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CAdaptiveBwDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(buttons);
}

void CAdaptiveBwDlg::doDataExchange(qel::ui::DataExchange& dx) {
    // The ranges the operation declares for its fields.
    const int id = qel::commandOf(operation("adaptive-bw"));
    const qel::OperationField& w = qel::fieldOf(id, "window");
    const qel::OperationField& k = qel::fieldOf(id, "k");
    dx.intField(window_, m_window, int32_t(w.min), int32_t(w.max));
    if (dx.saving() && !dx.failed() && m_window % 2 == 0) dx.fail(window_, QStringLiteral("窓の大きさは奇数にしてください。"));
    if (!dx.failed()) dx.doubleField(k_, m_k, k.min, k.max);
}

CDespeckleDlg::CDespeckleDlg(QWidget* parent)
    : IntEntryDlg({.title = QStringLiteral("ゴミ取り"),
                   .prompt = QStringLiteral("この画素数より小さい黒い点を消し、白い穴を埋めます。\n画素数を入力して下さい。"),
                   .fieldName = QStringLiteral("pixels"),
                   .cancelText = QStringLiteral("ｷｬﾝｾﾙ"),
                   .okMin = operation("despeckle").arg.min,
                   .okMax = operation("despeckle").arg.max,
                   .refusal = QStringLiteral("1以上の数を入れてください。"),
                   .refusalTitle = QStringLiteral("エラー"),
                   .refusalIcon = qel::ui::Icon::Warning},
                  parent) {
    m_pixels = operation("despeckle").arg.initial;
}
