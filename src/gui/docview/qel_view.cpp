// The view: painting at zoom, scrolling, pointer position, the command pattern
// and command dispatch.
#include "gui/docview/qel_view.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolButton>
#include <QWheelEvent>
#include <cmath>
#include <new>

#include "core/commands/command_table.h"
#include "core/ops/operation.h"
#include "core/ops/runner.h"
#include "gui/docview/view_commands.h"
#include "gui/kit/dialog_service.h"
#include "gui/docview/qel_doc.h"
#include "gui/kit/qt_bitmap.h"

using qel::ui::Buttons;
using qel::ui::dialogs;
using qel::ui::Icon;

WaitCursor::WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
WaitCursor::~WaitCursor() { QApplication::restoreOverrideCursor(); }

namespace {
// A split box: the small button at the start of a scroll bar that splits the pane. A click splits in
// the middle; a drag splits where it is dropped.
class SplitBox : public QToolButton {
public:
    SplitBox(CQelView* view, Qt::Orientation orientation) : QToolButton(view), view_(view), orientation_(orientation) {
        setAutoRaise(false);
        setFocusPolicy(Qt::NoFocus);
        setFixedSize(orientation == Qt::Vertical ? QSize(16, 6) : QSize(6, 16));
        setCursor(orientation == Qt::Vertical ? Qt::SplitVCursor : Qt::SplitHCursor);
        setToolTip(orientation == Qt::Vertical ? QStringLiteral("上下に分割") : QStringLiteral("左右に分割"));
        connect(this, &QToolButton::clicked, view, [view, orientation] { emit view->splitRequested(orientation); });
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        pressedAt_ = event->globalPosition().toPoint();
        QToolButton::mousePressEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        const QPoint at = event->globalPosition().toPoint();
        const QPoint moved = at - pressedAt_;
        const int distance = orientation_ == Qt::Vertical ? moved.y() : moved.x();
        if (event->button() == Qt::LeftButton && std::abs(distance) >= QApplication::startDragDistance()) {
            setDown(false);
            event->accept();
            emit view_->splitDropped(orientation_, at);
            return;
        }
        QToolButton::mouseReleaseEvent(event);
    }

private:
    CQelView* view_;
    Qt::Orientation orientation_;
    QPoint pressedAt_;
};

QToolButton* makeSplitBox(CQelView* view, Qt::Orientation orientation) { return new SplitBox(view, orientation); }
}  // namespace

CQelView::CQelView(CQelDoc* document, QWidget* parent) : QAbstractScrollArea(parent), document_(document) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    addScrollBarWidget(makeSplitBox(this, Qt::Vertical), Qt::AlignTop);
    addScrollBarWidget(makeSplitBox(this, Qt::Horizontal), Qt::AlignLeft);
    viewport()->setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(10, 10);
    if (document_) {
        document_->addView(this);
        connect(document_, &CQelDoc::pictureChanged, this, &CQelView::refresh);
        connect(document_, &CQelDoc::sizeChanged, this, &CQelView::updateScrollSizesForZoom);
    }
    qel::ui::viewCommands().setUp(*this);
    updateScrollSizesForZoom();
}

CQelView::~CQelView() {
    // Closing the palette window first ends a check-colour preview it may show in the picture.
    if (paletteWindow && paletteWindow->isVisible()) paletteWindow->close();
    delete paletteWindow;
    delete captureWindow;
    if (document_) document_->removeView(this);
}

// ---------------------------------------------------------------- painting

CQelView::RefreshRects CQelView::refreshRects(int32_t width, int32_t height, float zoom, int px, int py) {
    const double z = zoom;
    RefreshRects r;
    r.destination = QRect(0, 0, static_cast<int>(std::trunc(width * z - px)), static_cast<int>(std::trunc(height * z - py)));
    r.source = QRect(static_cast<int>(std::trunc(px / z)), static_cast<int>(std::trunc(py / z)),
                     static_cast<int>(std::trunc(width - px / z)), static_cast<int>(std::trunc(height - py / z)));
    return r;
}

CQelView::RefreshRects CQelView::currentRefreshRects() const {
    const QPoint p = scrollPosition();
    const int32_t w = document_ ? document_->imageWidth : 0;
    const int32_t h = document_ ? document_->imageHeight : 0;
    return refreshRects(w, h, zoom, p.x(), p.y());
}

void CQelView::refresh() { viewport()->update(); }

void CQelView::eraseClient() { viewport()->update(); }

void CQelView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), Qt::white);
    if (!document_ || !document_->bitmap) return;
    const RefreshRects r = currentRefreshRects();
    if (r.destination.width() <= 0 || r.destination.height() <= 0 || r.source.width() <= 0 || r.source.height() <= 0)
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(QRectF(r.destination), qel::ui::wrapImage(*document_->bitmap), QRectF(r.source));
}

// ---------------------------------------------------------------- scrolling and zoom

void CQelView::setScrollSizes(int width, int height) {
    scrollSize_ = QSize(std::max(width, 0), std::max(height, 0));
    updateScrollBars();
    viewport()->update();
}

