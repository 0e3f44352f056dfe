#include "gui/commands/capture/my_chap_wnd.h"

#include <QKeyEvent>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

#include "core/geometry/screen_grab.h"

MyChapWnd::MyChapWnd(const QImage& screen, const QRect& screenGeometry)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), screen_(screen) {
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setCursor(Qt::CrossCursor);
    setFocusPolicy(Qt::StrongFocus);
    setGeometry(screenGeometry);
}

QRect MyChapWnd::pictureRect(const QRect& r) const {
    const qreal ratio = screen_.isNull() ? 1.0 : screen_.devicePixelRatio();
    if (ratio == 1.0) return r;
    const auto scaled = [ratio](int v) { return static_cast<int>(std::lround(v * ratio)); };
    return QRect(scaled(r.x()), scaled(r.y()), scaled(r.width()), scaled(r.height()));
}

void MyChapWnd::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!screen_.isNull()) painter.drawImage(QPointF(0, 0), screen_);
    if (!dragging_) return;
    // The band over the shown picture; the capture reads the picture, not the window.
    const QRect band = QRect(QPoint(m_x, m_y), pointer_).normalized();
    painter.setPen(QPen(Qt::white, 1));
    painter.drawRect(band);
    painter.setPen(QPen(Qt::black, 1, Qt::DashLine));
    painter.drawRect(band);
}

void MyChapWnd::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint p = event->position().toPoint();
    m_x = p.x();
    m_y = p.y();
    pointer_ = p;
    dragging_ = true;
    update();
}

void MyChapWnd::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) return;
    pointer_ = event->position().toPoint();
    update();
}

void MyChapWnd::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint p = event->position().toPoint();
    const qel::CaptureRect r = qel::captureRectangle(m_x, m_y, p.x(), p.y());
    m_x = r.x;
    m_y = r.y;
    m_cx = r.cx;
    m_cy = r.cy;
    dragging_ = false;
    // The view takes the picture and disposes of this window.
    if (isSignalConnected(QMetaMethod::fromSignal(&MyChapWnd::rectangleChosen)))
        emit rectangleChosen(QRect(m_x, m_y, m_cx, m_cy));
    else
        close();
}

void MyChapWnd::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}
