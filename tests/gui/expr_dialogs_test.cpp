// The calculator and the transform dialog: answers, defaults, the check on
// leaving a formula field, field checks at OK and formula files.
#include <QApplication>
#include <QCheckBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "gui/commands/expr/calculator_dlg.h"
#include "gui/commands/expr/transform_dlg.h"
#include "gui_test.h"

namespace qel::test {
namespace {


const QString kInvalidFormula = QStringLiteral("エラー: 式が不正です。");

class CalculatorDlgTest : public GuiTest {};

TEST_F(CalculatorDlgTest, OkWritesTheAnswerAndKeepsTheDialogOpen) {
    const std::vector<std::pair<QString, QString>> cases = {
        {"x*y", "8.539733"},
        {"z+1", "1.000000"},
        {"sin(x)", "0.054804"},
        {" 1 + 2 ", "3.000000"},
        {"", "数式が不正です。"},
        {"2x", "数式が不正です。"},
    };
    CCalculatorDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), "関数電卓");
    dlg.show();
    for (const auto& [formula, answer] : cases) {
        dlg.formulaEdit()->setText(formula);
        dlg.accept();
        EXPECT_EQ(dlg.answerEdit()->text(), answer) << formula.toStdString();
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_EQ(dlg.formulaEdit()->text(), formula);
    }
    EXPECT_TRUE(dialogs->shown().empty());
}

class TransformDlgTest : public GuiTest {
protected:
    // A shown, active dialog with the focus in x'=.
    void showActive(CTransformDlg& dlg) {
        dlg.show();
        dlg.activateWindow();
        processEvents();
        dlg.formulaXEdit()->setFocus(Qt::OtherFocusReason);
        processEvents();
        dialogs->clear();
    }
    static std::vector<QString> texts(const CTransformDlg& dlg) {
        return {dlg.formulaXEdit()->text(),  dlg.formulaYEdit()->text(),     dlg.formulaZEdit()->text(),
                dlg.weightRedEdit()->text(), dlg.weightGreenEdit()->text(), dlg.weightBlueEdit()->text()};
    }
    static void setTexts(CTransformDlg& dlg, const std::vector<QString>& t) {
        QLineEdit* edits[] = {dlg.formulaXEdit(),  dlg.formulaYEdit(),     dlg.formulaZEdit(),
                              dlg.weightRedEdit(), dlg.weightGreenEdit(), dlg.weightBlueEdit()};
        for (size_t i = 0; i < 6; ++i) edits[i]->setText(t[i]);
    }
    QString path(const char* name) const { return QString::fromStdString(dir.file(name)); }
};

TEST_F(TransformDlgTest, OpensWithItsDefaults) {
    CTransformDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), "関数で画像変換");
    dlg.show();
    EXPECT_EQ(texts(dlg), (std::vector<QString>{"x", "y", "0", "1", "1", "1"}));
    EXPECT_TRUE(dlg.inverseBox()->isChecked());
    EXPECT_FALSE(dlg.keepBox()->isChecked());
    EXPECT_EQ(dlg.formulaXEdit()->maxLength(), 128);
}

TEST_F(TransformDlgTest, ShowsTheMembersItWasGiven) {
    CTransformDlg dlg;
    dlg.m_formulaX = "99-x";
    dlg.m_formulaZ = "z+1";
    dlg.m_weightRed = 0.5f;
    dlg.m_weightGreen = -255.0f;
    dlg.m_weightBlue = 1.0f / 3.0f;
    dlg.m_inverse = 0;
    dlg.m_keep = 1;
    dlg.show();
    EXPECT_EQ(texts(dlg), (std::vector<QString>{"99-x", "y", "z+1", "0.5", "-255", "0.333333"}));
    EXPECT_FALSE(dlg.inverseBox()->isChecked());
    EXPECT_TRUE(dlg.keepBox()->isChecked());
}

TEST_F(TransformDlgTest, LeavingAFormulaFieldChecksItsText) {
    struct Case {
        int field;  // 0 x'=, 1 y'=, 2 z'=
        QString text;
        bool valid;
    };
    const std::vector<Case> cases = {
        {0, "", false},       {0, " 99 - x ", true}, {1, "sin 30", false},
        {1, "y*cos(x)", true}, {2, "3+", false},       {2, "abs(x-y)/8", true},
    };
    for (const Case& c : cases) {
        CTransformDlg dlg;
        showActive(dlg);
        QLineEdit* fields[] = {dlg.formulaXEdit(), dlg.formulaYEdit(), dlg.formulaZEdit()};
        QLineEdit* field = fields[c.field];
        QLineEdit* next = fields[(c.field + 1) % 3];
        field->setFocus(Qt::MouseFocusReason);
        processEvents();
        field->setText(c.text);
        dialogs->clear();
        next->setFocus(Qt::TabFocusReason);
        processEvents();
        const QStringList want = c.valid ? QStringList() : QStringList({kInvalidFormula});
        EXPECT_EQ(dialogs->messages(), want) << c.field << " " << c.text.toStdString();
        // Nothing is corrected and the focus stays where the user sent it.
        EXPECT_EQ(field->text(), c.text);
        EXPECT_TRUE(next->hasFocus()) << c.text.toStdString();
    }
}