void CQelView::updateScrollSizesForZoom() {
    if (document_ && document_->bitmap)
        setScrollSizes(static_cast<int>(std::trunc(document_->imageWidth * double(zoom))),
                       static_cast<int>(std::trunc(document_->imageHeight * double(zoom))));
    else if (document_)
        setScrollSizes(document_->scrollWidth, document_->scrollHeight);
}

void CQelView::updateScrollBars() {
    const QSize page = viewport()->size();
    QScrollBar* h = horizontalScrollBar();
    QScrollBar* v = verticalScrollBar();
    h->setRange(0, std::max(0, scrollSize_.width() - page.width()));
    v->setRange(0, std::max(0, scrollSize_.height() - page.height()));
    // The framework's steps: a page is a tenth of the scroll size, a line a tenth of a page.
    h->setPageStep(std::max(1, scrollSize_.width() / 10));
    v->setPageStep(std::max(1, scrollSize_.height() / 10));
    h->setSingleStep(std::max(1, scrollSize_.width() / 100));
    v->setSingleStep(std::max(1, scrollSize_.height() / 100));
}

QPoint CQelView::scrollPosition() const {
    return QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

void CQelView::setScrollPosition(const QPoint& position) {
    horizontalScrollBar()->setValue(position.x());
    verticalScrollBar()->setValue(position.y());
}

void CQelView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void CQelView::scrollContentsBy(int, int) { viewport()->update(); }

void CQelView::setZoom(float newZoom) {
    if (newZoom < kMinZoom || newZoom > kMaxZoom) return;  // stays at the bound
    zoom = newZoom;
    updateScrollSizesForZoom();
    eraseClient();
    refresh();
    emit infoText(pointerInfo());
}

void CQelView::zoomIn() { setZoom(zoom * 2.0f); }

void CQelView::zoomOut() { setZoom(zoom * 0.5f); }

// ---------------------------------------------------------------- input

void CQelView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    emit statusText(QString::asprintf("(%d,%d)", p.x(), p.y()));
    emit infoText(pointerInfo(p));
    QAbstractScrollArea::mouseMoveEvent(event);
}

QString CQelView::pointerInfo(std::optional<QPoint> position) const {
    QString text = QString::number(double(zoom) * 100.0, 'g', 6) + QLatin1Char('%');
    if (!position || !document_ || !document_->bitmap || !document_->image) return text;
    const QPoint scrolled = *position + scrollPosition();
    const int x = static_cast<int>(std::floor(scrolled.x() / double(zoom)));
    const int y = static_cast<int>(std::floor(scrolled.y() / double(zoom)));
    const qel::DibImage& image = *document_->image;
    const auto h = image.header();
    if (x < 0 || y < 0 || x >= h.biWidth || y >= h.biHeight || !image.pixelRowsPresent()) return text;
    const qel::Rgb c = image.colourAt(x, y);
    text += QStringLiteral("   %1, %2  %3 %4 %5").arg(x).arg(y).arg(c.r).arg(c.g).arg(c.b);
    if (h.biBitCount <= 8) text += QStringLiteral("  [%1]").arg(image.indexAt(x, y));
    return text;
}

void CQelView::wheelEvent(QWheelEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier)) return QAbstractScrollArea::wheelEvent(event);
    const int delta = event->angleDelta().y();
    if (document_ && document_->bitmap && delta != 0) {
        // The picture point under the pointer stays under it: the scroll position follows the zoom.
        const QPoint at = event->position().toPoint();
        const QPoint content = at + scrollPosition();
        const float before = zoom;
        if (delta > 0) zoomIn();
        else zoomOut();
        const double scale = double(zoom) / double(before);
        setScrollPosition(QPoint(static_cast<int>(std::floor(content.x() * scale)) - at.x(),
                                 static_cast<int>(std::floor(content.y() * scale)) - at.y()));
        // The readout names what is under the pointer now, without waiting for the mouse to move.
        emit infoText(pointerInfo(at));
    }
    event->accept();
}

void CQelView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        setFocus(Qt::MouseFocusReason);
        event->accept();  // a left click changes nothing
        return;
    }
    QAbstractScrollArea::mousePressEvent(event);
}

void CQelView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        emit pictureDoubleClicked(event->position().toPoint());
        event->accept();
        return;
    }
    QAbstractScrollArea::mouseDoubleClickEvent(event);
}

void CQelView::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() & Qt::KeypadModifier) {
        if (event->key() == Qt::Key_Plus && document_ && document_->bitmap) zoomIn();
        else if (event->key() == Qt::Key_Minus && document_ && document_->bitmap) zoomOut();
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void CQelView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    emit activated(this);
    emit infoText(pointerInfo());
}

// ---------------------------------------------------------------- the command pattern

void CQelView::showMemoryShortage() {
    dialogs().message(this, QStringLiteral("メモリーが不足しています。"), QStringLiteral("エラー"), Buttons::Ok, Icon::Error);
}

