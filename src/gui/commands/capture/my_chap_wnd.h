// MyChapWnd: the borderless window a screen capture puts over the whole
// screen. It shows the screen as it was when the capture began (a desktop need
// not keep the old picture under a window), so the rectangle is taken from that
// picture. The left button's press and release give opposite corners, in
// either direction; a dashed band follows the pointer while the button is held
// and is never part of the captured pixels. On release it announces the
// rectangle (rectangleChosen) to whoever still listens; Escape or closing the window ends the capture without a picture.
#pragma once

#include <QImage>
#include <QRect>
#include <QWidget>
#include <cstdint>

class MyChapWnd : public QWidget {
    Q_OBJECT
public:
    // `screen` is the picture of the screen whose area is `screenGeometry` (in the screen picture's
    // logical pixels).
    MyChapWnd(const QImage& screen, const QRect& screenGeometry);

    // The rectangle: first the press point, after the release the top-left corner and the size, in
    // window coordinates (the window covers the screen, so these are screen coordinates).
    int32_t m_x = 0;
    int32_t m_y = 0;
    int32_t m_cx = 0;
    int32_t m_cy = 0;

    // The screen as it was when the capture began.
    const QImage& screenPicture() const { return screen_; }
    // The rectangle in the screen picture's device pixels.
    QRect pictureRect(const QRect& windowRect) const;

signals:
    // The released rectangle, in window coordinates; the receiver disposes of the window. Without a
    // receiver the window closes itself.
    void rectangleChosen(const QRect& rect);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QImage screen_;
    bool dragging_ = false;
    QPoint pointer_;
};