TEST_F(TransformDlgTest, LeavingForAButtonAlsoChecksButWindowChangesDoNot) {
    CTransformDlg dlg;
    showActive(dlg);
    dlg.formulaYEdit()->setText("2x");
    dlg.formulaYEdit()->setFocus(Qt::MouseFocusReason);
    processEvents();
    dialogs->clear();
    // Another window taking the activation, or a popup menu, is no leaving of the field.
    for (Qt::FocusReason reason : {Qt::ActiveWindowFocusReason, Qt::PopupFocusReason}) {
        QFocusEvent out(QEvent::FocusOut, reason);
        QApplication::sendEvent(dlg.formulaYEdit(), &out);
        processEvents();
    }
    EXPECT_TRUE(dialogs->shown().empty());
    // Clicking a button of the dialog leaves the field.
    dlg.loadButton()->setFocus(Qt::MouseFocusReason);
    processEvents();
    EXPECT_EQ(dialogs->messages(), QStringList({kInvalidFormula}));
}

// A dialog service that puts up a real modal box, which takes the focus from the dialog, before answering.
class FocusTakingDialogs : public qel::ui::ScriptedDialogService {
public:
    qel::ui::Answer message(QWidget* owner, const QString& text, const QString& title, qel::ui::Buttons buttons,
                            qel::ui::Icon icon) override {
        QMessageBox box(owner);
        box.setText(text);
        QTimer::singleShot(20, &box, [&box] { box.accept(); });
        box.exec();
        return ScriptedDialogService::message(owner, text, title, buttons, icon);
    }
};

TEST_F(TransformDlgTest, TheMessageBoxTakingTheFocusDoesNotRepeatTheMessage) {
    auto owned = std::make_unique<FocusTakingDialogs>();
    FocusTakingDialogs* service = owned.get();
    auto previous = qel::ui::installDialogService(std::move(owned));
    {
        CTransformDlg dlg;
        showActive(dlg);
        dlg.formulaXEdit()->setText("");
        dlg.formulaYEdit()->setText("2y");  // the box takes the focus from this field, which is no leaving
        dlg.formulaYEdit()->setFocus(Qt::TabFocusReason);
        for (int i = 0; i < 10; ++i) processEvents();
        EXPECT_EQ(service->messages(), QStringList({kInvalidFormula}));
        EXPECT_EQ(dlg.formulaXEdit()->text(), "");
        // The dialog's focus stays where the user sent it (it returns there when the dialog is active again).
        EXPECT_EQ(dlg.focusWidget(), dlg.formulaYEdit());
    }
    qel::ui::installDialogService(std::move(previous));
}

TEST_F(TransformDlgTest, OkChecksTheFormulasThenTheWeights) {
    struct Case {
        int field;  // 0-2 the formulas, 3 the red weight
        QString text;
        QString message;  // empty: accepted
        bool enter;       // OK by Enter in the field rather than by the button
    };
    const std::vector<Case> cases = {
        {0, "2x", kInvalidFormula, false},
        {2, "3+", kInvalidFormula, true},
        {1, "y*cos(x)", "", true},
        {3, "abc", "Qel: 数字を入力してください。", false},
        {3, "255.5", "Qel: -255 から 255 までの数字を入力してください。", true},
        {3, " -255 ", "", false},
    };
    for (const Case& c : cases) {
        CTransformDlg dlg;
        showActive(dlg);
        QLineEdit* fields[] = {dlg.formulaXEdit(), dlg.formulaYEdit(), dlg.formulaZEdit(), dlg.weightRedEdit()};
        QLineEdit* field = fields[c.field];
        field->setText(c.text);
        field->setFocus(Qt::MouseFocusReason);
        processEvents();
        if (c.enter) {
            QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(field, &enter);
        } else {
            dlg.accept();
        }
        processEvents();
        const QStringList want = c.message.isEmpty() ? QStringList() : QStringList({c.message});
        EXPECT_EQ(dialogs->messages(), want) << c.text.toStdString();
        EXPECT_EQ(dlg.isVisible(), !c.message.isEmpty()) << c.text.toStdString();
        EXPECT_EQ(c.message.isEmpty() ? dlg.result() == QDialog::Accepted : field->hasFocus(), true) << c.text.toStdString();
        dialogs->clear();
    }
}

