// Every dialog the program draws, laid out at 9, 11 and 14 pt: no button or label is narrower or lower
// than its text, and the About box leaves its title room in the title bar.
#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>

#include "gui/commands/colour/approx_replace_dlg.h"
#include "gui/commands/colour/near_colour_dlg.h"
#include "gui/commands/colour/palette_dlg.h"
#include "gui/commands/colour/threshold_dlg.h"
#include "gui/commands/expr/calculator_dlg.h"
#include "gui/commands/expr/transform_dlg.h"
#include "gui/commands/geometry/mix_dlg.h"
#include "gui/commands/geometry/scale_dlg.h"
#include "gui/commands/lineart/straighten_dlg.h"
#include "gui/shell/about_dlg.h"
#include "gui_test.h"

namespace qel::test {
namespace {

// What of `w`'s text does not fit, or empty.
QString cut(QWidget* w) {
    const QFontMetrics fm(w->font());
    QString text;
    QRect room;
    if (auto* label = qobject_cast<QLabel*>(w)) {
        if (label->text().isEmpty() || !label->pixmap().isNull()) return {};
        if (label->wordWrap())  // a wrapped label needs the height its width gives
            return label->height() >= label->heightForWidth(label->width()) ? QString() : label->text();
        text = label->text();
        room = label->contentsRect();
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        QStyle::SubElement contents;
        if (qobject_cast<QPushButton*>(w)) contents = QStyle::SE_PushButtonContents;
        else if (qobject_cast<QCheckBox*>(w)) contents = QStyle::SE_CheckBoxContents;
        else if (qobject_cast<QRadioButton*>(w)) contents = QStyle::SE_RadioButtonContents;
        else return {};  // tool buttons take their size from their bar
        if (button->text().isEmpty()) return {};
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        room = button->style()->subElementRect(contents, &option, button);
        text = QString(button->text()).remove('&');
    } else {
        return {};
    }
    const QSize need = fm.boundingRect(QRect(0, 0, 10000, 10000), Qt::AlignLeft | Qt::AlignTop, text).size();
    return room.width() >= need.width() && room.height() >= fm.height() ? QString() : text;
}

TEST(DialogText, EveryButtonAndLabelHoldsItsTextAtNineElevenAndFourteenPoints) {
    const std::vector<std::pair<const char*, std::function<QDialog*()>>> dialogs = {
        {"パレット", [] { return new CPaletteDlg(nullptr); }},
        {"近似置換", [] { return new CApproxReplaceDlg; }},
        {"近い色", [] { return new CNearColourDlg; }},
        {"白黒にする", [] { return new CThresholdDlg; }},
        {"関数電卓", [] { return new CCalculatorDlg; }},
        {"関数で変換", [] { return new CTransformDlg; }},
        {"画像伸縮", [] { return new CScaleDlg(640, 480); }},
        {"直線化", [] { return new CStraightenDlg; }},
        {"混合", [] { return new CMixDlg; }},
        {"ﾊﾞｰｼﾞｮﾝ情報", [] { return new CAboutDlg; }},
        {"ヘルプ", [] { return new CHelpWindow; }},
    };
    const QFont original = QApplication::font();
    for (int points : {9, 11, 14}) {
        QFont font = original;
        font.setPointSize(points);
        QApplication::setFont(font);
        for (const auto& [name, make] : dialogs) {
            std::unique_ptr<QDialog> dialog(make());
            dialog->show();
            processEvents();
            int checked = 0;
            for (QWidget* w : dialog->findChildren<QWidget*>()) {
                if (!w->isVisible()) continue;
                EXPECT_TRUE(cut(w).isEmpty()) << name << " at " << points << " pt: " << w->metaObject()->className()
                                              << " " << cut(w).toStdString();
                ++checked;
            }
            EXPECT_GT(checked, 0) << name;
            if (auto* about = qobject_cast<CAboutDlg*>(dialog.get())) {
                // The title beside the title bar's icon and three buttons, each a square of two text lines.
                QFont bold = font;
                bold.setBold(true);
                const int need = QFontMetrics(bold).horizontalAdvance(about->windowTitle()) + 4 * 2 * QFontMetrics(font).height();
                EXPECT_GE(about->width(), need) << points << " pt";
            }
        }
    }
    QApplication::setFont(original);
}

}  // namespace
}  // namespace qel::test
