// The screen capture: the capture window, the rectangle in either drag
// direction, the picture it makes and the document's sizes afterwards.
#include <QMouseEvent>
#include <QKeyEvent>
#include <QScreen>

#include "core/commands/command_table.h"
#include "gui/commands/capture/my_chap_wnd.h"
#include "gui/commands/capture/screen_grabber.h"
#include "gui_test.h"

namespace qel::test {
namespace {

using namespace qel::cmd;

// The screen picture: pixel (x, y) has red x, green y and blue x + y (mod 256).
QColor screenColour(int x, int y) { return QColor(x & 0xFF, y & 0xFF, (x + y) & 0xFF); }

class FakeGrabber : public qel::ui::ScreenGrabber {
public:
    FakeGrabber(QString reason, qreal ratio) : reason_(std::move(reason)), ratio_(ratio) {}
    QString unavailableReason() const override { return reason_; }
    QImage grab(QScreen* screen) override {
        ++grabs;
        const QSize size = screen->geometry().size() * ratio_;
        QImage image(size, QImage::Format_RGB32);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x) image.setPixelColor(x, y, screenColour(x, y));
        image.setDevicePixelRatio(ratio_);
        return image;
    }
    int grabs = 0;

private:
    QString reason_;
    qreal ratio_;
};

class CaptureTest : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        useGrabber({}, 1.0);
        frame->newDocument();
        processEvents();
    }
    void TearDown() override {
        qel::ui::installScreenGrabber(nullptr);
        GuiTest::TearDown();
    }
    void useGrabber(const QString& reason, qreal ratio) {
        auto g = std::make_unique<FakeGrabber>(reason, ratio);
        grabber = g.get();
        qel::ui::installScreenGrabber(std::move(g));
    }
    MyChapWnd* startCapture() {
        frame->runCommand(ID_SCREEN_CAPTURE);
        processEvents();
        return qobject_cast<MyChapWnd*>(view()->captureWindow);
    }
    static void mouse(QWidget* w, QEvent::Type type, QPoint p, Qt::MouseButtons held) {
        QMouseEvent e(type, QPointF(p), w->mapToGlobal(QPointF(p)), Qt::LeftButton, held, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    }
    static void drag(QWidget* w, QPoint from, QPoint to) {
        mouse(w, QEvent::MouseButtonPress, from, Qt::LeftButton);
        mouse(w, QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
        w->repaint();  // the band is drawn over the shown screen
        mouse(w, QEvent::MouseMove, to, Qt::LeftButton);
        mouse(w, QEvent::MouseButtonRelease, to, Qt::NoButton);
        processEvents();
    }
    FakeGrabber* grabber = nullptr;
};

TEST_F(CaptureTest, EitherDragDirectionGivesTheSameRectangleAndPixels) {
    struct Case {
        QPoint from, to;
    };
    // Width 5 (rows padded to 16 bytes), height 3; the larger coordinates lie just outside.
    const std::vector<Case> cases = {{{10, 20}, {15, 23}}, {{15, 23}, {10, 20}}, {{15, 20}, {10, 23}}, {{10, 23}, {15, 20}}};
    for (const Case& c : cases) {
        if (!doc() || doc()->bitmap) {
            frame->newDocument();
            processEvents();
        }
        MyChapWnd* w = startCapture();
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->isVisible());
        EXPECT_TRUE(w->windowFlags() & Qt::FramelessWindowHint);
        drag(w, c.from, c.to);
        EXPECT_EQ(view()->captureWindow, nullptr);
        ASSERT_NE(doc()->bitmap, nullptr);
        const auto h = doc()->image->header();
        EXPECT_EQ(h.biWidth, 5);
        EXPECT_EQ(h.biHeight, 3);
        EXPECT_EQ(h.biBitCount, 24);
        EXPECT_EQ(h.biSizeImage, 48u);
        EXPECT_EQ(h.biXPelsPerMeter, 4740);
        EXPECT_EQ(doc()->image->bitsSize(), 48u);
        EXPECT_EQ(doc()->image->infoSize(), 40u);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x) {
                const QColor want = screenColour(10 + x, 20 + y);
                EXPECT_EQ(doc()->image->colourAt(x, y), (Rgb{uint8_t(want.red()), uint8_t(want.green()), uint8_t(want.blue())}))
                    << x << "," << y;
            }
        for (int row = 0; row < 3; ++row) EXPECT_EQ(doc()->image->bits[row * 16 + 15], 0);  // padding
    }
}

TEST_F(CaptureTest, ScrollRangeIsThePictureSizeWhateverTheZoom) {
    view()->zoomIn();
    ASSERT_EQ(view()->zoom, 2.0f);
    MyChapWnd* w = startCapture();
    ASSERT_NE(w, nullptr);
    drag(w, {100, 50}, {137, 71});
    EXPECT_EQ(doc()->imageWidth, 37);
    EXPECT_EQ(doc()->imageHeight, 21);
    EXPECT_EQ(doc()->scrollWidth, 37);
    EXPECT_EQ(doc()->scrollHeight, 21);
    EXPECT_EQ(view()->scrollSizes(), QSize(37, 21));
}

