#include "gui/commands/capture/screen_grabber.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

namespace qel::ui {

namespace {
std::unique_ptr<ScreenGrabber>& current() {
    static std::unique_ptr<ScreenGrabber> grabber = std::make_unique<QtScreenGrabber>();
    return grabber;
}
}  // namespace

ScreenGrabber& screenGrabber() { return *current(); }

std::unique_ptr<ScreenGrabber> installScreenGrabber(std::unique_ptr<ScreenGrabber> grabber) {
    auto previous = std::move(current());
    current() = grabber ? std::move(grabber) : std::make_unique<QtScreenGrabber>();
    return previous;
}

bool isWaylandSession(const QString& platformName, const QByteArray& sessionType, const QByteArray& waylandDisplay) {
    if (platformName.startsWith(QLatin1String("wayland"), Qt::CaseInsensitive)) return true;
    // An X11 program under a Wayland compositor: both markers of the session are present.
    return platformName == QLatin1String("xcb") && sessionType.trimmed().toLower() == "wayland" &&
           !waylandDisplay.isEmpty();
}

QString waylandCaptureMessage() {
    return QStringLiteral("画面キャプチャには X11 のセッションが必要です。\n"
                          "Wayland のセッションでは画面の内容を読み取れないため、取り込めません。");
}

QString QtScreenGrabber::unavailableReason() const {
    if (isWaylandSession(QGuiApplication::platformName(), qgetenv("XDG_SESSION_TYPE"), qgetenv("WAYLAND_DISPLAY")))
        return waylandCaptureMessage();
    return {};
}

QImage QtScreenGrabber::grab(QScreen* screen) {
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return {};
    return screen->grabWindow(0).toImage();
}

}  // namespace qel::ui
