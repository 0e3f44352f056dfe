// Screen capture: the command opens the capture window over the screen; the
// rectangle the user drags there becomes the empty document's picture. No undo
// snapshot is taken.
#include "gui/commands/capture/capture_commands.h"

#include <QScreen>
#include <QTimer>
#include <new>

#include "gui/kit/dialog_service.h"
#include "gui/docview/qel_doc.h"
#include "gui/commands/capture/my_chap_wnd.h"
#include "gui/commands/capture/screen_grabber.h"
#include "core/geometry/screen_grab.h"
#include "core/commands/command_table.h"
#include "gui/kit/qt_bitmap.h"

namespace qel::ui {

namespace {
// Set on the view between the command and the opening of the capture window.
constexpr char kCapturePending[] = "qelCapturePending";

void takeCapture(CQelView& view, const QRect& rect);

// Grabs the screen and puts the capture window over it.
void openCaptureWindow(CQelView* view) {
    view->setProperty(kCapturePending, false);
    if (view->captureWindow || !view->document() || view->document()->bitmap) return;
    QScreen* screen = view->screen();
    const QImage picture = qel::ui::screenGrabber().grab(screen);
    if (picture.isNull()) {
        qel::ui::dialogs().message(view, QStringLiteral("画面を読み取れませんでした。"), QStringLiteral("画面キャプチャ"),
                                   qel::ui::Buttons::Ok, qel::ui::Icon::Warning);
        return;
    }
    const QRect area = screen ? screen->geometry() : QRect(QPoint(0, 0), picture.deviceIndependentSize().toSize());
    auto* window = new MyChapWnd(picture, area);
    view->captureWindow = window;
    QObject::connect(window, &MyChapWnd::rectangleChosen, view, [view](const QRect& r) { takeCapture(*view, r); });
    // Escape or a close by the desktop ends the capture; the view then holds no window.
    QObject::connect(window, &QObject::destroyed, view, [view, window] {
        if (view->captureWindow == window) view->captureWindow = nullptr;
    });
    window->showFullScreen();
    window->raise();
    window->activateWindow();
}
void takeCapture(CQelView& view, const QRect& rect) {
    auto* window = qobject_cast<MyChapWnd*>(view.captureWindow);
    if (!window) return;
    view.captureWindow = nullptr;
    window->hide();
    window->deleteLater();  // we are inside its mouse handler

    CQelDoc* doc = view.document();
    const QRect r = window->pictureRect(rect);
    const qel::CaptureRect area{r.x(), r.y(), r.width(), r.height()};
    bool captured = false;
    try {
        const auto raster = displayBitmapFromImage(window->screenPicture());
        captured = qel::fromScreen(*doc->image, raster ? *raster : qel::DisplayBitmap{}, area).isChanged();
    } catch (const std::bad_alloc&) {
        doc->image->clear();
        view.showMemoryShortage();
    }
    // A rectangle without width or height leaves the document empty.
    doc->bitmap = captured ? doc->image->displayBitmap.get() : nullptr;
    if (doc->bitmap) {
        doc->setModified(true);
        const auto h = doc->image->header();
        doc->imageWidth = doc->scrollWidth = h.biWidth;
        doc->imageHeight = doc->scrollHeight = h.biHeight;
        // This view scrolls over the picture's size whatever its zoom; other views of the document
        // get the picture at their own zoom.
        for (CQelView* v : doc->views())
            if (v != &view) v->updateScrollSizesForZoom();
        view.setScrollSizes(h.biWidth, h.biHeight);
        emit doc->pictureArrived();
    }
    view.eraseClient();
    doc->updateAllViews();
    emit view.commandFinished();
}

void screenCapture(CQelView& view) {
    if (view.captureWindow) {  // a capture is already running
        view.captureWindow->raise();
        view.captureWindow->activateWindow();
        return;
    }
    if (view.property(kCapturePending).toBool()) return;
    ScreenGrabber& grabber = screenGrabber();
    const QString reason = grabber.unavailableReason();
    if (!reason.isEmpty()) {
        dialogs().message(&view, reason, QStringLiteral("画面キャプチャ"), Buttons::Ok, Icon::Warning);
        return;
    }
    // The screen is read once the menu that started the command has gone from it.
    view.setProperty(kCapturePending, true);
    QTimer::singleShot(grabber.settleMilliseconds(), &view, [v = &view] { openCaptureWindow(v); });
}

}  // namespace

void registerCaptureCommands(ViewCommands& commands) { commands.add(cmd::ID_SCREEN_CAPTURE, screenCapture); }

}  // namespace qel::ui
