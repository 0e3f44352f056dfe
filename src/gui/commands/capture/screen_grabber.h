// ScreenGrabber: how a screen capture gets the screen's picture. The program
// uses the one installed here (QScreen by default); tests install one that
// returns a known picture.
#pragma once

#include <QImage>
#include <QString>
#include <memory>

class QScreen;

namespace qel::ui {

class ScreenGrabber {
public:
    virtual ~ScreenGrabber() = default;
    // Why this session cannot capture the screen, as a message for the user; empty when it can.
    virtual QString unavailableReason() const = 0;
    // The whole screen as it looks now, in device pixels with the screen's device pixel ratio set
    // on the image; a null image when the screen cannot be read.
    virtual QImage grab(QScreen* screen) = 0;
    // How long to let the desktop redraw (the menu that started the capture closing) before grabbing.
    virtual int settleMilliseconds() const { return 0; }
};

// The grabber in use; a QtScreenGrabber until another is installed.
ScreenGrabber& screenGrabber();
// Installs a grabber (null: the Qt one) and returns the previous one.
std::unique_ptr<ScreenGrabber> installScreenGrabber(std::unique_ptr<ScreenGrabber> grabber);

// A Wayland session does not let a program read the screen: the Wayland platform itself, or the X11
// platform under a Wayland compositor (its root window shows black where Wayland windows are).
bool isWaylandSession(const QString& platformName, const QByteArray& sessionType, const QByteArray& waylandDisplay);

// The message shown instead of capturing on a Wayland session.
QString waylandCaptureMessage();

// Reads the screen through QScreen::grabWindow.
class QtScreenGrabber : public ScreenGrabber {
public:
    QString unavailableReason() const override;
    QImage grab(QScreen* screen) override;
    int settleMilliseconds() const override { return 250; }
};

}  // namespace qel::ui
