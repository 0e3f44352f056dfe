// Every dialog the program draws, laid out at 9, 11 and 14 pt: no button or label is narrower or lower
// than its text, and the About box leaves its title room in the title bar.
#include <QAbstractButton>
#include <QLabel>
#include <QToolButton>

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

// True when `w` shows all of its text: a button at least the size its caption asks for in its font, a
// label's contents at least its text's extent (a wrapped label: the height its width needs).
bool holdsItsText(QWidget* w) {
    if (auto* button = qobject_cast<QAbstractButton*>(w); button && !qobject_cast<QToolButton*>(w))
        return button->width() >= button->sizeHint().width() && button->height() >= button->sizeHint().height();
    auto* label = qobject_cast<QLabel*>(w);
    if (!label || label->text().isEmpty()) return true;
    if (label->wordWrap()) return label->height() >= label->heightForWidth(label->width());
    const QSize text = label->fontMetrics().boundingRect(QRect(0, 0, 10000, 10000), 0, label->text()).size();
    return label->contentsRect().width() >= text.width() && label->contentsRect().height() >= text.height();
}

TEST(DialogText, EveryButtonAndLabelHoldsItsTextAtNineElevenAndFourteenPoints) {
    const std::function<QDialog*()> dialogs[] = {
        [] { return new CPaletteDlg(nullptr); }, [] { return new CApproxReplaceDlg; }, [] { return new CNearColourDlg; },
        [] { return new CThresholdDlg; },        [] { return new CCalculatorDlg; },    [] { return new CTransformDlg; },
        [] { return new CScaleDlg(640, 480); },  [] { return new CStraightenDlg; },    [] { return new CMixDlg; },
        [] { return new CAboutDlg; },            [] { return new CHelpWindow; }};
    const QFont original = QApplication::font();
    for (int points : {9, 11, 14}) {
        QFont font = original;
        font.setPointSize(points);
        QApplication::setFont(font);
        for (const auto& make : dialogs) {
            std::unique_ptr<QDialog> dialog(make());
            dialog->show();
            processEvents();
            for (QWidget* w : dialog->findChildren<QWidget*>())
                EXPECT_TRUE(!w->isVisible() || holdsItsText(w)) << dialog->windowTitle().toStdString() << " at "
                                                                 << points << " pt: " << w->objectName().toStdString();
        }
        // The About box's title beside the title bar's icon and three buttons, each a square of two text lines.
        CAboutDlg about;
        font.setBold(true);
        EXPECT_GE(about.width(), QFontMetrics(font).horizontalAdvance(about.windowTitle()) + 8 * about.fontMetrics().height());
    }
    QApplication::setFont(original);
}

}  // namespace
}  // namespace qel::test
