// The palette window driven by mouse events and its buttons: grid geometry and
// drawing, drag copy, colour edit, check-colour preview, history, sort, fill,
// near-colour merge, approximate replacement and the requests to the view.
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>

#include "core/commands/command_table.h"
#include "gui/commands/colour/palette_dlg.h"
#include "gui_test.h"

namespace qel::test {
namespace {

using namespace qel::cmd;
using Ctl = CPaletteDlg::Control;


// Types `text` into the dialog's field and presses OK; a refused value is followed by Cancel.
void enterValue(const QString& text) {
    onNextDialog([text](QDialog* d) {
        d->findChild<QLineEdit*>()->setText(text);
        d->accept();
        if (d->isVisible()) d->reject();
    });
}

void mouse(QWidget* w, QEvent::Type type, Qt::MouseButton button, QPoint p) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent e(type, QPointF(p), w->mapToGlobal(QPointF(p)), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

// Entry i is (i, 255 - i, 3i mod 256): every colour different, sums all different.
std::vector<Rgb> distinctTable(int n) {
    std::vector<Rgb> t;
    for (int i = 0; i < n; ++i) t.push_back(Rgb{uint8_t(i), uint8_t(255 - i), uint8_t((3 * i) & 0xFF)});
    return t;
}

PaletteColour pc(Rgb c) { return PaletteColour{c.r, c.g, c.b}; }

class PaletteWindowTest : public GuiTest {
protected:
    // Opens the picture and shows the palette window by the "パレット" command.
    CPaletteDlg* openPalette(const DibImage& image) {
        open(image);
        frame->runCommand(ID_PALETTE);
        processEvents();
        return dlg();
    }
    CPaletteDlg* dlg() const { return qobject_cast<CPaletteDlg*>(view()->paletteWindow); }
    WorkingPalette& pal() const { return dlg()->workingPalette(); }
    DibImage& image() const { return *doc()->image; }
    static QPoint centre(int i) {
        const GridSquare s = paletteSquare(i);
        return QPoint(s.left + 7, s.top + 7);
    }
    void leftClick(QPoint p) {
        mouse(dlg(), QEvent::MouseButtonPress, Qt::LeftButton, p);
        mouse(dlg(), QEvent::MouseButtonRelease, Qt::LeftButton, p);
    }
    void drag(int from, int to) {
        mouse(dlg(), QEvent::MouseButtonPress, Qt::LeftButton, centre(from));
        mouse(dlg(), QEvent::MouseButtonRelease, Qt::LeftButton, centre(to));
    }
    void doubleClick(QPoint p) {
        leftClick(p);
        mouse(dlg(), QEvent::MouseButtonDblClick, Qt::LeftButton, p);
        mouse(dlg(), QEvent::MouseButtonRelease, Qt::LeftButton, p);
    }
    void press(Ctl id) { dlg()->button(id)->click(); }
    std::vector<PaletteColour> entries() const {
        std::vector<PaletteColour> out;
        for (int i = 0; i < pal().used(); ++i) out.push_back(pal().entry(i));
        return out;
    }
    std::vector<Rgb> table() const {
        std::vector<Rgb> out;
        for (int i = 0; i < image().tableSize(); ++i) out.push_back(image().tableColour(i));
        return out;
    }
};

TEST_F(PaletteWindowTest, ClicksSelectOnlyEntriesInUse) {
    struct Case {
        const char* name;
        int bitCount, entries;
        bool clrUsed;
        QPoint at;
        int selected;  // -1: ignored
    };
    const Case cases[] = {
        {"16 colours: first square", 4, 16, false, QPoint(3, 7), 0},
        {"16 colours: bottom edge of the row", 4, 16, false, QPoint(10, 21), 0},
        {"16 colours: below the one row", 4, 16, false, QPoint(10, 22), -1},
        {"16 colours: second row position", 4, 16, false, QPoint(10, 30), -1},
        {"16 colours: last column", 4, 16, false, QPoint(258, 10), 15},
        {"16 colours: x = 259 is entry 16", 4, 16, false, QPoint(259, 10), -1},
        {"left of the grid", 8, 256, false, QPoint(2, 10), -1},
        {"x = 259 is the next row's first entry", 8, 256, false, QPoint(259, 10), 16},
        {"last entry", 8, 256, false, QPoint(258, 262), 255},
        {"y = 263 is below the last row", 8, 256, false, QPoint(258, 263), -1},
        {"below the grid", 8, 256, false, QPoint(258, 264), -1},
        {"x = 259 on the last row", 8, 256, false, QPoint(259, 250), -1},
        {"table of 100: entry 99", 8, 100, true, centre(99), 99},
        {"table of 100: entry 100", 8, 100, true, centre(100), -1},
        {"table of 100: entry 255", 8, 100, true, centre(255), -1},
    };
    for (const Case& c : cases) {
        openPalette(*makeIndexed(c.bitCount, {"01"}, distinctTable(c.entries), {}, c.clrUsed));
        EXPECT_EQ(pal().count, c.entries) << c.name;
        pal().selected = 5;
        leftClick(c.at);
        EXPECT_EQ(pal().selected, c.selected < 0 ? 5 : c.selected) << c.name;
        EXPECT_EQ(pal().historyPos, 0) << c.name;
        frame->runCommand(ID_FILE_CLOSE);
        processEvents();
    }
}

TEST_F(PaletteWindowTest, PaintsTheGridTheSelectionAndTheStatusLine) {
    openPalette(*makeIndexed(8, {"01"}, distinctTable(100), {}, true));
    leftClick(centre(17));
    const QImage shot = dlg()->grab().toImage();
    auto at = [&](int x, int y) { return shot.pixel(x, y) & 0xFFFFFF; };
    const QRgb grey = 0xBCBCBC;
    EXPECT_EQ(at(1, 1), grey);
    EXPECT_EQ(at(shot.width() - 2, shot.height() - 2), grey);
    // Entry 0, unselected: its whole 14 x 14 square in a dark one-pixel frame.
    const QRgb e0 = 0x00FF00, frame = 0x505050;  // (0, 255, 0)
    EXPECT_EQ(at(3, 7), e0);
    EXPECT_EQ(at(16, 20), e0);
    // Entry 0's frame, then entry 1's in the gap before it (it starts at x = 19).
    for (const QPoint& p : {QPoint(2, 6), QPoint(17, 7), QPoint(2, 21), QPoint(10, 21), QPoint(18, 7)})
        EXPECT_EQ(at(p.x(), p.y()), frame);
    EXPECT_EQ(at(19, 7), 0x01FE03u);
    // Entry 17 (x0 16, y0 16), selected: white ring, black ring, its colour inside.
    const QRgb e17 = 0x11EE33;
    EXPECT_EQ(at(19, 23), 0xFFFFFFu);
    EXPECT_EQ(at(32, 36), 0xFFFFFFu);
    EXPECT_EQ(at(20, 24), 0u);
    EXPECT_EQ(at(31, 35), 0u);
    EXPECT_EQ(at(21, 25), e17);
    EXPECT_EQ(at(30, 34), e17);
    // Only the entries in use are drawn.
    EXPECT_EQ(at(centre(99).x(), centre(99).y()), 0x639C29u);
    EXPECT_EQ(at(centre(100).x(), centre(100).y()), grey);
    EXPECT_EQ(dlg()->statusText(), "R:   17 G:  238 B:   51  No:  17   ");
    // The status line is written below the grid, starting at x = 3.
    bool text = false;
    for (int y = 268; y < 285 && !text; ++y)
        for (int x = 3; x < 60; ++x) text = text || at(x, y) != grey;
    EXPECT_TRUE(text);
}

TEST_F(PaletteWindowTest, DragCopiesTheColourKeepsTheSelectionAndSavesOneState) {
    const auto t = distinctTable(256);
    openPalette(*makeIndexed(8, {"0123"}, t));
    mouse(dlg(), QEvent::MouseButtonPress, Qt::LeftButton, centre(3));
    EXPECT_EQ(dlg()->cursor().shape(), Qt::DragCopyCursor);
    mouse(dlg(), QEvent::MouseButtonRelease, Qt::LeftButton, centre(10));
    EXPECT_EQ(dlg()->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(pal().entry(10), pc(t[3]));
    EXPECT_EQ(pal().entry(3), pc(t[3]));
    EXPECT_EQ(pal().selected, 3);
    EXPECT_EQ(pal().historyPos, 1);
    EXPECT_EQ(table(), t);  // the picture waits for a request

    drag(5, 5);  // onto itself
    mouse(dlg(), QEvent::MouseButtonPress, Qt::LeftButton, centre(6));
    mouse(dlg(), QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(300, 300));  // off the grid
    EXPECT_EQ(pal().historyPos, 1);
    EXPECT_EQ(pal().entry(5), pc(t[5]));
    EXPECT_EQ(dlg()->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(PaletteWindowTest, HistoryButtonsUndoRedoAndWrapAfterFour) {
    openPalette(*makeIndexed(8, {"0123"}, distinctTable(256)));
    std::vector<std::vector<PaletteColour>> states{entries()};
    for (int i = 0; i < 4; ++i) {
        drag(i, 20 + i);
        states.push_back(entries());
    }
    press(Ctl::IDC_UNDO);
    EXPECT_EQ(entries(), states[3]);
    press(Ctl::IDC_REDO);
    EXPECT_EQ(entries(), states[4]);
    for (int i = 3; i >= 1; --i) {
        press(Ctl::IDC_UNDO);
        EXPECT_EQ(entries(), states[i]);
    }
    press(Ctl::IDC_UNDO);  // the fourth undo in a row: back to where the undos started
    EXPECT_EQ(entries(), states[4]);
}

TEST_F(PaletteWindowTest, DoubleClickEditsAnEntryInTheColourDialog) {
    const auto t = distinctTable(16);
    openPalette(*makeIndexed(4, {"01"}, t));
    dialogs->answerColour(QColor(1, 2, 3));
    doubleClick(centre(7));
    ASSERT_EQ(dialogs->shown().size(), 1u);
    EXPECT_EQ(dialogs->shown()[0].kind, qel::ui::ShownDialog::Colour);
    EXPECT_EQ(pal().entry(7), (PaletteColour{1, 2, 3}));
    EXPECT_EQ(pal().historyPos, 1);
    EXPECT_FALSE(pal().dragging);

    dialogs->answerColour(std::nullopt);
    doubleClick(centre(8));
    EXPECT_EQ(pal().entry(8), pc(t[8]));
    EXPECT_EQ(pal().historyPos, 1);

    dialogs->clear();
    doubleClick(QPoint(10, 40));  // below the one row
    EXPECT_TRUE(dialogs->shown().empty());
    press(Ctl::IDC_UNDO);
    EXPECT_EQ(pal().entry(7), pc(t[7]));
}

// The right-button press repaints the grid as it is before the entry takes the check colour.
TEST_F(PaletteWindowTest, RightButtonRepaintsBeforeTheCheckColourShows) {
    const auto t = distinctTable(16);
    openPalette(*makeIndexed(4, {"0120"}, t));
    processEvents();
    std::vector<PaletteColour> painted;  // entry 1 at each paint
    struct Spy : QObject {
        std::function<void()> onPaint;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint) onPaint();
            return false;
        }
    } spy;
    spy.onPaint = [&] { painted.push_back(pal().entry(1)); };
    dlg()->installEventFilter(&spy);
    mouse(dlg(), QEvent::MouseButtonPress, Qt::RightButton, centre(1));
    ASSERT_FALSE(painted.empty());
    EXPECT_EQ(painted.front(), pc(t[1]));
    dlg()->removeEventFilter(&spy);
    mouse(dlg(), QEvent::MouseButtonRelease, Qt::RightButton, centre(1));
}

TEST_F(PaletteWindowTest, RightButtonPreviewsTheCheckColourWithoutAnEdit) {
    const auto t = distinctTable(16);
    openPalette(*makeIndexed(4, {"0120"}, t));
    press(Ctl::IDC_REPLACE);  // an edit Undo offers before and after the preview
    const auto before = image().info;
    const auto snapshot = *view()->undoInfo;
    doc()->setModified(false);

    mouse(dlg(), QEvent::MouseButtonPress, Qt::RightButton, centre(1));
    EXPECT_EQ(image().tableColour(1), (Rgb{255, 255, 255}));
    EXPECT_EQ(doc()->bitmap->colour(1, 0), (Rgb{255, 255, 255}));
    EXPECT_EQ(*view()->undoInfo, snapshot);  // no snapshot for the preview
    EXPECT_EQ(pal().selected, 1);
    EXPECT_EQ(dlg()->m_request, 0);

    mouse(dlg(), QEvent::MouseButtonRelease, Qt::RightButton, centre(1));
    EXPECT_EQ(image().info, before);  // the table from before the preview, exactly
    EXPECT_EQ(pal().entry(1), pc(t[1]));
    EXPECT_EQ(doc()->bitmap->colour(1, 0), t[1]);
    EXPECT_EQ(*view()->undoInfo, snapshot);  // Undo still brings back the picture before the replace
    EXPECT_FALSE(doc()->isModified());
    EXPECT_EQ(dlg()->m_request, 0);

    // A press off the grid leaves the stale code and the release does nothing.
    const auto bitsBefore = image().bits;
    mouse(dlg(), QEvent::MouseButtonPress, Qt::RightButton, QPoint(10, 40));
    EXPECT_EQ(dlg()->m_request, 1003);
    mouse(dlg(), QEvent::MouseButtonRelease, Qt::RightButton, QPoint(10, 40));
    EXPECT_EQ(image().info, before);
    EXPECT_EQ(image().bits, bitsBefore);
    EXPECT_EQ(*view()->undoInfo, snapshot);

    // A new check colour is what the preview shows; cancelling the colour dialog keeps it.
    dialogs->answerColour(QColor(9, 8, 7));
    press(Ctl::IDC_CHECK_COLOUR);
    dialogs->answerColour(std::nullopt);
    press(Ctl::IDC_CHECK_COLOUR);
    mouse(dlg(), QEvent::MouseButtonPress, Qt::RightButton, centre(2));
    EXPECT_EQ(image().tableColour(2), (Rgb{9, 8, 7}));
    mouse(dlg(), QEvent::MouseButtonRelease, Qt::RightButton, centre(2));
    EXPECT_EQ(image().info, before);
}

TEST_F(PaletteWindowTest, SortKeepsThePictureTakesASnapshotAndIsStable) {
    // Sums descending, with a tie between entries 1 and 2.
    std::vector<Rgb> t = {{90, 90, 90}, {50, 50, 50}, {100, 50, 0}, {10, 10, 10}};
    t.resize(16, Rgb{200, 200, 200});
    openPalette(*makeIndexed(4, {"0123", "3210"}, t));
    const Rows before = colourRows(image(), {{'a', t[0]}, {'b', t[1]}, {'c', t[2]}, {'d', t[3]}});
    press(Ctl::IDC_SORT);
    EXPECT_EQ(image().tableColour(0), t[3]);
    EXPECT_EQ(image().tableColour(1), t[1]);
    EXPECT_EQ(image().tableColour(2), t[2]);
    EXPECT_EQ(image().tableColour(3), t[0]);
    EXPECT_EQ(colourRows(image(), {{'a', t[0]}, {'b', t[1]}, {'c', t[2]}, {'d', t[3]}}), before);
    EXPECT_EQ(doc()->bitmap->colour(0, 0), t[0]);
    EXPECT_TRUE(view()->undoInfo);  // the indices changed: 元に戻す brings them back
    EXPECT_EQ(pal().historyPos, 0);
    EXPECT_EQ(dlg()->m_request, 0);

    const auto info = image().info;
    const auto bits = image().bits;
    press(Ctl::IDC_SORT);
    EXPECT_EQ(image().info, info);
    EXPECT_EQ(image().bits, bits);
}

TEST_F(PaletteWindowTest, NearColourMergeThenOrganiseCollapsesTheEntries) {
    std::vector<Rgb> t(16);
    for (int i = 2; i < 16; ++i) t[i] = Rgb{uint8_t(15 * i), 0, uint8_t(255 - 15 * i)};  // far apart
    t[0] = {100, 100, 100};
    t[1] = {102, 101, 100};
    openPalette(*makeIndexed(4, {"0123"}, t));

    enterValue("0");
    press(Ctl::IDC_MERGE);
    EXPECT_EQ(pal().entry(1), pc(t[1]));  // distance 0 merges nothing
    EXPECT_EQ(pal().historyPos, 1);
    EXPECT_EQ(dialogs->messages(), QStringList({"終了: 「整理」で画像を置き換えます。"}));

    enterValue("5");
    press(Ctl::IDC_MERGE);
    EXPECT_EQ(pal().entry(1), (PaletteColour{100, 100, 100}));
    EXPECT_EQ(pal().entry(2), pc(t[2]));
    EXPECT_EQ(table(), t);  // the picture waits for 整理

    press(Ctl::IDC_ORGANISE);
    EXPECT_EQ(indexRows(image()), Rows({"0012"}));
    EXPECT_EQ(image().tableColour(1), t[2]);
    EXPECT_EQ(image().tableColour(15), (Rgb{205, 205, 205}));
    EXPECT_EQ(pal().entry(15), kEmptyPaletteColour);  // the window shows the reloaded table
    EXPECT_TRUE(view()->undoInfo);
}

TEST_F(PaletteWindowTest, DialogsRefuseNegativeNonIntegerAndOutOfRangeValues) {
    struct Case {
        Ctl button;
        QString text;
        QString message;
    };
    const Case cases[] = {
        {Ctl::IDC_MERGE, "-1", "エラー: 正の数を入れてください。"},
        {Ctl::IDC_MERGE, "10000001", "Qel: 0 から 10000000 までの整数を入力してください。"},
        {Ctl::IDC_MERGE, "abc", "Qel: 整数を入力してください。"},
        {Ctl::IDC_APPROXIMATE, "-3", "エラー: 正の数を入れてください。"},
        {Ctl::IDC_APPROXIMATE, "50001", "Qel: 0 から 50000 までの整数を入力してください。"},
        {Ctl::IDC_APPROXIMATE, "1.5", "Qel: 整数を入力してください。"},
    };
    const auto t = distinctTable(16);
    openPalette(*makeIndexed(4, {"0123"}, t));
    for (const Case& c : cases) {
        dialogs->clear();
        QString title;
        bool stayedOpen = false;
        onNextDialog([&](QDialog* d) {
            title = d->windowTitle();
            d->findChild<QLineEdit*>()->setText(c.text);
            d->accept();
            stayedOpen = d->isVisible();
            d->reject();
        });
        press(c.button);
        EXPECT_EQ(title, c.button == Ctl::IDC_MERGE ? "近い色を同じ色にする。" : "近似置換");
        EXPECT_TRUE(stayedOpen) << c.text.toStdString();
        EXPECT_EQ(dialogs->messages(), QStringList({c.message})) << c.text.toStdString();
        EXPECT_EQ(pal().historyPos, 0);  // cancelled: nothing saved or sent
    }
    EXPECT_EQ(table(), t);
    EXPECT_FALSE(view()->undoInfo);
}

TEST_F(PaletteWindowTest, ApproximateMovesTableColoursCloserThanThePrecision) {
    std::vector<Rgb> t = distinctTable(16);
    t[0] = {100, 100, 100};
    t[1] = {50, 50, 50};
    struct Case {
        const char* precision;
        Rgb entry0, entry1;
    };
    const Case cases[] = {
        {"10", {109, 103, 103}, {50, 50, 50}},  // d² 99 moves, d² 100 does not
        {"0", {109, 103, 103}, {60, 50, 50}},   // 0: every entry to its nearest working colour
    };
    for (const Case& c : cases) {
        openPalette(*makeIndexed(4, {"0123"}, t));
        pal().setEntry(0, PaletteColour{109, 103, 103});
        pal().setEntry(1, PaletteColour{60, 50, 50});
        enterValue(c.precision);
        press(Ctl::IDC_APPROXIMATE);
        EXPECT_EQ(image().tableColour(0), c.entry0) << c.precision;
        EXPECT_EQ(image().tableColour(1), c.entry1) << c.precision;
        EXPECT_EQ(pal().entry(1), pc(c.entry1)) << c.precision;  // reloaded from the table
        EXPECT_EQ(pal().historyPos, 1);
        EXPECT_TRUE(view()->undoInfo);
        EXPECT_EQ(dlg()->m_request, 0);
        frame->runCommand(ID_FILE_CLOSE);
        processEvents();
    }
}

TEST_F(PaletteWindowTest, FillFromTheSelectionThenReplaceCarriesItIntoThePicture) {
    const auto t = distinctTable(256);
    openPalette(*makeIndexed(8, {"0123"}, t));
    leftClick(centre(250));
    press(Ctl::IDC_FILL);
    EXPECT_EQ(dialogs->messages(), QStringList({"終了: 「置換」又は「整理」で画像を置き換えます。"}));
    EXPECT_EQ(pal().entry(249), pc(t[249]));
    for (int i = 250; i < 256; ++i) EXPECT_EQ(pal().entry(i), kWhitePaletteColour) << i;
    EXPECT_EQ(table(), t);
    EXPECT_FALSE(view()->undoInfo);

    press(Ctl::IDC_REPLACE);
    EXPECT_EQ(image().tableColour(250), (Rgb{255, 255, 255}));
    EXPECT_EQ(image().tableColour(249), t[249]);
    EXPECT_TRUE(view()->undoInfo);
    EXPECT_EQ(dlg()->m_request, 0);
    // Undo is offered again once the window is closed, and brings the old table back.
    press(Ctl::IDC_CLOSE);
    frame->runCommand(ID_EDIT_UNDO);
    EXPECT_EQ(table(), t);
}

TEST_F(PaletteWindowTest, OrganiseMergesDuplicatesAtThreeAndSeven) {
    std::vector<Rgb> t = distinctTable(16);
    t[7] = t[3] = {10, 20, 30};
    openPalette(*makeIndexed(4, {"3789", "0000"}, t));
    press(Ctl::IDC_ORGANISE);
    EXPECT_EQ(indexRows(image()), Rows({"3378", "0000"}));
    EXPECT_EQ(image().tableColour(7), t[8]);
    EXPECT_EQ(image().tableColour(14), t[15]);
    EXPECT_EQ(image().tableColour(15), (Rgb{205, 205, 205}));
    EXPECT_EQ(pal().entry(7), pc(t[8]));
    EXPECT_TRUE(view()->undoInfo);
}

TEST_F(PaletteWindowTest, ReplaceShowsInTheDocumentAndLeavesOtherPanesWindowsAlone) {
    CPaletteDlg* d = openPalette(*makeIndexed(4, {"01"}, distinctTable(16)));
    ASSERT_TRUE(frame->activeChild()->splitColumns());
    processEvents();
    ASSERT_EQ(doc()->views().size(), 2u);
    d->workingPalette().setEntry(1, PaletteColour{1, 1, 1});
    d->button(Ctl::IDC_REPLACE)->click();
    EXPECT_EQ(doc()->bitmap, image().displayBitmap.get());
    EXPECT_EQ(doc()->bitmap->colour(1, 0), (Rgb{1, 1, 1}));
    // The other pane has its own window, still hidden and untouched.
    for (CQelView* v : doc()->views())
        if (v->paletteWindow != d) {
            EXPECT_FALSE(v->paletteWindow->isVisible());
        }
}

// Escape, the close box, 閉じる or quitting under a held check-colour preview: the picture gets its own
// table back before anything is saved.
TEST_F(PaletteWindowTest, APreviewEndsHoweverTheWindowCloses) {
    const auto t = distinctTable(16);
    for (int how = 0; how < 4; ++how) {
        const QString path = writePicture(*makeIndexed(4, {"0120"}, t), QStringLiteral("held%1.bmp").arg(how));
        frame->openDocumentFile(path);
        doc()->setModified(true);
        frame->runCommand(ID_PALETTE);
        mouse(dlg(), QEvent::MouseButtonPress, Qt::RightButton, centre(1));
        dialogs->answer(qel::ui::Answer::Yes);  // to the save question (after Escape and the close box: Save)
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        if (how == 0) {
            QApplication::sendEvent(dlg(), &escape);
        } else if (how == 1) {
            dlg()->close();
        } else if (how == 2) {
            frame->runCommand(ID_FILE_CLOSE);
        } else {
            frame->close();
        }
        processEvents();
        if (how < 2) {
            EXPECT_FALSE(dlg()->infoBeforePreview) << how;  // nothing left for a later preview to put back
            frame->runCommand(ID_FILE_SAVE);
        }
        DibImage saved;
        ASSERT_TRUE(saved.loadFile(path.toStdString())) << how;
        EXPECT_EQ(saved.tableColour(1), t[1]) << how;
    }
}

// Sorting and fitting change the picture's indices or table: one 元に戻す after closing the window undoes them.
TEST_F(PaletteWindowTest, SortAndFitAreUndoneByOneUndoAfterClosing) {
    for (int fit = 0; fit < 2; ++fit) {
        openPalette(*makeIndexed(4, {"0123", "3210"}, {{90, 90, 90}, {50, 50, 50}, {100, 50, 0}, {10, 10, 10}}));
        const auto info = image().info;
        const auto bits = image().bits;
        pal().setEntry(0, PaletteColour{1, 2, 3});
        fit ? frame->runCommand(ID_FIT_PALETTE) : press(Ctl::IDC_SORT);
        EXPECT_NE(image().tableColour(0), (Rgb{90, 90, 90})) << fit;
        dlg()->close();
        frame->runCommand(ID_EDIT_UNDO);
        EXPECT_EQ(image().info, info) << fit;
        EXPECT_EQ(image().bits, bits) << fit;
        frame->runCommand(ID_FILE_CLOSE);  // changes discarded
    }
}

}  // namespace
}  // namespace qel::test
