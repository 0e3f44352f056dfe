#include "gui/docview/svg_save_dlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CSvgSaveDlg::CSvgSaveDlg(QWidget* parent) : DdxDialog(parent), curves_(new QCheckBox(QStringLiteral("曲線で書く"))) {
    setWindowTitle(QStringLiteral("SVG で保存"));
    curves_->setObjectName(QStringLiteral("curves"));
    auto* label = new QLabel(QStringLiteral("線の中心を SVG のパスで書き出します。\n"
                                            "曲線で書くと、角を残して滑らかな曲線でつなぎます。"));
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CSvgSaveDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(curves_);
    layout->addWidget(buttons);
}

void CSvgSaveDlg::doDataExchange(qel::ui::DataExchange& dx) { dx.checkBox(curves_, m_curves); }
