// Colour commands of the view: depth conversions, colour counting, reduction,
// the palette window and fitting to the palette. Every view gets its palette
// window when it is made; the window's requests change the picture at once.
#include "gui/commands/colour/colour_commands.h"

#include <QImage>
#include <QPixmap>
#include <new>

#include "core/colour/palette_ops.h"
#include "core/colour/quantize.h"
#include "core/colour/reduction.h"
#include "core/commands/command_table.h"
#include "gui/commands/colour/palette_dlg.h"
#include "gui/commands/colour/quantize_dlg.h"
#include "gui/commands/colour/threshold_dlg.h"
#include "gui/docview/qel_doc.h"
#include "gui/kit/dialog_service.h"

namespace qel::ui {

namespace {

CPaletteDlg* paletteOf(const CQelView& view) { return qobject_cast<CPaletteDlg*>(view.paletteWindow); }

// The palette window holds the view's undo and redo from when a command shows it until it closes.
void paletteShown(CQelView& view, CPaletteDlg& dlg) {
    dlg.holdsUndo = true;
    emit view.commandFinished();
}

bool isIndexed(const CQelDoc* doc) {
    if (!doc || !doc->bitmap) return false;
    const int depth = doc->image->bitCount();
    return depth == 8 || depth == 4;
}

void askBlackWhite(CQelView& view) {
    int32_t threshold = 0;
    {
        CThresholdDlg dlg;
        if (dlg.exec() != QDialog::Accepted) return;
        threshold = dlg.m_threshold;
    }
    view.runOperation(cmd::ID_TO_BLACK_WHITE, threshold);
}

void quantize(CQelView& view) {
    QuantizeSettings settings;
    {
        CQuantizeDlg dlg(&view);
        if (dlg.exec() != QDialog::Accepted) return;
        settings = {.colours = dlg.m_colours, .dither = dlg.m_dither != 0};
    }
    view.runOperation(cmd::ID_QUANTIZE, settings);
}

void countColours(CQelView& view) {
    if (!view.document()) return;
    const int32_t count = qel::countColours(*view.document()->image);
    dialogs().message(&view, QString::number(count), QStringLiteral("色数"), Buttons::Ok, Icon::None);
}

// ---------------------------------------------------------------- the palette window

void openPalette(CQelView& view) {
    CPaletteDlg* dlg = paletteOf(view);
    if (!dlg || !isIndexed(view.document())) return;
    dlg->loadFromImage(*view.document()->image);
    dlg->showWindow();
    paletteShown(view, *dlg);
}

// A double click on the picture opens the palette window with the entry nearest the colour there.
void pickPaletteColour(CQelView& view, const QPoint& position) {
    CPaletteDlg* dlg = paletteOf(view);
    if (!dlg || !isIndexed(view.document())) return;
    // The colour the pane shows under the pointer, whatever the zoom.
    const QImage shown = view.viewport()->grab(QRect(position, QSize(1, 1))).toImage();
    const QRgb c = shown.isNull() ? qRgb(255, 255, 255) : shown.pixel(0, 0);
    dlg->loadFromImage(*view.document()->image);
    WorkingPalette& pal = dlg->workingPalette();
    pal.selected = nearestEntryBySum(pal, Rgb{uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c))});
    dlg->showWindow();
    paletteShown(view, *dlg);
}

void fitPalette(CQelView& view) {
    CPaletteDlg* dlg = paletteOf(view);
    if (!dlg || !isIndexed(view.document())) return;
    // A palette never filled would make the whole picture its empty-mark grey: it starts as the
    // picture's own table instead.
    if (!dlg->isFilled()) dlg->loadFromImage(*view.document()->image);
    // A picture command like any other: the snapshot lets 元に戻す bring the colours back once the
    // palette window is closed.
    view.runImageCommand([dlg](DibImage& image) { return fitToPalette(image, dlg->workingPalette()); },
                         commandOptions(cmd::ID_FIT_PALETTE));
    dlg->showWindow();
    paletteShown(view, *dlg);
}

// The check-colour preview is no edit: the picture shows the check colour while the right button is
// held and gets its own table back on release, with no snapshot and no change mark.
void previewCheckColour(CQelView& view, CPaletteDlg& dlg, int code) {
    CQelDoc* doc = view.document();
    DibImage& image = *doc->image;
    if (code == kRequestPreview) {
        if (!dlg.infoBeforePreview) dlg.infoBeforePreview = image.info;
        runPaletteRequest(image, dlg.workingPalette(), kRequestPreview, nullptr);
    } else if (dlg.infoBeforePreview) {
        image.info = std::move(*dlg.infoBeforePreview);
        dlg.infoBeforePreview.reset();
        image.rebuildDisplay();
    }
    doc->bitmap = image.displayBitmap.get();
    doc->updateAllViews();
    emit view.commandFinished();
}

// A request of the palette window, carried out before the window goes on.
void paletteRequest(CQelView& view, int code) {
    CPaletteDlg* dlg = paletteOf(view);
    if (!dlg) return;
    if (code == kRequestClose) {
        dlg->holdsUndo = false;
        emit view.commandFinished();
    } else if ((code == kRequestPreview || code == kRequestPreviewEnd) && view.document()) {
        previewCheckColour(view, *dlg, code);
    } else if (code >= kRequestSetTable && code <= kRequestRemap && view.document()) {
        CQelDoc* doc = view.document();
        DibImage& image = *doc->image;
        bool changed = false;
        // Every request that changes the picture's indices or table is undoable; the core takes no
        // snapshot for the remap after a sort, so it is taken here.
        if (code == kRequestRemap) view.takeSnapshot();
        try {
            changed = runPaletteRequest(image, dlg->workingPalette(), PaletteRequest(code), [&view] { view.takeSnapshot(); })
                          .isChanged();
        } catch (const std::bad_alloc&) {
            view.showMemoryShortage();
        }
        // A request that changed nothing leaves the picture in place.
        doc->bitmap = image.displayBitmap.get();
        if (changed) doc->setModified(true);
        doc->updateAllViews();
        emit view.commandFinished();
    }
    dlg->m_request = kRequestNone;
}

void setUpPaletteWindow(CQelView& view) {
    auto* dlg = new CPaletteDlg(&view);
    view.paletteWindow = dlg;
    QObject::connect(dlg, &CPaletteDlg::requested, &view, [v = &view](int code) { paletteRequest(*v, code); });
    QObject::connect(&view, &CQelView::pictureDoubleClicked, &view,
                     [v = &view](const QPoint& p) { pickPaletteColour(*v, p); });
}

}  // namespace

void registerColourCommands(ViewCommands& commands) {
    using namespace qel::cmd;
    commands.addSetup(setUpPaletteWindow);
    commands.addUndoHold([](const CQelView& view) {
        const CPaletteDlg* dlg = paletteOf(view);
        return dlg && dlg->holdsUndo;
    });
    commands.add(ID_TO_BLACK_WHITE, askBlackWhite);
    commands.add(ID_COUNT_COLOURS, countColours);
    commands.add(ID_QUANTIZE, quantize);
    commands.add(ID_PALETTE, openPalette);
    commands.add(ID_FIT_PALETTE, fitPalette);
}

}  // namespace qel::ui
