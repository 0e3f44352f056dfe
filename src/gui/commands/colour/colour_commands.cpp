// Colour commands of the view: depth conversions, colour counting, reduction,
// the palette window and fitting to the palette.
#include <QImage>
#include <QPixmap>
#include <new>

#include "gui/kit/dialog_service.h"
#include "gui/docview/qel_doc.h"
#include "core/colour/conversions.h"
#include "core/colour/palette_ops.h"
#include "core/colour/reduction.h"
#include "gui/commands/colour/palette_dlg.h"
#include "gui/commands/colour/threshold_dlg.h"
#include "gui/docview/qel_view.h"

using qel::ui::Buttons;
using qel::ui::dialogs;
using qel::ui::Icon;

namespace {

CPaletteDlg* paletteOf(const CQelView* view) { return qobject_cast<CPaletteDlg*>(view->paletteWindow); }

bool isIndexed(const CQelDoc* doc) {
    if (!doc || !doc->bitmap) return false;
    const int depth = doc->image->bitCount();
    return depth == 8 || depth == 4;
}

}  // namespace

void CQelView::onTo24Bit() {
    // The picture as the screen shows it, read back at 24 bits.
    runImageCommand(
        [this](qel::DibImage& image) {
            if (!document()->bitmap) return qel::OpResult::refused(qel::kNoPicture);
            const qel::DisplayBitmap shown = *document()->bitmap;
            image.fromBitmap(shown);
            return qel::OpResult::changed();
        },
        {.announce = true, .thinned = 0});
}

void CQelView::onTo256() {
    runImageCommand([](qel::DibImage& image) { return qel::toIndexed(image, 256); }, {.announce = true, .thinned = 0});
}

void CQelView::onTo16() {
    // The header width may change; runImageCommand then resizes the document and every view.
    runImageCommand([](qel::DibImage& image) { return qel::toIndexed(image, 16); }, {.announce = true, .thinned = 0});
}

void CQelView::onToGrey() {
    runImageCommand([](qel::DibImage& image) { return qel::toGrey(image); });
}

void CQelView::onToBlackWhite() {
    int32_t threshold = 1;
    {
        CThresholdDlg dlg;
        if (dlg.exec() != QDialog::Accepted) return;
        threshold = dlg.m_threshold;
    }
    runImageCommand([threshold](qel::DibImage& image) { return qel::toBlackWhite(image, threshold); });
}

void CQelView::onCountColours() {
    if (!document()) return;
    const int32_t count = qel::countColours(*document()->image);
    dialogs().message(this, QString::number(count), QStringLiteral("色数"), Buttons::Ok, Icon::None);
}

void CQelView::onReduce256() {
    runImageCommand([](qel::DibImage& image) { return qel::reduceColours(image); });
}

// ---------------------------------------------------------------- the palette window

void CQelView::createPaletteWindow() { paletteWindow = new CPaletteDlg(this); }

void CQelView::onPalette() {
    CPaletteDlg* dlg = paletteOf(this);
    if (!dlg || !isIndexed(document())) return;
    dlg->loadFromImage(*document()->image);
    dlg->showWindow();
    paletteOpened();
}

void CQelView::pickPaletteColour(const QPoint& position) {
    CPaletteDlg* dlg = paletteOf(this);
    if (!dlg || !isIndexed(document())) return;
    // The colour the pane shows under the pointer, whatever the zoom.
    const QImage shown = viewport()->grab(QRect(position, QSize(1, 1))).toImage();
    const QRgb c = shown.isNull() ? qRgb(255, 255, 255) : shown.pixel(0, 0);
    dlg->loadFromImage(*document()->image);
    qel::WorkingPalette& pal = dlg->workingPalette();
    pal.selected = qel::nearestEntryBySum(
        pal, qel::Rgb{uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c))});
    dlg->showWindow();
    paletteOpened();
}

void CQelView::onFitPalette() {
    CPaletteDlg* dlg = paletteOf(this);
    if (!dlg || !isIndexed(document())) return;
    qel::DibImage& image = *document()->image;
    // A palette never filled would make the whole picture its empty-mark grey, with no undo:
    // it starts as the picture's own table instead.
    if (!dlg->isFilled()) dlg->loadFromImage(image);
    if (qel::fitToPalette(image, dlg->workingPalette()).isChanged()) {
        document()->bitmap = image.displayBitmap.get();
        document()->updateAllViews();
    }
    dlg->showWindow();
    paletteOpened();
}

void CQelView::onPaletteRequest(int code) {
    CPaletteDlg* dlg = paletteOf(this);
    if (!dlg) return;
    if (code == qel::kRequestClose) {
        paletteClosed();
    } else if (code >= qel::kRequestSetTable && code <= qel::kRequestRemap && document()) {
        qel::DibImage& image = *document()->image;
        try {
            qel::runPaletteRequest(image, dlg->workingPalette(), code, [this] { takeSnapshot(); });
        } catch (const std::bad_alloc&) {
            dialogs().message(this, QStringLiteral("メモリーが不足しています。"), QStringLiteral("エラー"), Buttons::Ok,
                              Icon::Error);
        }
        // A request that changed nothing leaves the picture in place.
        document()->bitmap = image.displayBitmap.get();
        document()->updateAllViews();
        emit commandFinished();
    }
    dlg->m_request = qel::kRequestNone;
}
