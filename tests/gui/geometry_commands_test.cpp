// The scale, mix, fractal, turn, mirror, crop and deskew commands and their dialogs.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "core/commands/command_table.h"
#include "core/geometry/geometry.h"
#include "core/ops/operation.h"
#include "gui/commands/geometry/crop_dlg.h"
#include "gui/commands/geometry/mix_dlg.h"
#include "gui/commands/geometry/scale_dlg.h"
#include "gui_test.h"
#include "support/geometry_test_util.h"

namespace qel::test {
namespace {

using namespace qel::cmd;

// Runs `action` on the modal dialog of type Dlg once the command shows it; a dialog the action leaves
// open is cancelled so that the command always returns.
template <class Dlg>
void whenShown(std::function<void(Dlg&)> action) {
    QTimer::singleShot(0, [action] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* dlg = qobject_cast<Dlg*>(modal);
        if (!dlg) {
            ADD_FAILURE() << "expected dialog not shown";
            if (auto* other = qobject_cast<QDialog*>(modal)) other->reject();
            return;
        }
        action(*dlg);
        if (dlg->isVisible()) dlg->reject();
    });
}

// Types `text` into the edit one character at a time, as the user would.
void type(QLineEdit* edit, const QString& text) {
    edit->window()->activateWindow();
    processEvents();
    edit->setFocus(Qt::OtherFocusReason);
    EXPECT_TRUE(edit->hasFocus());
    edit->selectAll();
    edit->del();
    for (QChar c : text) edit->insert(QString(c));
}

PixelBytes bitsOf(const DibImage& image) { return image.bits; }

std::unique_ptr<DibImage> copyOf(const DibImage& image) {
    auto copy = std::make_unique<DibImage>();
    copy->replace(image.info, image.bits);
    return copy;
}

// ---------------------------------------------------------------- scale dialog

struct CouplingCase {
    int origWidth, origHeight;
    bool typeWidth;  // else the height edit
    QString typed;
    QString otherShows;
    int32_t width, height;
};

TEST(ScaleDlg, TypingOneSideWritesTheOtherFromThePictureProportions) {
    const std::vector<CouplingCase> cases = {
        {400, 300, true, "200", "150", 200, 150},
        {401, 300, true, "200", "149", 200, 149},  // truncated; the height edit must not write back 199
        {400, 300, false, "150", "200", 200, 150},
        {300, 401, false, "200", "149", 149, 200},
        {400, 300, true, "abc", "0", 0, 0},        // not a number reads as 0
        {400, 300, true, "", "0", 0, 0},
    };
    for (const CouplingCase& c : cases) {
        CScaleDlg dlg(c.origWidth, c.origHeight);
        dlg.show();
        dlg.activateWindow();
        QLineEdit* typedEdit = c.typeWidth ? dlg.widthEdit() : dlg.heightEdit();
        QLineEdit* other = c.typeWidth ? dlg.heightEdit() : dlg.widthEdit();
        type(typedEdit, c.typed);
        const std::string label = c.typed.toStdString() + " into " + (c.typeWidth ? "width" : "height");
        EXPECT_EQ(dlg.m_editing, c.typeWidth ? 1 : 2) << label;
        EXPECT_EQ(typedEdit->text(), c.typed) << label;
        EXPECT_EQ(other->text(), c.otherShows) << label;
        EXPECT_EQ(dlg.m_width, c.width) << label;
        EXPECT_EQ(dlg.m_height, c.height) << label;
    }
}

TEST(ScaleDlg, KeepAspectFollowsTheCheckMarkThroughClicks) {
    for (int clicks = 1; clicks <= 4; ++clicks) {
        CScaleDlg dlg(400, 300);
        dlg.show();
        dlg.activateWindow();
        for (int i = 0; i < clicks; ++i) dlg.keepAspectBox()->click();
        const bool kept = clicks % 2 == 0;
        EXPECT_EQ(dlg.keepAspectBox()->isChecked(), kept) << clicks;
        EXPECT_EQ(dlg.m_keepAspect, kept ? 1 : 0) << clicks;
        type(dlg.widthEdit(), "200");
        EXPECT_EQ(dlg.heightEdit()->text(), kept ? "150" : "300") << clicks;
    }
}

TEST(ScaleDlg, OkChecksHeightThenWidthAgainstOneTo30000) {
    struct Case {
        QString width, height, message;
        bool heightField;
    };
    const std::vector<Case> cases = {
        {"0", "0", "1 から 30000 までの整数を入力してください。", true},
        {"30001", "10", "1 から 30000 までの整数を入力してください。", false},
        {"abc", "10", "整数を入力してください。", false},
        {"10", "", "整数を入力してください。", true},
    };
    for (const Case& c : cases) {
        auto scripted = std::make_unique<qel::ui::ScriptedDialogService>();
        auto* shown = scripted.get();
        auto previous = qel::ui::installDialogService(std::move(scripted));
        CScaleDlg dlg(400, 300);
        dlg.show();
        dlg.activateWindow();
        dlg.keepAspectBox()->click();  // the edits take any text independently
        type(dlg.widthEdit(), c.width);
        type(dlg.heightEdit(), c.height);
        dlg.accept();
        QLineEdit* field = c.heightField ? dlg.heightEdit() : dlg.widthEdit();
        EXPECT_EQ(shown->messages(), QStringList({"Qel: " + c.message})) << c.width.toStdString();
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_EQ(field->selectedText(), field->text()) << c.width.toStdString();
        qel::ui::installDialogService(std::move(previous));
    }
}

// ---------------------------------------------------------------- scale command

class ScaleCommandTest : public GuiTest {};

TEST_F(ScaleCommandTest, RunsTheRouteOfTheChosenSizeAndInterpolation) {
    struct Case {
        int width, height;
        bool interpolate;
    };
    // Same size, both reduced (direct average), one side reduced (doubling route), enlarged, nearest.
    const std::vector<Case> cases = {{7, 5, true}, {3, 2, true}, {3, 9, true}, {15, 11, true}, {3, 9, false}};
    int n = 0;
    for (const Case& c : cases) {
        open(*pattern(7, 5, 24), QStringLiteral("p%1.bmp").arg(n++));
        auto expected = copyOf(*doc()->image);
        qel::scaleByCommand(*expected, c.width, c.height, c.interpolate);
        whenShown<CScaleDlg>([&](CScaleDlg& dlg) {
            dlg.keepAspectBox()->click();
            type(dlg.widthEdit(), QString::number(c.width));
            type(dlg.heightEdit(), QString::number(c.height));
            if (!c.interpolate) dlg.interpolateBox()->click();
            dlg.accept();
        });
        frame->runCommand(ID_SCALE);
        EXPECT_EQ(doc()->image->info, expected->info) << c.width << "x" << c.height;
        EXPECT_EQ(doc()->image->bits, expected->bits) << c.width << "x" << c.height;
        EXPECT_EQ(doc()->imageWidth, c.width);
        EXPECT_EQ(doc()->imageHeight, c.height);
        ASSERT_NE(doc()->bitmap, nullptr);
        EXPECT_EQ(doc()->bitmap->width, c.width);
    }
}

TEST_F(ScaleCommandTest, ScrollRangeIsTheNewSizeTimesTheZoomAndUndoRestores) {
    open(*pattern(10, 8, 24));
    view()->zoomIn();
    const auto before = bitsOf(*doc()->image);
    whenShown<CScaleDlg>([&](CScaleDlg& dlg) {
        type(dlg.widthEdit(), "5");  // keeps the aspect: 5 x 4
        dlg.accept();
    });
    frame->runCommand(ID_SCALE);
    EXPECT_EQ(doc()->imageWidth, 5);
    EXPECT_EQ(doc()->imageHeight, 4);
    EXPECT_EQ(view()->scrollSizes(), QSize(10, 8));
    EXPECT_EQ(doc()->scrollWidth, 10);
    EXPECT_EQ(doc()->scrollHeight, 8);
    frame->runCommand(ID_EDIT_UNDO);
    EXPECT_EQ(doc()->image->bits, before);
    EXPECT_EQ(doc()->imageWidth, 10);
    EXPECT_EQ(view()->scrollSizes(), QSize(20, 16));
}

TEST_F(ScaleCommandTest, CancelChangesNothingAndTakesNoSnapshot) {
    open(*pattern(6, 6, 24));
    const auto before = bitsOf(*doc()->image);
    whenShown<CScaleDlg>([](CScaleDlg& dlg) {
        type(dlg.widthEdit(), "3");
        dlg.reject();
    });
    frame->runCommand(ID_SCALE);
    EXPECT_EQ(doc()->image->bits, before);
    EXPECT_EQ(doc()->imageWidth, 6);
    EXPECT_FALSE(view()->undoInfo.has_value());
}

// ---------------------------------------------------------------- mix

class MixCommandTest : public GuiTest {
protected:
    // A 24-bit file of w x h pixels of one colour.
    QString solidFile(int w, int h, Rgb colour, const QString& name) {
        const Rows rows(h, std::string(w, 'c'));
        return writePicture(*make24(rows, {{'c', colour}}), name);
    }
    void fill(CMixDlg& dlg, const QString& path, const QString& ratio) {
        dlg.fileNameEdit()->setText(path);
        dlg.ratioEdit()->setText(ratio);
    }
};

TEST_F(MixCommandTest, DialogStartsWithThePictureSizeAndTheDefaults) {
    open(*pattern(12, 7, 24));
    whenShown<CMixDlg>([](CMixDlg& dlg) {
        EXPECT_EQ(dlg.windowTitle(), "混合");
        EXPECT_EQ(dlg.fileNameEdit()->text(), "");
        EXPECT_EQ(dlg.ratioEdit()->text(), "0.5");
        EXPECT_EQ(dlg.rectWidthEdit()->text(), "12");
        EXPECT_EQ(dlg.rectHeightEdit()->text(), "7");
        for (QLineEdit* e : {dlg.copyXEdit(), dlg.copyYEdit(), dlg.startXEdit(), dlg.startYEdit()})
            EXPECT_EQ(e->text(), "0");
        for (QLineEdit* e : {dlg.keyRedEdit(), dlg.keyGreenEdit(), dlg.keyBlueEdit()}) EXPECT_EQ(e->text(), "205");
        EXPECT_EQ(dlg.browseButton()->text(), "参照");
    });
    frame->runCommand(ID_MIX);
}

TEST_F(MixCommandTest, BrowsePutsTheChosenFileIntoTheField) {
    CMixDlg dlg;
    dlg.m_documentPath = QString::fromStdString(dir.file("into.bmp"));
    dlg.show();
    dialogs->answerPath("/tmp/pictures/over.bmp");
    dlg.browseButton()->click();
    ASSERT_EQ(dialogs->shown().size(), 1u);
    const auto& request = dialogs->shown()[0];
    EXPECT_EQ(request.kind, qel::ui::ShownDialog::OpenFile);
    EXPECT_EQ(request.file.filter, "Bimap Files | *.bmp |画像ファイル|*.bmp;*.png;*.jpg;*.jpeg;*.tif;*.tiff;*.webp;*.gif||");
    EXPECT_EQ(request.file.selectedFilter, "画像ファイル");
    EXPECT_EQ(request.file.directory, QString::fromStdString(dir.path));
    EXPECT_EQ(request.file.defaultExtension, "bmp");
    EXPECT_EQ(request.file.initialName, "*.bmp");
    EXPECT_EQ(dlg.fileNameEdit()->text(), "/tmp/pictures/over.bmp");
    EXPECT_EQ(dlg.m_fileName, "/tmp/pictures/over.bmp");
    // A cancelled browse keeps what was there.
    dlg.browseButton()->click();
    EXPECT_EQ(dlg.fileNameEdit()->text(), "/tmp/pictures/over.bmp");
}

TEST_F(MixCommandTest, RefusesValuesOutsideTheirRanges) {
    struct Case {
        std::function<QLineEdit*(CMixDlg&)> field;
        QString text, message;
    };
    const std::vector<Case> cases = {
        {&CMixDlg::ratioEdit, "1.5", "0 から 1 までの数字を入力してください。"},
        {&CMixDlg::startYEdit, "30001", "0 から 30000 までの整数を入力してください。"},
        {&CMixDlg::copyXEdit, "1.5", "整数を入力してください。"},
        {&CMixDlg::keyRedEdit, "256", "0 から 255 までの整数を入力してください。"},
    };
    for (const Case& c : cases) {
        CMixDlg dlg;
        dlg.show();
        dlg.activateWindow();
        QLineEdit* field = c.field(dlg);
        field->setText(c.text);
        dialogs->clear();
        dlg.accept();
        EXPECT_EQ(dialogs->messages(), QStringList({"Qel: " + c.message})) << c.text.toStdString();
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_EQ(field->selectedText(), field->text());
    }
}

TEST_F(MixCommandTest, BlendsTheFileIntoThePictureWithTheDialogValues) {
    // Picture black; file white 3 x 2 with one transparent-coloured pixel at its top left.
    open(*make24({"#####", "#####", "#####", "#####"}));
    const QString path = writePicture(*make24({"k..", "..."}, {{'k', Rgb{205, 205, 205}}}), "over.bmp");
    whenShown<CMixDlg>([&](CMixDlg& dlg) {
        fill(dlg, path, "0.5");
        dlg.startXEdit()->setText("1");
        dlg.startYEdit()->setText("1");
        dlg.accept();
    });
    frame->runCommand(ID_MIX);
    const std::map<char, Rgb> names = {{'#', Rgb{0, 0, 0}}, {'h', Rgb{127, 127, 127}}};
    EXPECT_EQ(colourRows(*doc()->image, names), Rows({"#####", "##hh#", "#hhh#", "#####"}));
    EXPECT_TRUE(view()->canUndo());
}

TEST_F(MixCommandTest, RatioZeroAndATransparentColourTakenFromTheThreeFields) {
    struct Case {
        QString ratio;
        int keyRed;
        Rows expected;
    };
    // The file is red 2 x 2; the transparent colour is red (red field 255) in the second case.
    const std::vector<Case> cases = {
        {"0", 205, {"...", "...", "..."}},
        {"1", 255, {"...", "...", "..."}},
    };
    const QString path = solidFile(2, 2, Rgb{255, 0, 0}, "red.bmp");
    int n = 0;
    for (const Case& c : cases) {
        open(*make24({"...", "...", "..."}), QStringLiteral("w%1.bmp").arg(n++));
        whenShown<CMixDlg>([&](CMixDlg& dlg) {
            fill(dlg, path, c.ratio);
            dlg.keyRedEdit()->setText(QString::number(c.keyRed));
            dlg.keyGreenEdit()->setText("0");
            dlg.keyBlueEdit()->setText("0");
            dlg.accept();
        });
        frame->runCommand(ID_MIX);
        EXPECT_EQ(colourRows(*doc()->image, {{'r', Rgb{255, 0, 0}}}), c.expected) << c.ratio.toStdString();
    }
}

TEST_F(MixCommandTest, EmptyFileNameOrCancelDoesNothing) {
    open(*pattern(4, 4, 24));
    const auto before = bitsOf(*doc()->image);
    whenShown<CMixDlg>([](CMixDlg& dlg) { dlg.accept(); });  // file name left empty
    frame->runCommand(ID_MIX);
    whenShown<CMixDlg>([&](CMixDlg& dlg) {
        dlg.fileNameEdit()->setText("x.bmp");
        dlg.reject();
    });
    frame->runCommand(ID_MIX);
    EXPECT_EQ(doc()->image->bits, before);
    EXPECT_FALSE(view()->undoInfo.has_value());
}

// The reader's message, the file and the reason; the picture and the undo store stay as they were.
TEST_F(MixCommandTest, AFileThatCannotBeMixedSaysWhyAndChangesNothing) {
    open(*pattern(4, 4, 24));
    const auto before = bitsOf(*doc()->image);
    const QString text = QString::fromStdString(dir.file("text.bmp"));
    ASSERT_TRUE(test::writeBytes(dir.file("text.bmp"), std::vector<uint8_t>{'t', 'e', 'x', 't'}));
    for (const QString& path : {text, QString::fromStdString(dir.file("missing.bmp"))}) {
        dialogs->clear();
        whenShown<CMixDlg>([&](CMixDlg& dlg) {
            fill(dlg, path, "1");
            dlg.accept();
        });
        frame->runCommand(ID_MIX);
        EXPECT_EQ(doc()->image->bits, before) << path.toStdString();
        EXPECT_NE(doc()->bitmap, nullptr);
        ASSERT_EQ(dialogs->messages().size(), 1);
        EXPECT_TRUE(dialogs->messages()[0].startsWith((path == text ? "error: Not Bitmap!!\n" : "error: Miss Load!!\n") + path + ": "));
        EXPECT_FALSE(view()->undoInfo);
    }
    frame->runCommand(ID_EDIT_UNDO);
    EXPECT_EQ(doc()->image->bits, before);
}

// ---------------------------------------------------------------- fractal

class FractalCommandTest : public GuiTest {};

TEST_F(FractalCommandTest, DrawsTheFixedFractalAndUndoRestores) {
    open(*pattern(60, 300, 24));
    const auto before = bitsOf(*doc()->image);
    auto expected = copyOf(*doc()->image);
    qel::drawFractal(*expected, kFractalStepX, kFractalStepY, kFractalConstant, kFractalIterations);
    frame->runCommand(ID_FRACTAL);
    EXPECT_EQ(doc()->image->bits, expected->bits);
    const Rows rows = colourRows(*doc()->image, {{'#', Rgb{0, 0, 0}}, {'.', Rgb{255, 255, 255}}});
    EXPECT_EQ(rows.front(), std::string(60, '#'));  // the top row escapes everywhere
    EXPECT_NE(rows.back().find('.'), std::string::npos);
    EXPECT_TRUE(dialogs->messages().isEmpty());
    frame->runCommand(ID_EDIT_UNDO);
    EXPECT_EQ(doc()->image->bits, before);
}

// ---------------------------------------------------------------- turns, mirror images and crop

class OrientationCommandTest : public GuiTest {};

TEST_F(OrientationCommandTest, ItemsEndTheEffectsMenuAfterASeparatorAndUndoRestores) {
    open(*pattern(5, 3, 4));
    QMenu* effects = nullptr;
    for (QMenu* m : frame->currentMenus()) if (m->title() == "効果") effects = m;
    ASSERT_NE(effects, nullptr);
    const QList<QAction*> items = effects->actions();
    const QStringList texts = {"右に90度回転", "180度回転", "左に90度回転", "左右反転", "上下反転", "切り抜き...", "傾き補正"};
    ASSERT_GT(items.size(), texts.size());
    EXPECT_TRUE(items[items.size() - texts.size() - 1]->isSeparator());
    for (int i = 0; i < texts.size(); ++i) {
        QAction* a = items[items.size() - texts.size() + i];
        EXPECT_EQ(a->text(), texts[i]);
        if (i >= 5) continue;  // crop and deskew: below
        const auto before = bitsOf(*doc()->image);
        a->trigger();
        EXPECT_NE(doc()->image->bits, before) << i;
        EXPECT_EQ(doc()->imageWidth, i == 0 || i == 2 ? 3 : 5) << i;  // the quarter turns swap the sides
        frame->runCommand(ID_EDIT_UNDO);
        EXPECT_EQ(doc()->image->bits, before) << i;
        EXPECT_EQ(doc()->imageWidth, 5) << i;
    }
}

TEST_F(OrientationCommandTest, CropStartsAtTheWholePictureAndRefusesARectangleOutsideIt) {
    open(*make24({"123", "456"}, {{'1', Rgb{1, 1, 1}}, {'2', Rgb{2, 2, 2}}, {'5', Rgb{5, 5, 5}}}));
    whenShown<CCropDlg>([&](CCropDlg& dlg) {
        EXPECT_EQ(QStringList({dlg.windowTitle(), dlg.xEdit()->text(), dlg.yEdit()->text(), dlg.widthEdit()->text(),
                               dlg.heightEdit()->text()}), QStringList({"切り抜き", "0", "0", "3", "2"}));
        dlg.xEdit()->setText("1");
        dlg.accept();  // 1 + 3 > 3
        EXPECT_EQ(std::pair(dialogs->messages(), dlg.isVisible()), std::pair(QStringList({"Qel: 切り抜く範囲が画像（3×2）からはみ出しています。"}), true));
        dlg.widthEdit()->setText("1");
        dlg.accept();
    });
    frame->runCommand(commandOf(*findOperation("crop")));
    EXPECT_EQ(colourRows(*doc()->image, {{'2', Rgb{2, 2, 2}}, {'5', Rgb{5, 5, 5}}}), Rows({"2", "5"}));
}

TEST_F(OrientationCommandTest, DeskewSaysTheTiltFoundAndUndoRestores) {
    // A black frame 3 degrees anticlockwise on white, and the same frame upright.
    const auto frame3 = [](double degrees) {
        const double a = degrees * M_PI / 180;
        return greyPicture(60, 40, [=](int x, int y) {
            const double dx = x - 29.5, dy = y - 19.5, u = dx * std::cos(a) - dy * std::sin(a), v = dx * std::sin(a) + dy * std::cos(a);
            return std::abs(std::max(std::abs(u) - 24, std::abs(v) - 14)) < 1 ? 0 : 255;
        });
    };
    struct Case { double degrees; bool changes; };
    for (const Case c : {Case{3, true}, Case{0, false}}) {
        open(*frame3(c.degrees), QStringLiteral("frame%1.bmp").arg(c.degrees));  // a name of its own: a new window
        dialogs->clear();
        const auto before = bitsOf(*doc()->image);
        frame->runCommand(commandOf(*findOperation("deskew")));
        ASSERT_EQ(dialogs->messages().size(), 1) << c.degrees;
        const QString said = dialogs->messages()[0];
        EXPECT_TRUE(said.startsWith("傾き補正: 傾き補正: ") && said.endsWith("度")) << said.toStdString();
        EXPECT_NEAR(said.mid(12).chopped(1).toDouble(), c.degrees, 0.2) << said.toStdString();
        EXPECT_EQ(doc()->image->bits != before, c.changes) << c.degrees;
        frame->runCommand(ID_EDIT_UNDO);
        EXPECT_EQ(doc()->image->bits, before) << c.degrees;
    }
}

}  // namespace
}  // namespace qel::test