bool CQelView::runImageCommand(const ImageOperation& operation, const CommandOptions& options) {
    if (!operation) return false;
    return runPictureCommand(
        [&](qel::DibImage& image, const std::function<void()>& snapshot) {
            snapshot();
            return operation(image);
        },
        options);
}

bool CQelView::runPictureCommand(const std::function<qel::OpResult(qel::DibImage&, const std::function<void()>&)>& operation,
                                 const CommandOptions& options) {
    if (!document_) return false;
    qel::DibImage& image = *document_->image;
    bool snapshot = false;
    const std::function<void()> take = [&] { snapshot = takeSnapshot(); };
    bool outOfMemory = false;
    bool changed = false;
    {
        WaitCursor wait;
        try {
            // Unchanged and refused alike leave the picture in place; the window shows no reason.
            changed = operation(image, take).isChanged();
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
            // The operation may have changed part of the record before it ran short: the snapshot puts the
            // picture back as it was. When even that finds no memory, the record stays as the operation left it.
            if (snapshot) {
                try {
                    image.restoreFrom(*undoInfo, *undoBits);
                } catch (const std::bad_alloc&) {
                }
            }
        }
    }
    // The document paints what the image now holds.
    document_->bitmap = image.displayBitmap.get();
    if (outOfMemory) showMemoryShortage();
    const auto h = image.header();
    if (document_->bitmap && (h.biWidth != document_->imageWidth || h.biHeight != document_->imageHeight)) {
        document_->setSizesFromHeader();  // every view takes the new scroll sizes
    }
    if (changed) document_->setModified(true);
    if (options.thinned) thinned = *options.thinned;
    if (options.announce && !outOfMemory)
        dialogs().message(this, QStringLiteral("終了しました"), QStringLiteral("メッセージ"), Buttons::Ok, Icon::Information);
    document_->updateAllViews();
    emit commandFinished();
    return !outOfMemory;
}

bool CQelView::runOperation(int id, std::any value, std::ostream* out) {
    const qel::Operation* op = qel::operationForCommand(id);
    if (!op || !document_) return false;
    CommandOptions options = qel::ui::commandOptions(id);
    options.thinned.reset();  // the runner sets the flag as the operation's effect says
    return runPictureCommand(
        [&](qel::DibImage& image, const std::function<void()>& snapshot) {
            qel::PictureState state;
            state.thinned = thinned != 0;
            state.random = document_->random;
            qel::RunRequest request{.image = image, .state = state, .out = out, .snapshot = snapshot};
            const qel::RunResult done = qel::runOperation(*op, std::move(value), request);
            document_->random = state.random;
            thinned = state.thinned ? 1 : 0;
            return done.result;
        },
        options);
}

// ---------------------------------------------------------------- dispatch

bool CQelView::hasHandler(int id) const { return qel::ui::viewCommands().find(id) != nullptr; }

bool CQelView::runCommand(int id) {
    const qel::ui::ViewCommands::Handler* handler = qel::ui::viewCommands().find(id);
    if (!handler) return false;
    (*handler)(*this);
    emit commandFinished();
    return true;
}

// ---------------------------------------------------------------- the registry

namespace qel::ui {

ViewCommands& viewCommands() {
    static ViewCommands commands;
    return commands;
}

CQelView::CommandOptions commandOptions(int id) {
    CQelView::CommandOptions options;
    if (const cmd::Command* c = cmd::findCommand(id)) {
        options.announce = c->announce;
        if (c->thinned != cmd::Thinned::Keep) options.thinned = c->thinned == cmd::Thinned::Set ? 1 : 0;
    }
    return options;
}

void ViewCommands::addOperations() {
    for (const Operation* op : operations()) {
        const int id = commandOf(*op);
        if (cmd::findCommand(id) && op->arg.kind == OperationArg::Kind::None && !find(id))
            add(id, [id](CQelView& view) { view.runOperation(id); });
    }
}

void registerViewCommands(ViewCommands& commands) {
    using namespace qel::cmd;
    commands.add(ID_EDIT_UNDO, [](CQelView& v) { v.onEditUndo(); });
    commands.add(ID_EDIT_REDO, [](CQelView& v) { v.onEditRedo(); });
    commands.add(ID_EDIT_COPY, [](CQelView& v) { v.onEditCopy(); });
    commands.add(ID_EDIT_PASTE, [](CQelView& v) { v.onEditPaste(); });
    commands.add(ID_ZOOM_IN, [](CQelView& v) { v.onZoomIn(); });
    commands.add(ID_ZOOM_OUT, [](CQelView& v) { v.onZoomOut(); });
    commands.add(ID_IMAGE_INFO, [](CQelView& v) { v.onImageInfo(); });
    commands.add(ID_FILE_PRINT, [](CQelView& v) { v.onFilePrint(); });
    commands.add(ID_FILE_PRINT_PREVIEW, [](CQelView& v) { v.onFilePrintPreview(); });
}

}  // namespace qel::ui
