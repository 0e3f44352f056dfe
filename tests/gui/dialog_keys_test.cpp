// Every dialog from the keyboard alone: typed text replaces the first field's value, Tab follows the
// drawn order and Enter presses OK from any field or check box.
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include "gui/commands/colour/quantize_dlg.h"
#include "gui/commands/colour/threshold_dlg.h"
#include "gui/commands/expr/calculator_dlg.h"
#include "gui/commands/expr/transform_dlg.h"
#include "gui/commands/geometry/mix_dlg.h"
#include "gui/commands/geometry/scale_dlg.h"
#include "gui/commands/lineart/straighten_dlg.h"
#include "gui/docview/svg_save_dlg.h"
#include "gui_test.h"

namespace qel::test {
namespace {

// Keys to the focused widget: text, or "\t" (Tab), " " (Space), "\n" (Enter).
void type(const QString& keys) {
    for (QChar c : keys) {
        const int key = c == '\t' ? Qt::Key_Tab : c == '\n' ? Qt::Key_Return : c == ' ' ? Qt::Key_Space : c.toUpper().unicode();
        const QString text = c == '\t' || c == '\n' ? QString() : QString(c);
        QWidget* to = QApplication::focusWidget();
        ASSERT_NE(to, nullptr) << keys.toStdString();
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text), release(QEvent::KeyRelease, key, Qt::NoModifier, text);
        QApplication::sendEvent(to, &press);
        if (QApplication::focusWidget()) QApplication::sendEvent(QApplication::focusWidget(), &release);
    }
}

TEST(DialogKeys, EachDialogRunsFromTheKeyboard) {
    struct Case {
        const char* what;
        std::function<QDialog*()> make;
        QString keys;
        std::function<std::string(QDialog*)> got;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"quantize: count, Tab to the check box, Space, Enter", [] { return new CQuantizeDlg; }, "8\t \n",
         [](QDialog* d) { auto* q = static_cast<CQuantizeDlg*>(d); return std::to_string(q->m_colours) + " " + std::to_string(q->m_dither); },
         "8 1"},
        {"quantize: Tab twice to OK, Enter", [] { return new CQuantizeDlg; }, "16\t\t\n",
         [](QDialog* d) { auto* q = static_cast<CQuantizeDlg*>(d); return std::to_string(q->m_colours) + " " + std::to_string(q->m_dither); },
         "16 0"},
        {"scale: width typed over 240, Enter", [] { return new CScaleDlg(240, 180); }, "120\n",
         [](QDialog* d) { auto* s = static_cast<CScaleDlg*>(d); return std::to_string(s->m_width) + "x" + std::to_string(s->m_height); },
         "120x90"},
        {"scale: Space unticks the second check box, Enter", [] { return new CScaleDlg(240, 180); }, "\t\t\t \n",
         [](QDialog* d) { return std::to_string(static_cast<CScaleDlg*>(d)->m_interpolate); }, "0"},
        {"threshold", [] { return new CThresholdDlg; }, "77\n",
         [](QDialog* d) { return std::to_string(static_cast<CThresholdDlg*>(d)->m_threshold); }, "77"},
        {"straighten", [] { return new CStraightenDlg; }, "5\n",
         [](QDialog* d) { return std::to_string(static_cast<CStraightenDlg*>(d)->m_length); }, "5"},
        {"transform: Enter from the second formula", [] { return new CTransformDlg; }, "x+1\ty*2\n",
         [](QDialog* d) { auto* t = static_cast<CTransformDlg*>(d); return (t->m_formulaX + ";" + t->m_formulaY).toStdString(); },
         "x+1;y*2"},
        {"mix: file name, then Enter from the ratio", [] { return new CMixDlg; }, "a.bmp\t\t0.25\n",
         [](QDialog* d) { auto* m = static_cast<CMixDlg*>(d); return m->m_fileName.toStdString() + " " + std::to_string(m->m_ratio); },
         "a.bmp 0.250000"},
        {"svg save: Space ticks the box, Enter", [] { return new CSvgSaveDlg; }, " \n",
         [](QDialog* d) { return std::to_string(static_cast<CSvgSaveDlg*>(d)->m_curves); }, "1"},
        {"calculator: Enter answers and stays open", [] { return new CCalculatorDlg; }, "1+2\n",
         [](QDialog* d) { return static_cast<CCalculatorDlg*>(d)->answerEdit()->text().toStdString(); }, "3.000000"},
    };
    // A refusal's message box answers at once instead of waiting for a click.
    auto previous = qel::ui::installDialogService(std::make_unique<qel::ui::ScriptedDialogService>());
    for (const Case& c : cases) {
        std::unique_ptr<QDialog> dialog(c.make());
        dialog->show();
        dialog->activateWindow();
        QApplication::processEvents();
        type(c.keys);
        EXPECT_EQ(c.got(dialog.get()), c.expected) << c.what;
        const bool staysOpen = qobject_cast<CCalculatorDlg*>(dialog.get()) != nullptr;
        EXPECT_EQ(dialog->isVisible(), staysOpen) << c.what;
        if (!staysOpen) EXPECT_EQ(dialog->result(), QDialog::Accepted) << c.what;
    }
    qel::ui::installDialogService(std::move(previous));
}

}  // namespace
}  // namespace qel::test