TEST_F(TransformDlgTest, FormulaFilesRoundTrip) {
    struct Case {
        std::vector<QString> fields;
        bool inverse;
        std::string file;
        std::vector<QString> loaded;
        bool loadedInverse;
    };
    const std::vector<Case> cases = {
        {{"x+10", "y", "z+1", "0.5", "1", "-2"}, true, "x+10\ny\nz+1\n0.5\n1\n-2\n1",
         {"x+10", "y", "z+1", "0.5", "1", "-2"}, true},
        {{"99-x", "y", "0", "1", "1", "1"}, false, "99-x\ny\n0\n1\n1\n1\n0", {"99-x", "y", "0", "1", "1", "1"}, false},
        // Texts with spaces are written as typed and read back word by word.
        {{"x + 10", "y", "0", "1", "1", "1"}, false, "x + 10\ny\n0\n1\n1\n1\n0", {"x", "+", "10", "y", "0", "1"}, true},
    };
    for (const Case& c : cases) {
        const QString file = path("set.fnc");
        {
            CTransformDlg dlg;
            showActive(dlg);
            setTexts(dlg, c.fields);
            dlg.inverseBox()->setChecked(c.inverse);
            dialogs->answerPath(file);
            dlg.saveButton()->click();
            ASSERT_EQ(dialogs->shown().size(), 1u);
            const auto& request = dialogs->shown()[0];
            EXPECT_EQ(request.kind, qel::ui::ShownDialog::SaveFile);
            EXPECT_TRUE(request.file.filter.startsWith("変換ファイル"));
            EXPECT_EQ(request.file.defaultExtension, "fnc");
            EXPECT_EQ(request.file.initialName, "*.fnc");
        }
        const auto bytes = readBytes(file.toStdString());
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.file);

        CTransformDlg dlg;
        showActive(dlg);
        dlg.inverseBox()->setChecked(!c.loadedInverse);
        dialogs->answerPath(file);
        dlg.loadButton()->click();
        ASSERT_EQ(dialogs->shown().size(), 1u);
        EXPECT_EQ(dialogs->shown()[0].kind, qel::ui::ShownDialog::OpenFile);
        EXPECT_EQ(dialogs->shown()[0].file.filter, "変換ファイル |*.fnc||");
        EXPECT_EQ(texts(dlg), c.loaded);
        EXPECT_EQ(dlg.inverseBox()->isChecked(), c.loadedInverse);
        EXPECT_EQ(dialogs->messages(), QStringList());  // loaded texts are not checked on loading
    }
}

TEST_F(TransformDlgTest, LoadingTicksInverseOnlyForOneAndKeepsFieldsTheFileLacks) {
    struct Case {
        std::string file;
        std::vector<QString> loaded;
        bool inverse;
    };
    const std::vector<Case> cases = {
        {"a\nb\nc\n1\n2\n3\n2", {"a", "b", "c", "1", "2", "3"}, false},
        {"a\nb\nc\n1\n2\n3\n1", {"a", "b", "c", "1", "2", "3"}, true},
        // Missing items leave their fields (and the inverse box, here ticked) as they were.
        {"x*2\ny/2", {"x*2", "y/2", "7", "8", "9", "10"}, true},
        // A word longer than 127 characters: the file is not used.
        {std::string(128, 'x') + "\ny\n0\n1\n1\n1\n1", {"5", "6", "7", "8", "9", "10"}, true},
    };
    for (const Case& c : cases) {
        const QString file = path("in.fnc");
        ASSERT_TRUE(writeBytes(file.toStdString(), std::vector<uint8_t>(c.file.begin(), c.file.end())));
        CTransformDlg dlg;
        showActive(dlg);
        setTexts(dlg, {"5", "6", "7", "8", "9", "10"});
        dlg.inverseBox()->setChecked(true);
        dialogs->answerPath(file);
        dlg.loadButton()->click();
        EXPECT_EQ(texts(dlg), c.loaded) << c.file;
        EXPECT_EQ(dlg.inverseBox()->isChecked(), c.inverse) << c.file;
        EXPECT_EQ(dialogs->messages(), QStringList());
    }
}

TEST_F(TransformDlgTest, CancelledOrFailedFileDialogsChangeNothing) {
    CTransformDlg dlg;
    showActive(dlg);
    setTexts(dlg, {"x+1", "y", "0", "1", "1", "1"});
    dlg.saveButton()->click();  // cancelled: no path
    dlg.loadButton()->click();  // cancelled
    dialogs->answerPath(path("missing/none.fnc"));
    dlg.saveButton()->click();  // cannot be written
    dialogs->answerPath(path("none.fnc"));
    dlg.loadButton()->click();  // cannot be read
    EXPECT_EQ(texts(dlg), (std::vector<QString>{"x+1", "y", "0", "1", "1", "1"}));
    EXPECT_EQ(dialogs->messages(), QStringList());
    EXPECT_TRUE(readBytes(path("none.fnc").toStdString()).empty());
}

TEST_F(TransformDlgTest, TheCalculatorOpensFromTheDialogWhichKeepsItsState) {
    CTransformDlg dlg;
    showActive(dlg);
    setTexts(dlg, {"x+10", "y", "z", "0.5", "1", "1"});
    QString answer;
    whenShown<CCalculatorDlg>([&answer](CCalculatorDlg* calc) {
        EXPECT_TRUE(calc->isModal());
        calc->formulaEdit()->setText("x*y");
        calc->accept();
        answer = calc->answerEdit()->text();
        calc->reject();
    });
    dlg.calculatorButton()->click();
    EXPECT_EQ(answer, "8.539733");
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(texts(dlg), (std::vector<QString>{"x+10", "y", "z", "0.5", "1", "1"}));
}

}  // namespace
}  // namespace qel::test
