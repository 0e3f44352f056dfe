// Colour commands of the view: depth conversions, colour counting, reduction,
// the palette window and fitting to the palette.
#include "view/qel_view.h"

#include "app/qel_doc.h"

void CQelView::onTo24Bit() {
    // The picture as the screen shows it, read back at 24 bits.
    runImageCommand(
        [this](qel::DibImage& image) -> const qel::DisplayBitmap* {
            if (!document()->bitmap) return nullptr;
            const qel::DisplayBitmap shown = *document()->bitmap;
            return image.fromBitmap(shown);
        },
        {.announce = true, .thinned = 0});
}

// Handlers still to be connected by the colour and palette work.
void CQelView::onTo256() {}
void CQelView::onTo16() {}
void CQelView::onToGrey() {}
void CQelView::onToBlackWhite() {}
void CQelView::onCountColours() {}
void CQelView::onReduce256() {}
void CQelView::onPalette() {}
void CQelView::onFitPalette() {}
void CQelView::onPaletteRequest(int) {}
void CQelView::createPaletteWindow() {}
void CQelView::pickPaletteColour(const QPoint&) {}
