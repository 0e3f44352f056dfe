// The colour commands of the view: conversions with their thinned flag and
// messages, the black-and-white threshold dialog, the quality reduction's dialog, colour counting, reduction,
// and the ways the palette window is shown and closed with the palette-open
// mark, fit to palette included.
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <map>

#include "core/colour/quantize.h"
#include "core/commands/command_table.h"
#include "gui/commands/colour/palette_dlg.h"
#include "gui/commands/colour/threshold_dlg.h"
#include "gui_test.h"

namespace qel::test {
namespace {

using namespace qel::cmd;


void pressKey(QWidget* w, Qt::Key key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(w, &release);
}

const Rgb kRed{200, 0, 0}, kGreen{0, 200, 0}, kBlue{0, 0, 200};

class ColourCommandsTest : public GuiTest {
protected:
    CPaletteDlg* palette() const { return qobject_cast<CPaletteDlg*>(view()->paletteWindow); }
    DibImage& image() const { return *doc()->image; }
};

TEST_F(ColourCommandsTest, ConversionsSnapshotSetThinnedAndAnnounceAsTheCommandSays) {
    struct Case {
        const char* name;
        int command;
        int fromDepth, toDepth;
        bool announced;
        int thinnedAfter;  // the flag starts at 1
    };
    const Case cases[] = {
        {"256色", ID_TO_256, 24, 8, true, 0},
        {"16色", ID_TO_16, 24, 4, true, 0},
        {"16色 from 8 bits", ID_TO_16, 8, 4, true, 0},
        {"２４ｂｉｔ", ID_TO_24BIT, 8, 24, true, 0},
        {"灰色", ID_TO_GREY, 24, 24, false, 1},
        {"減色(256色)", ID_REDUCE_256, 24, 24, false, 1},
    };
    for (const Case& c : cases) {
        if (c.fromDepth == 24) open(*make24({"rgbr", "bbgr"}, {{'r', kRed}, {'g', kGreen}, {'b', kBlue}}));
        else open(*makeIndexed(8, {"0120", "2210"}, {kRed, kGreen, kBlue}));
        view()->thinned = 1;
        dialogs->clear();
        ASSERT_TRUE(enabled(c.command)) << c.name;
        frame->runCommand(c.command);
        EXPECT_EQ(image().bitCount(), c.toDepth) << c.name;
        EXPECT_EQ(view()->thinned, c.thinnedAfter) << c.name;
        EXPECT_EQ(dialogs->messages(), c.announced ? QStringList({"メッセージ: 終了しました"}) : QStringList()) << c.name;
        EXPECT_TRUE(enabled(ID_EDIT_UNDO)) << c.name;
        EXPECT_EQ(doc()->bitmap, image().displayBitmap.get()) << c.name;
        // Conversions keep the look of a three-colour picture; grey averages, the reduction keeps 6 bits.
        const Rgb shown = c.command == ID_TO_GREY ? Rgb{66, 66, 66} : c.command == ID_REDUCE_256 ? Rgb{203, 0, 0} : kRed;
        EXPECT_EQ(doc()->bitmap->colour(0, 0), shown) << c.name;
        frame->runCommand(ID_EDIT_UNDO);
        EXPECT_EQ(image().bitCount(), c.fromDepth) << c.name;
        frame->runCommand(ID_FILE_CLOSE);
        processEvents();
    }
}

TEST_F(ColourCommandsTest, SixteenColoursResizesTheDocumentAndItsViews) {
    for (const auto& [width, expected] : std::vector<std::pair<int, int>>{{5, 4}, {6, 8}, {9, 8}, {10, 12}, {1, 1}}) {
        open(*make24({std::string(width, 'r'), std::string(width, 'g')}, {{'r', kRed}, {'g', kGreen}}));
        view()->zoomIn();
        frame->runCommand(ID_TO_16);
        EXPECT_EQ(image().header().biWidth, expected) << width;
        EXPECT_EQ(doc()->imageWidth, expected) << width;
        EXPECT_EQ(view()->scrollSizes(), QSize(2 * expected, 4)) << width;
        frame->runCommand(ID_EDIT_UNDO);
        EXPECT_EQ(doc()->imageWidth, width) << width;
        frame->runCommand(ID_FILE_CLOSE);
        processEvents();
    }
}

TEST_F(ColourCommandsTest, BlackAndWhiteAsksForTheThresholdFirst) {
    // Averages 127 and 128 around the threshold 128, and black and white themselves.
    const std::vector<Rgb> table = {{127, 127, 127}, {128, 128, 128}, {0, 0, 0}, {255, 255, 255}, {126, 127, 130}};
    open(*makeIndexed(8, {"01234"}, table));

    // Cancel: no snapshot, nothing changes.
    onNextDialog([](QDialog* d) { d->reject(); });
    frame->runCommand(ID_TO_BLACK_WHITE);
    EXPECT_FALSE(view()->undoInfo);
    EXPECT_EQ(image().tableColour(0), table[0]);

    // A refused value keeps the dialog open; a good one then runs the conversion.
    QString title, firstText;
    bool stayedOpen = false;
    onNextDialog([&](QDialog* d) {
        title = d->windowTitle();
        auto* edit = d->findChild<QLineEdit*>();
        firstText = edit->text();
        edit->setText("256");
        d->accept();
        stayedOpen = d->isVisible();
        edit->setText("128");
        d->accept();
    });
    dialogs->clear();
    frame->runCommand(ID_TO_BLACK_WHITE);
    EXPECT_EQ(title, "白黒にする");
    EXPECT_EQ(firstText, "1");
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(dialogs->messages(), QStringList({"エラー: 0-255の数を入れてください。"}));  // no "終了しました"
    const std::vector<Rgb> expected = {{0, 0, 0}, {255, 255, 255}, {0, 0, 0}, {255, 255, 255}, {0, 0, 0}};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(image().tableColour(i), expected[i]) << i;
    EXPECT_TRUE(enabled(ID_EDIT_UNDO));
}

TEST_F(ColourCommandsTest, QuantizeAsksForTheColoursAndDitheringAndUndoes) {
    // A grey ramp, which dithering changes.
    std::map<char, Rgb> grey;
    for (int i = 0; i < 16; ++i) grey["0123456789abcdef"[i]] = Rgb{uint8_t(i * 17), uint8_t(i * 17), uint8_t(i * 17)};
    const Rows ramp(2, "0123456789abcdef");
    open(*make24(ramp, grey));
    auto expected = make24(ramp, grey);
    ASSERT_TRUE(quantizeColours(*expected, {.colours = 2, .dither = true}).isChanged());
    // Cancel changes nothing; a count out of range keeps the dialog open; 2 colours dithered then run.
    onNextDialog([](QDialog* d) { d->reject(); });
    frame->runCommand(ID_QUANTIZE);
    EXPECT_FALSE(view()->undoInfo);
    QString title, firstText;
    bool stayedOpen = false, firstTicked = true;
    onNextDialog([&](QDialog* d) {
        title = d->windowTitle();
        auto* edit = d->findChild<QLineEdit*>("colours");
        auto* dither = d->findChild<QCheckBox*>("dither");
        firstText = edit->text();
        firstTicked = dither->isChecked();
        edit->setText("1");
        d->accept();
        stayedOpen = d->isVisible();
        edit->setText("2");
        dither->setChecked(true);
        d->accept();
    });
    dialogs->clear();
    frame->runCommand(ID_QUANTIZE);
    EXPECT_EQ(title, "高画質減色");
    EXPECT_EQ(firstText, "256");
    EXPECT_FALSE(firstTicked);
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(dialogs->messages(), QStringList({"エラー: 2-256の数を入れてください。"}));
    EXPECT_TRUE(image().info == expected->info && image().bits == expected->bits);
    frame->runCommand(ID_EDIT_UNDO);
    EXPECT_EQ(image().bitCount(), 24);
    EXPECT_EQ(colourRows(image(), grey), ramp);
}

TEST_F(ColourCommandsTest, ColourCountShowsTheNumberAndTakesNoSnapshot) {
    struct Case {
        const char* name;
        std::unique_ptr<DibImage> picture;
        QString shown;
    };
    Case cases[] = {
        {"three 24-bit colours", make24({"rgbr", "bbgr"}, {{'r', kRed}, {'g', kGreen}, {'b', kBlue}}), "色数: 3"},
        // Entries 0 and 1 differ only in the low two bits; entry 2 is never used.
        {"indexed, 6-bit merging", makeIndexed(8, {"01010"}, {{200, 100, 52}, {203, 103, 55}, kBlue}), "色数: 1"},
        {"1-bit picture", makeIndexed(1, {"0000"}, {{0, 0, 0}, {255, 255, 255}}), "色数: 2"},
    };
    for (Case& c : cases) {
        open(*c.picture);
        const auto bits = image().bits;
        dialogs->clear();
        frame->runCommand(ID_COUNT_COLOURS);
        EXPECT_EQ(dialogs->messages(), QStringList({c.shown})) << c.name;
        EXPECT_FALSE(view()->undoInfo) << c.name;
        EXPECT_EQ(image().bits, bits) << c.name;
        frame->runCommand(ID_FILE_CLOSE);
        processEvents();
    }
}

TEST_F(ColourCommandsTest, ReductionLeavesAtMost256Colours) {
    // 4096 different colours at 6 bits per channel.
    const int w = 64, h = 64;
    const int64_t stride = strideFor(w, 24);
    PixelBytes bits(size_t(stride * h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = bits.data() + y * stride + 3 * x;
            p[0] = uint8_t(2 * (x + y)), p[1] = uint8_t(4 * y), p[2] = uint8_t(4 * x);
        }
    DibImage big;
    big.replace(makeInfoBlock(newHeader(w, h, 24, 0, uint32_t(bits.size())), 0), std::move(bits));
    open(big);
    frame->runCommand(ID_COUNT_COLOURS);
    ASSERT_EQ(dialogs->messages().last(), "色数: 4096");
    frame->runCommand(ID_REDUCE_256);
    dialogs->clear();
    frame->runCommand(ID_COUNT_COLOURS);
    EXPECT_LE(dialogs->messages().last().mid(4).toInt(), 256);
    EXPECT_EQ(image().bitCount(), 24);
}

// ---------------------------------------------------------------- showing and closing the palette window

TEST_F(ColourCommandsTest, EveryWayOfClosingDropsThePaletteOpenMark) {
    open(*makeIndexed(8, {"0120"}, {kRed, kGreen, kBlue}));
    frame->runCommand(ID_TO_GREY);  // something to undo
    const std::vector<std::pair<const char*, std::function<void(CPaletteDlg*)>>> closers = {
        {"閉じる", [](CPaletteDlg* d) { d->button(CPaletteDlg::IDC_CLOSE)->click(); }},
        {"Escape", [](CPaletteDlg* d) { pressKey(d, Qt::Key_Escape); }},
        {"close box", [](CPaletteDlg* d) { d->close(); }},
    };
    for (const auto& [name, closeIt] : closers) {
        frame->runCommand(ID_PALETTE);
        frame->runCommand(ID_PALETTE);  // shown twice, marked once
        EXPECT_TRUE(palette()->isVisible()) << name;
        EXPECT_EQ(palette()->windowTitle(), "パレット");
        EXPECT_TRUE(palette()->holdsUndo) << name;
        EXPECT_FALSE(enabled(ID_EDIT_UNDO)) << name;
        closeIt(palette());
        processEvents();
        EXPECT_FALSE(palette()->isVisible()) << name;
        EXPECT_FALSE(palette()->holdsUndo) << name;
        EXPECT_EQ(palette()->m_request, 0) << name;
        EXPECT_TRUE(enabled(ID_EDIT_UNDO)) << name;
    }
}

TEST_F(ColourCommandsTest, EnterNeitherHidesTheWindowNorDropsTheMark) {
    open(*makeIndexed(8, {"0120"}, {kRed, kGreen, kBlue}));
    frame->runCommand(ID_PALETTE);
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        palette()->button(CPaletteDlg::IDC_REPLACE)->setFocus();
        pressKey(palette(), key);
        pressKey(palette()->button(CPaletteDlg::IDC_SORT), key);
        EXPECT_TRUE(palette()->isVisible());
        EXPECT_TRUE(palette()->holdsUndo);
    }
    for (int id : {CPaletteDlg::IDC_CLOSE, CPaletteDlg::IDC_REPLACE, CPaletteDlg::IDC_SORT})
        EXPECT_FALSE(palette()->button(CPaletteDlg::Control(id))->autoDefault()) << id;
}

TEST_F(ColourCommandsTest, PaletteCommandLoadsTheTableAndSelectsEntryZero) {
    open(*makeIndexed(8, {"0120"}, {kRed, kGreen, kBlue}, {}, true));
    frame->runCommand(ID_PALETTE);
    const WorkingPalette& pal = palette()->workingPalette();
    EXPECT_EQ(pal.count, 3);
    EXPECT_EQ(pal.selected, 0);
    EXPECT_EQ(pal.entry(1), (PaletteColour{0, 200, 0}));
    EXPECT_EQ(palette()->statusText(), "R:  200 G:    0 B:    0  No:   0   ");
}

TEST_F(ColourCommandsTest, DoubleClickOnThePictureSelectsTheNearestEntryOfTheShownColour) {
    // Entry 3 repeats entry 1's colour: the first of equal entries wins.
    const std::vector<Rgb> table = {kRed, {10, 190, 5}, kBlue, {10, 190, 5}, {12, 190, 5}};
    open(*makeIndexed(8, {"0124", "2222"}, table));
    struct Case {
        float zoom;
        QPoint at;
        int selected;
    };
    const Case cases[] = {
        {1.0f, QPoint(1, 0), 1},
        {1.0f, QPoint(3, 0), 4},
        {2.0f, QPoint(3, 1), 1},   // zoomed: picture pixel (1, 0)
        {2.0f, QPoint(5, 3), 2},   // picture pixel (2, 1)
        {1.0f, QPoint(1, 1), 2},
    };
    for (const Case& c : cases) {
        while (view()->zoom < c.zoom) view()->zoomIn();
        while (view()->zoom > c.zoom) view()->zoomOut();
        processEvents();
        QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(c.at), view()->viewport()->mapToGlobal(QPointF(c.at)),
                        Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view()->viewport(), &dbl);
        EXPECT_TRUE(palette()->isVisible());
        EXPECT_EQ(palette()->workingPalette().selected, c.selected) << c.at.x() << "," << c.at.y() << " zoom " << c.zoom;
        EXPECT_TRUE(palette()->holdsUndo);
    }
}

TEST_F(ColourCommandsTest, DoubleClickOnA24BitPictureOpensNothing) {
    open(*make24({"rg"}, {{'r', kRed}, {'g', kGreen}}));
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(0, 0), QPointF(0, 0), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
    QApplication::sendEvent(view()->viewport(), &dbl);
    EXPECT_FALSE(palette()->isVisible());
    EXPECT_FALSE(palette()->holdsUndo);
}

TEST_F(ColourCommandsTest, FitToPaletteRecoloursAtOnceWithASnapshot) {
    open(*makeIndexed(4, {"0120"}, {kRed, kGreen, kBlue, {250, 10, 10}}));
    // Never filled: the palette starts as the picture's own table, so fitting changes nothing.
    const auto info = image().info;
    frame->runCommand(ID_FIT_PALETTE);
    EXPECT_EQ(image().info, info);
    EXPECT_TRUE(palette()->isVisible());
    EXPECT_TRUE(palette()->holdsUndo);
    palette()->close();

    // Working palette with red gone: red entries move to the nearest remaining colour.
    frame->runCommand(ID_PALETTE);
    WorkingPalette& pal = palette()->workingPalette();
    pal.setEntry(0, PaletteColour{1, 2, 3});
    pal.selected = 2;
    palette()->close();
    frame->runCommand(ID_FIT_PALETTE);
    frame->runCommand(ID_FIT_PALETTE);  // marked once
    EXPECT_EQ(image().tableColour(0), (Rgb{250, 10, 10}));
    EXPECT_EQ(image().tableColour(3), (Rgb{250, 10, 10}));
    EXPECT_EQ(doc()->bitmap->colour(0, 0), (Rgb{250, 10, 10}));  // shown at once
    EXPECT_EQ(pal.selected, 0);
    EXPECT_EQ(pal.entry(0), (PaletteColour{1, 2, 3}));  // the working palette is not reloaded
    EXPECT_TRUE(view()->undoInfo);  // undone once the palette window is closed
    EXPECT_TRUE(palette()->holdsUndo);
    palette()->close();
    EXPECT_FALSE(palette()->holdsUndo);
}

// Fit to palette changes the picture every view of the document shows: two windows, one split in two panes.
TEST_F(ColourCommandsTest, FitToPaletteRepaintsEveryViewOfTheDocument) {
    open(*makeIndexed(4, {"0120"}, {kRed, kGreen, kBlue, {250, 10, 10}}));
    frame->runCommand(ID_WINDOW_NEW);
    ASSERT_TRUE(frame->activeChild()->splitColumns());
    frame->runCommand(ID_WINDOW_TILE_HORZ);
    frame->runCommand(ID_PALETTE);
    palette()->workingPalette().setEntry(0, PaletteColour{1, 2, 3});
    palette()->close();
    processEvents();
    ASSERT_EQ(doc()->views().size(), 3u);

    struct PaintCounter : QObject {
        std::map<QObject*, int> paints;
        bool eventFilter(QObject* watched, QEvent* e) override {
            if (e->type() == QEvent::Paint) ++paints[watched];
            return false;
        }
    } counter;
    for (CQelView* v : doc()->views()) v->viewport()->installEventFilter(&counter);
    frame->runCommand(ID_FIT_PALETTE);
    processEvents();
    ASSERT_EQ(image().tableColour(0), (Rgb{250, 10, 10}));
    int n = 0;
    for (CQelView* v : doc()->views()) EXPECT_GE(counter.paints[v->viewport()], 1) << "view " << n++;
}

}  // namespace
}  // namespace qel::test
