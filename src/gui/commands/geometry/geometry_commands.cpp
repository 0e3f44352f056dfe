// Geometry commands of the view: scale, mix and fractal.
#include <QFile>
#include <cmath>

#include "gui/docview/qel_doc.h"
#include "core/geometry/geometry.h"
#include "gui/commands/geometry/mix_dlg.h"
#include "gui/commands/geometry/scale_dlg.h"
#include "gui/docview/qel_view.h"

void CQelView::onScale() {
    qel::DibImage& image = *document()->image;
    const auto header = image.header();
    CScaleDlg dlg(header.biWidth, header.biHeight, this);
    if (dlg.exec() != QDialog::Accepted) return;
    const int32_t width = dlg.m_width;
    const int32_t height = dlg.m_height;
    const bool interpolate = dlg.m_interpolate != 0;
    // runImageCommand gives the document and every view the new size; the document's scroll size is
    // the new size at this view's zoom.
    const bool done = runImageCommand(
        [&](qel::DibImage& picture) { return qel::scaleByCommand(picture, width, height, interpolate); });
    if (done && document()->bitmap) {
        document()->scrollWidth = static_cast<int32_t>(std::trunc(document()->imageWidth * double(zoom)));
        document()->scrollHeight = static_cast<int32_t>(std::trunc(document()->imageHeight * double(zoom)));
    }
}

void CQelView::onMix() {
    CMixDlg dlg(this);
    dlg.m_startX = dlg.m_startY = dlg.m_copyX = dlg.m_copyY = 0;
    dlg.m_rectWidth = document()->imageWidth;
    dlg.m_rectHeight = document()->imageHeight;
    if (dlg.exec() != QDialog::Accepted || dlg.m_fileName.isEmpty()) return;
    const std::string path = QFile::encodeName(dlg.m_fileName).toStdString();
    const uint32_t transparent = qel::packColourRef(dlg.m_keyRed, dlg.m_keyGreen, dlg.m_keyBlue);
    runImageCommand([&](qel::DibImage& image) {
        return qel::mixFile(image, path, dlg.m_startX, dlg.m_startY, dlg.m_rectWidth, dlg.m_rectHeight, dlg.m_copyX,
                            dlg.m_copyY, dlg.m_ratio, transparent);
    });
}

void CQelView::onFractal() {
    runImageCommand([](qel::DibImage& image) {
        return qel::drawFractal(image, qel::kFractalStepX, qel::kFractalStepY, qel::kFractalConstant,
                                qel::kFractalIterations);
    });
}
