// CQelView: one pane showing a document's picture at a zoom factor. It owns
// the per-pane state the commands need (zoom, the one-level undo store, the
// palette and capture windows, the thinned flag, what families keep per view) and
// runs every image command. The command families register their handlers in
// view_commands.h; the view itself handles undo, redo, the clipboard, zoom,
// image information and printing.
//
// A command that is one core operation needs no code here: its descriptor registers it. A command
// with a dialog collects the values and runs the same operation:
//     view.runOperation(cmd::ID_STRAIGHTEN, int32_t(dlg.m_length));
#pragma once

#include <QAbstractScrollArea>
#include <QRect>
#include <QString>
#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <typeindex>
#include <vector>

#include "core/image/dib_image.h"

class CQelDoc;
class QPaintDevice;
class QPrinter;

// Shows the wait cursor while it lives.
class WaitCursor {
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

class CQelView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit CQelView(CQelDoc* document, QWidget* parent = nullptr);
    ~CQelView() override;

    CQelDoc* document() const { return document_; }

    // --- undo store ---
    std::optional<std::vector<uint8_t>> undoInfo;
    std::optional<std::vector<uint8_t>> redoInfo;
    std::optional<qel::PixelBytes> undoBits;
    std::optional<qel::PixelBytes> redoBits;
    // --- windows owned by the view: the palette window (CPaletteDlg) exists for the view's life once the
    // colour commands' set-up has made it; the capture window only while a capture runs ---
    QWidget* paletteWindow = nullptr;
    QWidget* captureWindow = nullptr;
    int32_t thinned = 0;
    int32_t undoState = 0;  // 0 undo offered, 1 redo offered
    float zoom = 1.0f;
    // State a command family keeps for each view (the transform's remembered settings), made on first use.
    template <class T>
    T& familyState() {
        std::shared_ptr<void>& slot = familyStates_[std::type_index(typeid(T))];
        if (!slot) slot = std::make_shared<T>();
        return *static_cast<T*>(slot.get());
    }

    // Zoom runs through powers of two within these bounds.
    static constexpr float kMinZoom = 1.0f / 256.0f;
    static constexpr float kMaxZoom = 64.0f;

    // --- operations offered to every command ---
    // Repaints the picture at the current zoom and scroll position.
    void refresh();
    // Clears the whole client area to white (the next repaint does it).
    void eraseClient();
    // Says "メモリーが不足しています。".
    void showMemoryShortage();
    // Copies the picture into the undo store; false (after the memory message) when it cannot.
    bool takeSnapshot();

    struct CommandOptions {
        bool announce = false;          // show "終了しました" when done
        std::optional<int32_t> thinned; // new value of the thinned flag
    };
    using ImageOperation = std::function<qel::OpResult(qel::DibImage&)>;
    // The picture-changing command: snapshot, operation on the document's image, store the image's display
    // bitmap in the document, new sizes for the document and every view when the size changed,
    // thinned flag, optional announcement, repaint of every view of the document.
    bool runImageCommand(const ImageOperation& operation, const CommandOptions& options);
    bool runImageCommand(const ImageOperation& operation) { return runImageCommand(operation, CommandOptions{}); }
    // The same for an operation that takes the snapshot itself, through the function it is given.
    bool runPictureCommand(const std::function<qel::OpResult(qel::DibImage&, const std::function<void()>&)>& operation,
                           const CommandOptions& options);
    // Runs the operation that is menu command `id` as that command through the core's runner, with the
    // value its dialog collected (see qel::runOperation): the snapshot when the operation takes one, the
    // document's random sequence, the view's thinned flag; what it prints (deskew's tilt) goes to `out`.
    bool runOperation(int id, std::any value = {}, std::ostream* out = nullptr);

    // --- zoom and scrolling ---
    void zoomIn();
    void zoomOut();
    void setScrollSizes(int width, int height);
    QSize scrollSizes() const { return scrollSize_; }
    // Scroll size = picture size x zoom (the document's start size for an empty document).
    void updateScrollSizesForZoom();
    QPoint scrollPosition() const;
    // The second status pane: the zoom ("200%") and, for a pointer position in the pane over the picture,
    // the picture position and its colour ("200%   3, 1  255 0 0", indexed pictures add "[index]").
    QString pointerInfo(std::optional<QPoint> position = std::nullopt) const;
    void setScrollPosition(const QPoint& position);

    struct RefreshRects {
        QRect destination;
        QRect source;
    };
    // The stretched copy that paints a W x H picture at zoom z from scroll position (px, py).
    static RefreshRects refreshRects(int32_t width, int32_t height, float zoom, int px, int py);
    RefreshRects currentRefreshRects() const;

    // --- undo state ---
    bool canUndo() const;
    bool canRedo() const;
    // Undo and redo are offered only while no family holds them (the open palette window does).

    // --- printing: the picture at 75 pixels per inch (each pixel 4 x 4 dots of a 300-dpi page) at the
    // printable area's top left, scaled down to fit it when larger ---
    bool printPicture(QPaintDevice& page);
    static QPrinter& sharedPrinter();

    // --- commands: the handlers registered in viewCommands() ---
    bool hasHandler(int id) const;
    bool runCommand(int id);

    // Tests make the undo store's allocations fail: the hook is called with each block size and may throw
    // std::bad_alloc. Null removes it.
    static void setAllocationHookForTesting(std::function<void(size_t)> hook);

public slots:
    // The view's own commands.
    void onEditUndo();
    void onEditRedo();
    void onEditCopy();
    void onEditPaste();
    void onZoomIn() { zoomIn(); }
    void onZoomOut() { zoomOut(); }
    void onImageInfo();
    void onFilePrint();
    void onFilePrintPreview();

signals:
    // A command ended: the frame refreshes the enabling of commands.
    void commandFinished();
    // The pane got the focus and is the active view of its frame.
    void activated(CQelView* view);
    // The split box at a scroll bar was pressed.
    void splitRequested(Qt::Orientation orientation);
    // The split box was dragged and dropped at a global position.
    void splitDropped(Qt::Orientation orientation, const QPoint& globalPosition);
    // Text for the frame's message pane: the pointer position over the pane.
    void statusText(const QString& text);
    // Text for the frame's second pane: see pointerInfo.
    void infoText(const QString& text);
    // A left double click on the pane (the palette window picks the colour there).
    void pictureDoubleClicked(const QPoint& position);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // Ctrl + wheel zooms through the keypad's steps; the wheel alone scrolls.
    void wheelEvent(QWheelEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    void setZoom(float newZoom);
    void updateScrollBars();
    // After undo or redo: sizes from the restored header, scroll sizes at the zoom, repaint.
    void afterRestore();

    CQelDoc* document_;
    QSize scrollSize_{1, 1};
    std::map<std::type_index, std::shared_ptr<void>> familyStates_;
};
