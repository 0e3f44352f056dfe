// Line-art commands of the view: thinning, straightening, line tidy, line tidy 2.
// Thinning and line tidy 2 mark the picture as thinned, which offers straightening
// and line tidy.
#include "core/lineart/lineart.h"
#include "gui/commands/lineart/straighten_dlg.h"
#include "gui/docview/qel_view.h"

void CQelView::onThin() {
    runImageCommand([](qel::DibImage& image) { return qel::thin(image); }, {.thinned = 1});
}

void CQelView::onStraighten() {
    CStraightenDlg dlg(this);
    if (dlg.exec() != QDialog::Accepted) return;
    const int32_t length = dlg.m_length;
    runImageCommand([length](qel::DibImage& image) { return qel::straighten(image, length); });
}

void CQelView::onTidy() {
    runImageCommand([](qel::DibImage& image) { return qel::tidyLines(image); },
                    {.announce = true, .thinned = std::nullopt});
}

void CQelView::onTidy2() {
    runImageCommand([](qel::DibImage& image) { return qel::tidyLines2(image); }, {.thinned = 1});
}
