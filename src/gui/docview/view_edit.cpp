// Undo and redo, clipboard copy and paste, image information and printing.
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QMimeData>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QUrl>
#include <cmath>
#include <new>

#include "gui/docview/view_commands.h"
#include "gui/kit/dialog_service.h"
#include "gui/docview/qel_doc.h"
#include "core/formats/bmp_file.h"
#include "core/image/image_info.h"
#include "gui/docview/qel_view.h"
#include "gui/kit/qt_bitmap.h"

using qel::ui::Buttons;
using qel::ui::dialogs;
using qel::ui::Icon;

namespace {
std::function<void(size_t)>& allocationHook() {
    static std::function<void(size_t)> hook;
    return hook;
}

using Block = std::optional<std::vector<uint8_t>>;
using PixelBlock = std::optional<qel::PixelBytes>;

// Keeps a copy of both blocks of the record, biSizeImage set to the pixel block's size first.
// False, with both copies dropped, when memory runs short.
bool copyBlocks(qel::DibImage& image, Block& info, PixelBlock& bits) {
    info.reset();
    bits.reset();
    try {
        if (allocationHook()) {
            allocationHook()(image.info.size());
            allocationHook()(image.bits.size());
        }
        image.stampSizeImage();
        std::vector<uint8_t> infoCopy = image.info;
        qel::PixelBytes bitsCopy = image.bits;
        info = std::move(infoCopy);
        bits = std::move(bitsCopy);
    } catch (const std::bad_alloc&) {
        info.reset();
        bits.reset();
        return false;
    }
    return true;
}

// Puts stored blocks back as the document's picture; false when memory runs short, the picture as it was.
bool restoreBlocks(CQelDoc& doc, const std::vector<uint8_t>& info, const qel::PixelBytes& bits) {
    try {
        const qel::DisplayBitmap* restored = doc.image->restoreFrom(info, bits);
        doc.bitmap = restored ? restored : doc.image->displayBitmap.get();
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void showMessage(QWidget* owner, const char* text, const char* title) {
    dialogs().message(owner, QString::fromUtf8(text), QString::fromUtf8(title), Buttons::Ok, Icon::Warning);
}

// The picture on the clipboard: an image, or a picture file of any readable format named by a URL
// list (a file copied in a file manager). Null when there is none or it is larger than any picture
// the program holds.
std::unique_ptr<qel::DisplayBitmap> clipboardBitmap() {
    const QMimeData* data = QApplication::clipboard()->mimeData();
    if (!data) return nullptr;
    std::unique_ptr<qel::DisplayBitmap> bitmap;
    if (data->hasImage()) {
        const QImage image = qvariant_cast<QImage>(data->imageData());
        // Checked before converting: a huge clipboard image must not be copied at all.
        if (image.isNull() || !qel::sizeWithinLimits(image.width(), image.height())) return nullptr;
        bitmap = qel::ui::displayBitmapFromImage(image);
    } else if (data->hasUrls()) {
        for (const QUrl& url : data->urls()) {
            if (!url.isLocalFile()) continue;
            qel::DibImage file;
            if (file.loadFile(QFile::encodeName(url.toLocalFile()).toStdString()) && file.displayBitmap) {
                bitmap = std::move(file.displayBitmap);
                break;
            }
        }
    }
    if (bitmap && (bitmap->width <= 0 || bitmap->height <= 0 || !qel::sizeWithinLimits(bitmap->width, bitmap->height)))
        return nullptr;
    return bitmap;
}
}  // namespace

void CQelView::setAllocationHookForTesting(std::function<void(size_t)> hook) { allocationHook() = std::move(hook); }

// ---------------------------------------------------------------- undo and redo

bool CQelView::takeSnapshot() {
    if (!document_) return false;
    // The picture is about to change, so what redo would bring back is gone even when no copy is kept;
    // its blocks go before the copy is made, so a large picture is never held four times.
    undoState = 0;
    redoInfo.reset();
    redoBits.reset();
    if (copyBlocks(*document_->image, undoInfo, undoBits)) return true;
    showMemoryShortage();
    return false;
}

bool CQelView::canUndo() const {
    return undoInfo && undoBits && undoState != 1 && !qel::ui::viewCommands().holdsUndo(*this);
}

bool CQelView::canRedo() const {
    return redoInfo && redoBits && undoState != 0 && !qel::ui::viewCommands().holdsUndo(*this);
}

void CQelView::onEditUndo() {
    if (!document_ || !canUndo()) return;
    qel::DibImage& image = *document_->image;
    if (!copyBlocks(image, redoInfo, redoBits)) {
        showMemoryShortage();
        return;
    }
    if (!restoreBlocks(*document_, *undoInfo, *undoBits)) {
        showMemoryShortage();
        return;
    }
    undoState = 1;
    afterRestore();
}

void CQelView::onEditRedo() {
    if (!document_ || !canRedo()) return;
    if (!restoreBlocks(*document_, *redoInfo, *redoBits)) {
        showMemoryShortage();
        return;
    }
    undoState = 0;
    afterRestore();
}

void CQelView::afterRestore() {
    document_->setModified(true);
    const auto h = document_->image->header();
    document_->imageWidth = h.biWidth;
    document_->imageHeight = h.biHeight;
    document_->scrollWidth = static_cast<int32_t>(std::trunc(document_->imageWidth * double(zoom)));
    document_->scrollHeight = static_cast<int32_t>(std::trunc(document_->imageHeight * double(zoom)));
    setScrollSizes(document_->scrollWidth, document_->scrollHeight);
    for (CQelView* v : document_->views())
        if (v != this) v->updateScrollSizesForZoom();
    eraseClient();
    document_->updateAllViews();
    emit commandFinished();
}

// ---------------------------------------------------------------- clipboard

void CQelView::onEditCopy() {
    if (!document_ || !document_->bitmap) {
        showMessage(this, "オブジェクトがありません。", "erorr");
        return;
    }
    const qel::DisplayBitmap& bm = *document_->bitmap;
    const int w = std::clamp<int>(document_->imageWidth, 0, bm.width);
    const int h = std::clamp<int>(document_->imageHeight, 0, bm.height);
    QApplication::clipboard()->setImage(qel::ui::wrapImage(bm).copy(0, 0, w, h));
}

void CQelView::onEditPaste() {
    if (!document_) return;
    if (document_->bitmap) {
        showMessage(this, "すでにオブジェクトが存在しています。", "erorr");
        return;
    }
    std::unique_ptr<qel::DisplayBitmap> copy;
    bool outOfMemory = false;
    try {
        copy = clipboardBitmap();
        if (copy) {
            WaitCursor wait;
            // The picture record the paste makes: 24-bit rows and the display raster beside them.
            if (allocationHook()) allocationHook()(size_t(copy->width) * size_t(copy->height) * 7);
            document_->pasteBitmap(copy.get());  // every view takes the new scroll sizes
        }
    } catch (const std::bad_alloc&) {
        // A picture too large for the memory left: the document stays empty.
        outOfMemory = true;
        document_->image->clear();
        document_->bitmap = nullptr;
    }
    if (outOfMemory) {
        showMemoryShortage();
        return;
    }
    if (!copy) {
        showMessage(this, "貼り付けが出来ません。", "erorr");
        return;
    }
    if (document_->bitmap) document_->setModified(true);
    document_->updateAllViews();
    emit commandFinished();
}

// ---------------------------------------------------------------- image information

void CQelView::onImageInfo() {
    if (!document_ || !document_->bitmap) {
        dialogs().message(this, QStringLiteral("画像がありません。"), QStringLiteral("画面情報"), Buttons::Ok,
                          Icon::Information);
        return;
    }
    const qel::DibImage& image = *document_->image;
    const std::string text =
        qel::imageInformationText(document_->imageHeight, document_->imageWidth, image.bitsSize(), image.bitCount());
    dialogs().message(this, QString::fromStdString(text), QStringLiteral("画像情報"), Buttons::Ok, Icon::Information);
}

// ---------------------------------------------------------------- printing

QPrinter& CQelView::sharedPrinter() {
    static QPrinter printer(QPrinter::HighResolution);
    return printer;
}

bool CQelView::printPicture(QPaintDevice& page) {
    QPainter painter;
    if (!painter.begin(&page)) return false;
    if (document_ && document_->bitmap && page.width() > 0 && page.height() > 0) {
        const qel::DisplayBitmap& bm = *document_->bitmap;
        const int w = std::clamp<int>(document_->imageWidth, 0, bm.width);
        const int h = std::clamp<int>(document_->imageHeight, 0, bm.height);
        // Each pixel is 4 x 4 dots of a 300-dpi page: 75 pixels to the inch, whatever the device's
        // resolution; a picture larger than the printable area is scaled down to fit it.
        const double across = w * page.logicalDpiX() / 75.0, down = h * page.logicalDpiY() / 75.0;
        const double fit = across > 0 && down > 0 ? std::min({1.0, page.width() / across, page.height() / down}) : 1.0;
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(QRectF(0, 0, across * fit, down * fit), qel::ui::wrapImage(bm), QRectF(0, 0, w, h));
    }
    return painter.end();
}

void CQelView::onFilePrint() {
    QPrinter& printer = sharedPrinter();
    if (dialogs().choosePrinter(this, printer, qel::ui::PrinterDialog::Print)) printPicture(printer);
}

void CQelView::onFilePrintPreview() {
    QPrintPreviewDialog preview(&sharedPrinter(), this);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter* p) { printPicture(*p); });
    preview.exec();
}
