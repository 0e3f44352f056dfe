// The formula commands in the window program: the transform with its
// remembered settings, and the calculator from the menu.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTimer>
#include <functional>

#include "core/commands/command_table.h"
#include "core/expr/transform.h"
#include "core/ops/runner.h"
#include "gui/commands/expr/calculator_dlg.h"
#include "gui/commands/expr/transform_dlg.h"
#include "gui_test.h"

namespace qel::test {
namespace {

using namespace qel::cmd;


const Rows kPicture = {
    "RGB#.R",
    "#.RGB#",
    "BRG.#.",
};
const std::map<char, Rgb> kColours = {
    {'R', Rgb{200, 10, 20}}, {'G', Rgb{30, 220, 40}}, {'B', Rgb{50, 60, 230}}};

struct Entry {
    QString x = "x", y = "y", z = "0";
    QString red = "1", green = "1", blue = "1";
    bool inverse = true;
    bool keep = false;
};

class TransformCommandTest : public GuiTest {
protected:
    // The settings the expr family keeps for the view.
    TransformSettings& remembered() { return view()->familyState<TransformSettings>(); }
    void openPicture() { open(*make24(kPicture, kColours)); }

    // Runs "関数で変換", answering the dialog with `entry` (OK) or cancelling it; `seen` receives what the
    // dialog showed when it opened.
    void runTransform(const Entry& entry, bool ok = true, Entry* seen = nullptr) {
        whenShown<CTransformDlg>([=](CTransformDlg* dlg) {
            if (seen) {
                *seen = {dlg->formulaXEdit()->text(), dlg->formulaYEdit()->text(), dlg->formulaZEdit()->text(),
                         dlg->weightRedEdit()->text(), dlg->weightGreenEdit()->text(), dlg->weightBlueEdit()->text(),
                         dlg->inverseBox()->isChecked(), dlg->keepBox()->isChecked()};
            }
            if (!ok) return dlg->reject();
            dlg->formulaXEdit()->setText(entry.x);
            dlg->formulaYEdit()->setText(entry.y);
            dlg->formulaZEdit()->setText(entry.z);
            dlg->weightRedEdit()->setText(entry.red);
            dlg->weightGreenEdit()->setText(entry.green);
            dlg->weightBlueEdit()->setText(entry.blue);
            dlg->inverseBox()->setChecked(entry.inverse);
            dlg->keepBox()->setChecked(entry.keep);
            dlg->accept();
        });
        frame->runCommand(ID_TRANSFORM);
    }
};

TEST_F(TransformCommandTest, OfferedForTwentyFourBitPicturesOnly) {
    open(*makeLineArt({"#."}), QStringLiteral("eight.bmp"));
    EXPECT_FALSE(enabled(ID_TRANSFORM));
    openPicture();
    EXPECT_TRUE(enabled(ID_TRANSFORM));
}

TEST_F(TransformCommandTest, TransformsThePictureWithTheDialogsSettings) {
    struct Case {
        Entry entry;
        Rows want;
    };
    const std::map<char, Rgb> names = {{'R', Rgb{200, 10, 20}}, {'G', Rgb{30, 220, 40}}, {'B', Rgb{50, 60, 230}},
                                       {'r', Rgb{250, 10, 20}}, {'g', Rgb{80, 220, 40}}, {'b', Rgb{100, 60, 230}},
                                       {'k', Rgb{50, 0, 0}}};
    const std::vector<Case> cases = {
        {{}, kPicture},
        {{.x = "x+2"}, {"B#.R##", "RGB###", "G.#.##"}},                      // inverse: shifted left
        {{.x = "x+2", .inverse = false}, {"##RGB#", "###.RG", "##BRG."}},    // forward: shifted right
        {{.z = "50", .green = "0", .blue = "0"}, {"rgbk.r", "k.rgbk", "brg.k."}},
    };
    for (const Case& c : cases) {
        openPicture();
        runTransform(c.entry);
        EXPECT_EQ(colourRows(*doc()->image, names), c.want) << c.entry.x.toStdString() << " " << c.entry.z.toStdString();
        // One undo step brings the picture back.
        frame->runCommand(ID_EDIT_UNDO);
        EXPECT_EQ(colourRows(*doc()->image, names), kPicture);
        for (CChildFrame* f : frame->childFrames()) f->close();
        processEvents();
    }
}

// Each document draws rand from a sequence of its own: the same picture gives the same bytes in
// every window, as from qel-batch.
TEST_F(TransformCommandTest, EachDocumentDrawsItsOwnRandomNumbers) {
    std::vector<PixelBytes> results;
    for (int window = 0; window < 2; ++window) {
        openPicture();
        runTransform({.z = "rand(255)"});
        results.push_back(doc()->image->bits);
        for (CChildFrame* f : frame->childFrames()) f->close();
        processEvents();
    }
    auto expected = make24(kPicture, kColours);
    PictureState state;
    RunRequest request{.image = *expected, .state = state};
    runOperationText(*findOperation("transform"), "x;y;rand(255)", request);
    EXPECT_EQ(results[0], expected->bits);
    EXPECT_EQ(results[1], expected->bits);
}

TEST_F(TransformCommandTest, OkWithAnInvalidFormulaKeepsTheDialogOpenAndTakesNoSnapshot) {
    openPicture();
    const auto before = doc()->image->bits;
    bool stayedOpen = false;
    whenShown<CTransformDlg>([&stayedOpen](CTransformDlg* dlg) {
        dlg->formulaXEdit()->setText("2x");
        dlg->accept();
        stayedOpen = dlg->isVisible();
        dlg->reject();
    });
    frame->runCommand(ID_TRANSFORM);
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(dialogs->messages(), QStringList({"エラー: 式が不正です。"}));
    EXPECT_EQ(doc()->image->bits, before);
    EXPECT_FALSE(view()->canUndo());
}

TEST_F(TransformCommandTest, CancelLeavesPictureSnapshotAndSettings) {
    openPicture();
    const auto before = doc()->image->bits;
    runTransform({.x = "x+1", .keep = true}, false);
    EXPECT_EQ(doc()->image->bits, before);
    EXPECT_FALSE(view()->undoBits.has_value());
    EXPECT_EQ(remembered().formulaX, "x");
    EXPECT_EQ(remembered().keepSettings, 0);
}

TEST_F(TransformCommandTest, TheDialogOpensWithTheLastSettingsOnlyWhenKeepWasTicked) {
    openPicture();
    const Entry kept{"x+1", "y*1", "z/2", "0.5", "-1", "2", false, true};
    Entry seen;
    runTransform(kept, true, &seen);
    EXPECT_EQ(seen.x, "x");  // first run: defaults
    EXPECT_EQ(remembered().formulaX, "x+1");
    EXPECT_EQ(remembered().formulaY, "y*1");
    EXPECT_EQ(remembered().formulaZ, "z/2");
    EXPECT_FLOAT_EQ(remembered().weightRed, 0.5f);
    EXPECT_FLOAT_EQ(remembered().weightGreen, -1.0f);
    EXPECT_FLOAT_EQ(remembered().weightBlue, 2.0f);
    EXPECT_EQ(remembered().inverseTransform, 0);
    EXPECT_EQ(remembered().keepSettings, 1);

    // Kept: the next dialog shows them; this run unticks "保存".
    Entry plain = kept;
    plain.keep = false;
    runTransform(plain, true, &seen);
    EXPECT_EQ(seen.x, kept.x);
    EXPECT_EQ(seen.y, kept.y);
    EXPECT_EQ(seen.z, kept.z);
    EXPECT_EQ(seen.red, "0.5");
    EXPECT_EQ(seen.green, "-1");
    EXPECT_EQ(seen.blue, "2");
    EXPECT_FALSE(seen.inverse);
    EXPECT_TRUE(seen.keep);
    EXPECT_EQ(remembered().keepSettings, 0);

    // Not kept: defaults again, though the view still remembers the last values.
    runTransform({}, false, &seen);
    EXPECT_EQ(seen.x, "x");
    EXPECT_EQ(seen.z, "0");
    EXPECT_EQ(seen.red, "1");
    EXPECT_TRUE(seen.inverse);
    EXPECT_FALSE(seen.keep);
    EXPECT_EQ(remembered().formulaX, "x+1");

    // Each window remembers its own settings.
    runTransform(kept);
    frame->createFrame(doc());
    processEvents();
    runTransform({}, false, &seen);
    EXPECT_EQ(seen.x, "x");
}

TEST_F(TransformCommandTest, TheCalculatorOpensFromTheMenu) {
    openPicture();
    EXPECT_TRUE(enabled(ID_CALCULATOR));
    QString answer;
    whenShown<CCalculatorDlg>([&answer](CCalculatorDlg* calc) {
        EXPECT_EQ(calc->windowTitle(), "関数電卓");
        calc->formulaEdit()->setText("sin(x)");
        calc->accept();
        answer = calc->answerEdit()->text();
        calc->reject();
    });
    const auto before = doc()->image->bits;
    frame->runCommand(ID_CALCULATOR);
    EXPECT_EQ(answer, "0.054804");
    EXPECT_EQ(doc()->image->bits, before);
    EXPECT_FALSE(view()->undoBits.has_value());
}

}  // namespace
}  // namespace qel::test
