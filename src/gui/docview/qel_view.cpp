// The view: painting at zoom, scrolling, pointer position, the command pattern
// and command dispatch.
#include "gui/docview/qel_view.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolButton>
#include <cmath>
#include <map>
#include <new>

#include "core/commands/command_table.h"
#include "gui/kit/dialog_service.h"
#include "gui/docview/qel_doc.h"
#include "gui/kit/qt_bitmap.h"

using qel::ui::Buttons;
using qel::ui::dialogs;
using qel::ui::Icon;

WaitCursor::WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
WaitCursor::~WaitCursor() { QApplication::restoreOverrideCursor(); }

namespace {
// A split box: the small button at the start of a scroll bar that splits the pane.
QToolButton* makeSplitBox(CQelView* view, Qt::Orientation orientation) {
    auto* box = new QToolButton(view);
    box->setAutoRaise(false);
    box->setFocusPolicy(Qt::NoFocus);
    box->setFixedSize(orientation == Qt::Vertical ? QSize(16, 6) : QSize(6, 16));
    box->setCursor(orientation == Qt::Vertical ? Qt::SplitVCursor : Qt::SplitHCursor);
    box->setToolTip(orientation == Qt::Vertical ? QStringLiteral("上下に分割") : QStringLiteral("左右に分割"));
    QObject::connect(box, &QToolButton::clicked, view, [view, orientation] { emit view->splitRequested(orientation); });
    return box;
}
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
    createPaletteWindow();
    updateScrollSizesForZoom();
}

CQelView::~CQelView() {
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
    h->setPageStep(std::max(1, page.width()));
    v->setPageStep(std::max(1, page.height()));
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
}

void CQelView::zoomIn() { setZoom(zoom * 2.0f); }

void CQelView::zoomOut() { setZoom(zoom * 0.5f); }

// ---------------------------------------------------------------- input

void CQelView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    emit statusText(QString::asprintf("(%d,%d)", p.x(), p.y()));
    QAbstractScrollArea::mouseMoveEvent(event);
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
        pickPaletteColour(event->position().toPoint());
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
}

// ---------------------------------------------------------------- the command pattern

void CQelView::showMemoryShortage() {
    dialogs().message(this, QStringLiteral("メモリーが不足しています。"), QStringLiteral("エラー"), Buttons::Ok, Icon::Error);
}

bool CQelView::runImageCommand(const ImageOperation& operation, const CommandOptions& options) {
    if (!document_ || !operation) return false;
    qel::DibImage& image = *document_->image;
    takeSnapshot();
    bool outOfMemory = false;
    {
        WaitCursor wait;
        try {
            // Unchanged and refused alike leave the picture in place; the window shows no reason.
            operation(image);
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
        }
    }
    // The document paints what the image now holds.
    document_->bitmap = image.displayBitmap.get();
    if (outOfMemory) showMemoryShortage();
    const auto h = image.header();
    if (document_->bitmap && (h.biWidth != document_->imageWidth || h.biHeight != document_->imageHeight)) {
        document_->setSizesFromHeader();  // every view takes the new scroll sizes
    }
    if (options.thinned) thinned = *options.thinned;
    if (options.announce && !outOfMemory)
        dialogs().message(this, QStringLiteral("終了しました"), QStringLiteral("メッセージ"), Buttons::Ok, Icon::Information);
    document_->updateAllViews();
    emit commandFinished();
    return !outOfMemory;
}

// ---------------------------------------------------------------- dispatch

namespace {
using Handler = void (CQelView::*)();
const std::map<int, Handler>& handlers() {
    using namespace qel::cmd;
    static const std::map<int, Handler> table = {
        {ID_EDIT_UNDO, &CQelView::onEditUndo},
        {ID_EDIT_REDO, &CQelView::onEditRedo},
        {ID_EDIT_COPY, &CQelView::onEditCopy},
        {ID_EDIT_PASTE, &CQelView::onEditPaste},
        {ID_ZOOM_IN, &CQelView::onZoomIn},
        {ID_ZOOM_OUT, &CQelView::onZoomOut},
        {ID_IMAGE_INFO, &CQelView::onImageInfo},
        {ID_FILE_PRINT, &CQelView::onFilePrint},
        {ID_FILE_PRINT_PREVIEW, &CQelView::onFilePrintPreview},
        {ID_TO_24BIT, &CQelView::onTo24Bit},
        {ID_TO_256, &CQelView::onTo256},
        {ID_TO_16, &CQelView::onTo16},
        {ID_TO_GREY, &CQelView::onToGrey},
        {ID_TO_BLACK_WHITE, &CQelView::onToBlackWhite},
        {ID_COUNT_COLOURS, &CQelView::onCountColours},
        {ID_REDUCE_256, &CQelView::onReduce256},
        {ID_PALETTE, &CQelView::onPalette},
        {ID_FIT_PALETTE, &CQelView::onFitPalette},
        {ID_THIN, &CQelView::onThin},
        {ID_STRAIGHTEN, &CQelView::onStraighten},
        {ID_TIDY, &CQelView::onTidy},
        {ID_TIDY2, &CQelView::onTidy2},
        {ID_TRANSFORM, &CQelView::onTransform},
        {ID_CALCULATOR, &CQelView::onCalculator},
        {ID_SCALE, &CQelView::onScale},
        {ID_MIX, &CQelView::onMix},
        {ID_FRACTAL, &CQelView::onFractal},
        {ID_SCREEN_CAPTURE, &CQelView::onScreenCapture},
    };
    return table;
}
}  // namespace

bool CQelView::hasHandler(int id) const { return handlers().count(id) != 0; }

bool CQelView::runCommand(int id) {
    auto it = handlers().find(id);
    if (it == handlers().end()) return false;
    (this->*(it->second))();
    emit commandFinished();
    return true;
}
