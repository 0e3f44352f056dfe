// CQelView: one pane showing a document's picture at a zoom factor. It owns
// the per-pane state the commands need (zoom, the one-level undo store, the
// palette and capture windows, the thinned flag, the transform settings) and
// receives every image command. Handlers of the colour, line-art, formula,
// geometry and capture commands are defined in the files of those
// subsystems (src/<subsystem>/ui/*_commands.cpp, src/capture/capture_commands.cpp).
//
// A picture-changing command is a few lines on top of runImageCommand:
//     runImageCommand([](qel::DibImage& image) { return qel::toGrey(image); });
//     runImageCommand([&](qel::DibImage& image) { return qel::thin(image); }, {.thinned = 1});
#pragma once

#include <QAbstractScrollArea>
#include <QRect>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "core/image/dib_image.h"

class CQelDoc;
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
    std::optional<std::vector<uint8_t>> undoBits;
    std::optional<std::vector<uint8_t>> redoBits;
    // --- windows owned by the view: the palette window (CPaletteDlg) exists for the view's life once the
    // palette subsystem makes it in createPaletteWindow(); the capture window only while a capture runs ---
    QWidget* paletteWindow = nullptr;
    QWidget* captureWindow = nullptr;
    int32_t thinned = 0;
    int32_t undoState = 0;  // 0 undo offered, 1 redo offered; +100 while the palette window is open
    float zoom = 1.0f;
    // --- remembered settings of the formula transform ---
    QString formulaX = QStringLiteral("x");
    QString formulaY = QStringLiteral("y");
    QString formulaZ = QStringLiteral("0");
    float weightRed = 1.0f;
    float weightGreen = 1.0f;
    float weightBlue = 1.0f;
    int32_t inverseTransform = 1;
    int32_t keepSettings = 0;

    // Zoom runs through powers of two within these bounds.
    static constexpr float kMinZoom = 1.0f / 256.0f;
    static constexpr float kMaxZoom = 64.0f;

    // --- operations offered to every command ---
    // Repaints the picture at the current zoom and scroll position.
    void refresh();
    // Clears the whole client area to white (the next repaint does it).
    void eraseClient();
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

    // --- zoom and scrolling ---
    void zoomIn();
    void zoomOut();
    void setScrollSizes(int width, int height);
    QSize scrollSizes() const { return scrollSize_; }
    // Scroll size = picture size x zoom (the document's start size for an empty document).
    void updateScrollSizesForZoom();
    QPoint scrollPosition() const;
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
    // The palette window was shown / closed: undo and redo are offered only while it is closed.
    void paletteOpened();
    void paletteClosed();

    // --- printing: the picture at four times its pixel size at the page's top left ---
    bool printPicture(QPrinter& printer);
    static QPrinter& sharedPrinter();

    // --- commands ---
    bool hasHandler(int id) const;
    bool runCommand(int id);

    // Tests make the undo store's allocations fail: the hook is called with each block size and may throw
    // std::bad_alloc. Null removes it.
    static void setAllocationHookForTesting(std::function<void(size_t)> hook);

public slots:
    // Handlers of this subsystem.
    void onEditUndo();
    void onEditRedo();
    void onEditCopy();
    void onEditPaste();
    void onZoomIn() { zoomIn(); }
    void onZoomOut() { zoomOut(); }
    void onImageInfo();
    void onFilePrint();
    void onFilePrintPreview();
    // Colour (src/colour/ui/colour_commands.cpp).
    void onTo24Bit();
    void onTo256();
    void onTo16();
    void onToGrey();
    void onToBlackWhite();
    void onCountColours();
    void onReduce256();
    void onPalette();
    void onFitPalette();
    // Line art (src/lineart/ui/lineart_commands.cpp).
    void onThin();
    void onStraighten();
    void onTidy();
    void onTidy2();
    // Formulas (src/expr/ui/expr_commands.cpp).
    void onTransform();
    void onCalculator();
    // Geometry (src/geometry/ui/geometry_commands.cpp).
    void onScale();
    void onMix();
    void onFractal();
    // Screen capture (src/capture/capture_commands.cpp).
    void onScreenCapture();

    // A request of the palette window (colour_commands.cpp).
    void onPaletteRequest(int code);
    // The rectangle the capture window selected, in screen coordinates (capture_commands.cpp).
    void onCaptureFinished(const QRect& rect);

signals:
    // A command ended: the frame refreshes the enabling of commands.
    void commandFinished();
    // The pane got the focus and is the active view of its frame.
    void activated(CQelView* view);
    // The split box at a scroll bar was pressed.
    void splitRequested(Qt::Orientation orientation);
    // Text for the frame's message pane: the pointer position over the pane.
    void statusText(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    // Made by the palette subsystem (colour_commands.cpp); called once from the constructor.
    void createPaletteWindow();
    // Picks the colour under a double click for the palette window (colour_commands.cpp).
    void pickPaletteColour(const QPoint& position);
    void setZoom(float newZoom);
    void updateScrollBars();
    // After undo or redo: sizes from the restored header, scroll sizes at the zoom, repaint.
    void afterRestore();
    void showMemoryShortage();

    CQelDoc* document_;
    QSize scrollSize_{1, 1};
};
