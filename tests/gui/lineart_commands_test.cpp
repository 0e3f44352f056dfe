// The line-art commands in the window program: enabling through the thinned
// flag, the pictures they leave, the straightening dialog and its refusals.
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QTimer>
#include <functional>

#include "core/commands/command_table.h"
#include "gui_test.h"
#include "core/lineart/lineart.h"
#include "core/lineart/scan_cleanup.h"
#include "core/ops/operation.h"
#include "gui/commands/lineart/scan_cleanup_dlg.h"
#include "gui/commands/lineart/straighten_dlg.h"
#include "gui/docview/svg_save_dlg.h"

namespace qel::test {
namespace {

using namespace qel::cmd;


// A drawing with a bump on a one-pixel line, a two-pixel stroke, a staircase and an isolated pixel.
const Rows kDrawing = {
    "............",
    "............",
    "............",
    ".....#......",
    "..########..",
    "............",
    "............",
    ".#######....",
    ".#######....",
    "........#...",
    ".........#..",
    "...#......#.",
    "............",
    "............",
};

class LineArtCommandTest : public GuiTest {
protected:
    void openDrawing() { open(*makeLineArt(kDrawing), QStringLiteral("drawing.bmp")); }

    // The drawing after `filter`, run straight on the picture.
    static std::unique_ptr<DibImage> expected(const std::function<void(DibImage&)>& filter) {
        auto image = makeLineArt(kDrawing);
        filter(*image);
        return image;
    }
    void expectPicture(const DibImage& want) {
        EXPECT_EQ(lineArtRows(*doc()->image), lineArtRows(want));
        EXPECT_EQ(doc()->image->info, want.info);
        EXPECT_EQ(doc()->image->bits, want.bits);
    }
};

TEST_F(LineArtCommandTest, ThinningAndTidy2OfferStraighteningAndTidyOnlyInTheirOwnView) {
    for (int command : {ID_THIN, ID_TIDY2}) {
        openDrawing();
        EXPECT_TRUE(enabled(ID_THIN));
        EXPECT_TRUE(enabled(ID_TIDY2));
        EXPECT_FALSE(enabled(ID_STRAIGHTEN));
        EXPECT_FALSE(enabled(ID_TIDY));
        frame->runCommand(command);
        EXPECT_EQ(view()->thinned, 1) << command;
        EXPECT_TRUE(enabled(ID_STRAIGHTEN)) << command;
        EXPECT_TRUE(enabled(ID_TIDY)) << command;
        EXPECT_TRUE(dialogs->shown().empty()) << "no message after " << command;

        // A second window on the same document has a flag of its own.
        CChildFrame* second = frame->createFrame(doc());
        processEvents();
        ASSERT_EQ(frame->activeChild(), second);
        EXPECT_EQ(view()->thinned, 0);
        EXPECT_FALSE(enabled(ID_STRAIGHTEN));
        EXPECT_FALSE(enabled(ID_TIDY));
        for (CChildFrame* f : frame->childFrames()) f->close();
        processEvents();
    }
}

TEST_F(LineArtCommandTest, LineCommandsAreOfferedOnlyForEightBitPictures) {
    open(*make24({"#.", ".#"}));
    view()->thinned = 1;
    frame->updateCommandStates();
    for (int id : {ID_THIN, ID_STRAIGHTEN, ID_TIDY, ID_TIDY2}) EXPECT_FALSE(enabled(id)) << id;
}

TEST_F(LineArtCommandTest, CommandsLeaveTheFilteredPictureAndOneUndoStep) {
    struct Case {
        int command;
        std::function<void(DibImage&)> filter;
        QStringList messages;
    };
    const std::vector<Case> cases = {
        {ID_THIN, [](DibImage& i) { thin(i); }, {}},
        {ID_TIDY2, [](DibImage& i) { tidyLines2(i); }, {}},
        {ID_TIDY, [](DibImage& i) { tidyLines(i); }, {"メッセージ: 終了しました"}},
    };
    for (const Case& c : cases) {
        openDrawing();
        view()->thinned = 1;
        frame->updateCommandStates();
        const auto before = doc()->image->bits;
        dialogs->clear();
        frame->runCommand(c.command);
        expectPicture(*expected(c.filter));
        EXPECT_EQ(dialogs->messages(), c.messages) << c.command;
        EXPECT_NE(doc()->image->bits, before) << c.command;
        ASSERT_TRUE(view()->canUndo());
        frame->runCommand(ID_EDIT_UNDO);
        EXPECT_EQ(doc()->image->bits, before) << c.command;
        for (CChildFrame* f : frame->childFrames()) f->close();
        processEvents();
    }
}

TEST_F(LineArtCommandTest, StraighteningRunsWithTheLengthOfTheDialog) {
    openDrawing();
    frame->runCommand(ID_THIN);
    const auto thinned = doc()->image->bits;
    whenShown<CStraightenDlg>([](CStraightenDlg* dlg) {
        EXPECT_EQ(dlg->windowTitle(), "直線化");
        EXPECT_EQ(dlg->lengthEdit()->text(), "0");
        dlg->lengthEdit()->setText("3");
        dlg->accept();
    });
    frame->runCommand(ID_STRAIGHTEN);
    EXPECT_EQ(view()->thinned, 1);
    auto want = expected([](DibImage& i) {
        thin(i);
        straighten(i, 3);
    });
    expectPicture(*want);
    frame->runCommand(ID_EDIT_UNDO);
    EXPECT_EQ(doc()->image->bits, thinned);
}

TEST_F(LineArtCommandTest, CancelledStraighteningTakesNoSnapshot) {
    openDrawing();
    frame->runCommand(ID_THIN);
    const auto thinned = doc()->image->bits;
    const auto undoBits = view()->undoBits;  // the drawing before thinning
    whenShown<CStraightenDlg>([](CStraightenDlg* dlg) { dlg->reject(); });
    frame->runCommand(ID_STRAIGHTEN);
    EXPECT_EQ(doc()->image->bits, thinned);
    EXPECT_EQ(view()->undoBits, undoBits);
}

TEST_F(LineArtCommandTest, StraightenDialogRefusesLengthsBelowOne) {
    struct Case {
        QString text;
        bool accepted;
        int32_t length;
    };
    const std::vector<Case> cases = {
        {"0", false, 0}, {"-4", false, 0}, {"abc", false, 0}, {"99999999999", false, 0},
        {"1", true, 1},  {" 12 ", true, 12},
    };
    for (const Case& c : cases) {
        CStraightenDlg dlg;
        dlg.show();
        dlg.activateWindow();
        dlg.lengthEdit()->setText(c.text);
        dialogs->clear();
        dlg.accept();
        if (c.accepted) {
            EXPECT_TRUE(dialogs->shown().empty()) << c.text.toStdString();
            EXPECT_EQ(dlg.result(), QDialog::Accepted) << c.text.toStdString();
            EXPECT_EQ(dlg.m_length, c.length) << c.text.toStdString();
        } else {
            EXPECT_EQ(dialogs->messages(), QStringList({"エラー: 1以上の数を入れてください。"})) << c.text.toStdString();
            EXPECT_TRUE(dlg.isVisible()) << c.text.toStdString();
            EXPECT_NE(dlg.result(), QDialog::Accepted) << c.text.toStdString();
            EXPECT_EQ(dlg.lengthEdit()->selectedText(), dlg.lengthEdit()->text()) << c.text.toStdString();
        }
    }
}

TEST_F(LineArtCommandTest, SaveAsOffersSvgCentreLinesOnlyForAThinnedPicture) {
    const QString svg = QString::fromStdString(dir.file("lines.svg"));
    struct Case {
        int command;  // run before Save As (0: none)
        bool written;
    } cases[] = {{0, false}, {ID_THIN, true}, {ID_TIDY2, true}};
    for (const Case& c : cases) {
        openDrawing();
        if (c.command) frame->runCommand(c.command);
        const auto before = doc()->image->bits;
        dialogs->clear();
        dialogs->answerPath(svg);
        if (c.written) onNextDialog([](QDialog* d) { d->accept(); });  // polylines or curves
        frame->runCommand(ID_FILE_SAVE_AS);
        ASSERT_EQ(dialogs->shown().size(), c.written ? 1u : 2u) << c.command;  // the file dialog, and a refusal
        EXPECT_EQ(dialogs->shown()[0].file.filter.contains("SVG (*.svg)|*.svg|"), c.written) << c.command;
        EXPECT_EQ(QFile::exists(svg), c.written) << c.command;
        EXPECT_EQ(doc()->image->bits, before);
        EXPECT_EQ(doc()->isModified(), c.written) << "the picture itself is still unsaved";
        QFile::remove(svg);
    }
}

// 適応的白黒化... starts at the operation's defaults and refuses an even window; ゴミ取り... then
// removes the specks; one undo step each.
TEST_F(LineArtCommandTest, AdaptiveBlackWhiteAndDespeckleRunWithTheirDialogs) {
    const Rows drawing{"#...#..", "....#..", "....#..", "....#.."};
    open(*make24(drawing));
    whenShown<CAdaptiveBwDlg>([&](CAdaptiveBwDlg* dlg) {
        EXPECT_EQ(QStringList({dlg->windowTitle(), dlg->windowEdit()->text(), dlg->kEdit()->text()}),
                  QStringList({"適応的白黒化", "31", "0.2"}));
        dlg->windowEdit()->setText("30");
        dlg->accept();
        EXPECT_EQ(std::pair(dialogs->messages(), dlg->isVisible()), std::pair(QStringList({"Qel: 窓の大きさは奇数にしてください。"}), true));
        dlg->windowEdit()->setText("3");
        dlg->accept();
    });
    frame->runCommand(commandOf(*findOperation("adaptive-bw")));
    auto want = make24(drawing);
    adaptiveBlackWhite(*want, {.window = 3, .k = 0.2});
    expectPicture(*want);
    whenShown<CDespeckleDlg>([](CDespeckleDlg* dlg) {
        EXPECT_EQ(dlg->pixelsEdit()->text(), "4");
        dlg->accept();
    });
    frame->runCommand(commandOf(*findOperation("despeckle")));
    EXPECT_EQ(lineArtRows(*doc()->image), Rows({"....#..", "....#..", "....#..", "....#.."}));
    frame->runCommand(ID_EDIT_UNDO);
    expectPicture(*want);
    EXPECT_EQ(lineArtRows(*want), drawing);
}

TEST_F(LineArtCommandTest, SvgSaveWritesCurvesWhenTheBoxIsTicked) {
    const QString svg = QString::fromStdString(dir.file("arc.svg"));
    struct Case {
        bool curves, accept;
        const char* d;  // the path data written, or nullptr for no file
    } cases[] = {{false, true, "m10 0-1 5-4 4-5 1"}, {true, true, "m10 0c0 5-5 10-10 10"}, {true, false, nullptr}};
    for (const Case& c : cases) {
        open(*makeLineArt({"..........#", "..........#", "..........#", "..........#", ".........#.", ".........#.",
                           "........#..", ".......#...", "......#....", "....##.....", "####......."}),
             QStringLiteral("arc.bmp"));
        frame->runCommand(ID_THIN);
        dialogs->answerPath(svg);
        onNextDialog([&](QDialog* d) {
            auto* box = static_cast<CSvgSaveDlg*>(d)->curvesBox();
            EXPECT_FALSE(box->isChecked());
            box->setChecked(c.curves);
            c.accept ? d->accept() : d->reject();
        });
        frame->runCommand(ID_FILE_SAVE_AS);
        QFile file(svg);
        EXPECT_EQ(file.open(QIODevice::ReadOnly), c.d != nullptr);
        const QByteArray text = file.readAll();
        if (c.d) EXPECT_EQ(text.mid(text.indexOf(" d=\"") + 4).split('"').value(0).toStdString(), c.d) << c.curves;
        file.remove();
    }
}

}  // namespace
}  // namespace qel::test