TEST_F(CaptureTest, TakesNoSnapshotAndIsOfferedOnlyForAnEmptyDocument) {
    EXPECT_TRUE(enabled(ID_SCREEN_CAPTURE));
    drag(startCapture(), {0, 0}, {8, 8});
    EXPECT_FALSE(enabled(ID_SCREEN_CAPTURE));
    EXPECT_FALSE(view()->undoInfo.has_value());
    EXPECT_FALSE(enabled(ID_EDIT_UNDO));
    EXPECT_TRUE(enabled(ID_SCALE));
    EXPECT_TRUE(dialogs->messages().isEmpty());
}

TEST_F(CaptureTest, ZeroWidthOrHeightClosesTheWindowAndLeavesTheDocumentEmpty) {
    for (const auto& [from, to] : std::vector<std::pair<QPoint, QPoint>>{{{5, 5}, {5, 40}}, {{5, 5}, {40, 5}}, {{7, 7}, {7, 7}}}) {
        MyChapWnd* w = startCapture();
        ASSERT_NE(w, nullptr);
        QPointer<MyChapWnd> alive(w);
        drag(w, from, to);
        EXPECT_TRUE(alive.isNull());
        EXPECT_EQ(view()->captureWindow, nullptr);
        EXPECT_EQ(doc()->bitmap, nullptr);
        EXPECT_TRUE(enabled(ID_SCREEN_CAPTURE));
    }
}

TEST_F(CaptureTest, EscapeEndsTheCaptureWithoutAPicture) {
    MyChapWnd* w = startCapture();
    ASSERT_NE(w, nullptr);
    QPointer<MyChapWnd> alive(w);
    QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(w, &key);
    processEvents();
    EXPECT_TRUE(alive.isNull());
    EXPECT_EQ(view()->captureWindow, nullptr);
    EXPECT_EQ(doc()->bitmap, nullptr);
    // A new capture can start.
    EXPECT_NE(startCapture(), nullptr);
}

TEST_F(CaptureTest, TheScreenIsReadOnceWhenTheCaptureBegins) {
    MyChapWnd* w = startCapture();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(grabber->grabs, 1);
    EXPECT_EQ(w->screenPicture().size(), view()->screen()->geometry().size());
    frame->runCommand(ID_SCREEN_CAPTURE);  // while the window is open: the same window stays
    EXPECT_EQ(view()->captureWindow, w);
    EXPECT_EQ(grabber->grabs, 1);
    drag(w, {1, 1}, {3, 3});
    EXPECT_EQ(grabber->grabs, 1);
}

TEST_F(CaptureTest, OnAHighDensityScreenTheRectangleIsTakenInDevicePixels) {
    useGrabber({}, 2.0);
    MyChapWnd* w = startCapture();
    ASSERT_NE(w, nullptr);
    drag(w, {10, 20}, {13, 22});
    ASSERT_NE(doc()->bitmap, nullptr);
    EXPECT_EQ(doc()->imageWidth, 6);
    EXPECT_EQ(doc()->imageHeight, 4);
    const QColor want = screenColour(20, 40);
    EXPECT_EQ(doc()->image->colourAt(0, 0), (Rgb{uint8_t(want.red()), uint8_t(want.green()), uint8_t(want.blue())}));
}

TEST_F(CaptureTest, AWaylandSessionGetsAMessageInsteadOfABlackPicture) {
    useGrabber(qel::ui::waylandCaptureMessage(), 1.0);
    frame->runCommand(ID_SCREEN_CAPTURE);
    processEvents();
    EXPECT_EQ(view()->captureWindow, nullptr);
    EXPECT_EQ(grabber->grabs, 0);
    ASSERT_EQ(dialogs->messages().size(), 1);
    EXPECT_TRUE(dialogs->messages()[0].contains("X11")) << dialogs->messages()[0].toStdString();
    EXPECT_EQ(doc()->bitmap, nullptr);
}

TEST(ScreenGrabber, RecognisesWaylandSessions) {
    struct Case {
        const char* platform;
        const char* sessionType;
        const char* waylandDisplay;
        bool wayland;
    };
    const std::vector<Case> cases = {
        {"wayland", "wayland", "wayland-0", true},
        {"wayland-egl", "", "", true},
        {"xcb", "wayland", "wayland-0", true},  // through the compositor's X server
        {"xcb", "x11", "", false},
        {"xcb", "", "", false},
        {"xcb", "wayland", "", false},          // X server of its own (e.g. a virtual one)
        {"offscreen", "wayland", "wayland-0", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(qel::ui::isWaylandSession(c.platform, c.sessionType, c.waylandDisplay), c.wayland)
            << c.platform << " " << c.sessionType << " " << c.waylandDisplay;
}

}  // namespace
}  // namespace qel::test
