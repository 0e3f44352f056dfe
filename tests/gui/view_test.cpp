// Painting rectangles, zoom, scrolling, pointer position and keys of the view.
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>
#include <tuple>

#include "core/commands/command_table.h"
#include "gui_test.h"

namespace qel::test {
namespace {

using namespace qel::cmd;

void pressKey(QWidget* w, Qt::Key key, Qt::KeyboardModifiers modifiers) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(w, &release);
}

class ViewTest : public GuiTest {
protected:
    // A view small enough to scroll over a w x h picture.
    CQelView* smallView(int w, int h) {
        open(*pattern(w, h, 24));
        frame->activeChild()->resize(90, 80);
        processEvents();
        return view();
    }
};

TEST(RefreshRects, StretchedCopyFromScrollPosition) {
    struct Case {
        int w, h;
        float zoom;
        int px, py;
        QRect destination, source;
    };
    const std::vector<Case> cases = {
        {100, 80, 2.0f, 10, 6, QRect(0, 0, 190, 154), QRect(5, 3, 95, 77)},
        {100, 80, 1.0f, 0, 0, QRect(0, 0, 100, 80), QRect(0, 0, 100, 80)},
        {100, 80, 0.5f, 3, 1, QRect(0, 0, 47, 39), QRect(6, 2, 94, 78)},
        {5, 3, 4.0f, 3, 3, QRect(0, 0, 17, 9), QRect(0, 0, 4, 2)},  // 5 - 0.75 and 3 - 0.75 truncate
    };
    for (const Case& c : cases) {
        const auto r = CQelView::refreshRects(c.w, c.h, c.zoom, c.px, c.py);
        EXPECT_EQ(r.destination, c.destination) << c.w << "x" << c.h << " z" << c.zoom;
        EXPECT_EQ(r.source, c.source) << c.w << "x" << c.h << " z" << c.zoom;
    }
}

TEST_F(ViewTest, RefreshAtZoomTwoScrolledUsesTheScrollPosition) {
    CQelView* v = smallView(100, 80);
    v->zoomIn();
    v->setScrollPosition(QPoint(10, 6));
    ASSERT_EQ(v->scrollPosition(), QPoint(10, 6));
    const auto r = v->currentRefreshRects();
    EXPECT_EQ(r.destination, QRect(0, 0, 190, 154));
    EXPECT_EQ(r.source, QRect(5, 3, 95, 77));
}

TEST_F(ViewTest, ZoomOutThreeTimesGivesAnEighthAndItsScrollSize) {
    CQelView* v = smallView(100, 80);
    for (int i = 0; i < 3; ++i) frame->runCommand(ID_ZOOM_OUT);
    EXPECT_FLOAT_EQ(v->zoom, 0.125f);
    EXPECT_EQ(v->scrollSizes(), QSize(12, 10));
    frame->runCommand(ID_ZOOM_IN);
    EXPECT_FLOAT_EQ(v->zoom, 0.25f);
    EXPECT_EQ(v->scrollSizes(), QSize(25, 20));
}

// A page is a tenth of the scroll size and a line a tenth of a page, at every zoom.
TEST_F(ViewTest, ScrollStepsAreTenthsOfTheScrollSize) {
    CQelView* v = smallView(1000, 600);
    for (const auto& [zoom, page, line] : {std::tuple{1, QSize(100, 60), QSize(10, 6)}, {2, QSize(200, 120), QSize(20, 12)}}) {
        if (zoom == 2) frame->runCommand(ID_ZOOM_IN);
        EXPECT_EQ(QSize(v->horizontalScrollBar()->pageStep(), v->verticalScrollBar()->pageStep()), page) << zoom;
        EXPECT_EQ(QSize(v->horizontalScrollBar()->singleStep(), v->verticalScrollBar()->singleStep()), line) << zoom;
    }
}

TEST_F(ViewTest, ZoomStopsAtItsFloorAndCeiling) {
    CQelView* v = smallView(100, 80);
    for (int i = 0; i < 40; ++i) v->zoomOut();
    EXPECT_FLOAT_EQ(v->zoom, CQelView::kMinZoom);
    EXPECT_GE(v->scrollSizes().width(), 0);
    for (int i = 0; i < 80; ++i) v->zoomIn();
    EXPECT_FLOAT_EQ(v->zoom, CQelView::kMaxZoom);
    EXPECT_EQ(v->scrollSizes(), QSize(6400, 5120));
}

TEST_F(ViewTest, KeypadPlusAndMinusZoomOtherKeysDoNot) {
    CQelView* v = smallView(100, 80);
    pressKey(v, Qt::Key_Plus, Qt::KeypadModifier);
    EXPECT_FLOAT_EQ(v->zoom, 2.0f);
    pressKey(v, Qt::Key_Minus, Qt::KeypadModifier);
    pressKey(v, Qt::Key_Minus, Qt::KeypadModifier);
    EXPECT_FLOAT_EQ(v->zoom, 0.5f);
    for (auto key : {Qt::Key_Plus, Qt::Key_Minus, Qt::Key_A, Qt::Key_Down})
        pressKey(v, key, Qt::NoModifier);
    EXPECT_FLOAT_EQ(v->zoom, 0.5f);
}

TEST_F(ViewTest, PointerPositionIsWindowPixelsAtAnyZoomAndScroll) {
    CQelView* v = smallView(100, 80);
    v->zoomIn();
    v->setScrollPosition(QPoint(7, 5));
    QMouseEvent at00(QEvent::MouseMove, QPointF(0, 0), QPointF(0, 0), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(v->viewport(), &at00);
    EXPECT_EQ(frame->messagePaneText(), "(0,0)");
    QMouseEvent at(QEvent::MouseMove, QPointF(12, 3), QPointF(12, 3), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(v->viewport(), &at);
    EXPECT_EQ(frame->messagePaneText(), "(12,3)");
}

TEST_F(ViewTest, CtrlWheelZoomsAndTheSecondPaneShowsZoomPositionAndColour) {
    struct Case {
        bool indexed;
        int wheelSteps;  // Ctrl + wheel notches, positive towards zoom in
        QPoint pointer;  // in the pane
        QString want;
    };
    const std::vector<Case> cases = {
        {false, 1, {5, 3}, "200%   2, 1  255 255 255"},
        {false, 0, {1, 0}, "100%   1, 0  0 255 0"},
        {true, 1, {0, 2}, "200%   0, 1  0 0 255  [2]"},
        {true, -1, {1, 1}, "50%   2, 2  255 0 0  [1]"},
        {false, 1, {9, 9}, "200%"},  // beside the picture
    };
    for (const Case& c : cases) {
        const Rows rows = {"rg.", "bw.", "..r"};
        if (c.indexed)
            open(*makeIndexed(8, rows, {{0, 0, 0}, {255, 0, 0}, {0, 0, 255}}, {{'r', 1}, {'g', 0}, {'b', 2}, {'w', 0}, {'.', 0}}));
        else
            open(*make24(rows, {{'r', {255, 0, 0}}, {'g', {0, 255, 0}}, {'b', {0, 0, 255}}, {'w', {255, 255, 255}}}));
        CQelView* v = view();
        v->setFocus();
        for (int i = 0; i < std::abs(c.wheelSteps); ++i) {
            const QPoint delta(0, c.wheelSteps > 0 ? 120 : -120);
            QWheelEvent wheel(QPointF(1, 1), QPointF(1, 1), QPoint(), delta, Qt::NoButton, Qt::ControlModifier,
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(v->viewport(), &wheel);
        }
        QMouseEvent move(QEvent::MouseMove, QPointF(c.pointer), QPointF(c.pointer), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(v->viewport(), &move);
        EXPECT_EQ(frame->infoPaneText(), c.want) << c.want.toStdString();
        EXPECT_EQ(frame->messagePaneText(), QString::asprintf("(%d,%d)", c.pointer.x(), c.pointer.y()));
        for (CChildFrame* f : frame->childFrames()) f->close();
        processEvents();
    }
}

// Ctrl + wheel keeps the picture pixel under the pointer where it is, and the readout names it at once.
TEST_F(ViewTest, CtrlWheelZoomsAboutThePointerAndTheReadoutFollowsAtOnce) {
    const std::tuple<int, QPoint, QPoint, QString> cases[] = {  // notches, scroll at zoom 2, pointer, readout
        {1, {20, 10}, {30, 40}, "400%   25, 25  "}, {-1, {100, 60}, {30, 40}, "100%   65, 50  "}, {1, {0, 0}, {7, 3}, "400%   3, 1  "}};
    for (const auto& [notches, scroll, pointer, readout] : cases) {
        CQelView* v = smallView(400, 300);
        v->zoomIn();
        v->setScrollPosition(scroll);
        QWheelEvent wheel{QPointF(pointer), QPointF(pointer), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                          Qt::ControlModifier, Qt::NoScrollPhase, false};
        QApplication::sendEvent(v->viewport(), &wheel);
        EXPECT_TRUE(frame->infoPaneText().startsWith(readout)) << frame->infoPaneText().toStdString();
        frame->activeChild()->close();
        processEvents();
    }
}

TEST_F(ViewTest, LeftClickChangesNothing) {
    CQelView* v = smallView(100, 80);
    const auto before = doc()->image->bits;
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(v->viewport(), &press);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(v->viewport(), &release);
    EXPECT_EQ(doc()->image->bits, before);
    EXPECT_FLOAT_EQ(v->zoom, 1.0f);
    EXPECT_FALSE(v->canUndo());
}

TEST_F(ViewTest, PaintsEachPixelAsAZoomSquareWithoutSmoothing) {
    auto image = make24({"rg", "bw"}, {{'r', {255, 0, 0}}, {'g', {0, 255, 0}}, {'b', {0, 0, 255}}, {'w', {255, 255, 255}}});
    open(*image);
    CQelView* v = view();
    v->zoomIn();
    v->zoomIn();
    const QImage shot = v->viewport()->grab().toImage();
    auto at = [&](int x, int y) { return shot.pixelColor(x, y).rgb() & 0xFFFFFF; };
    EXPECT_EQ(at(0, 0), 0xFF0000u);
    EXPECT_EQ(at(3, 3), 0xFF0000u);
    EXPECT_EQ(at(4, 0), 0x00FF00u);
    EXPECT_EQ(at(3, 4), 0x0000FFu);
    EXPECT_EQ(at(7, 7), 0xFFFFFFu);
    EXPECT_EQ(at(8, 8), 0xFFFFFFu);  // outside the picture: the erased client area
}

}  // namespace
}  // namespace qel::test
