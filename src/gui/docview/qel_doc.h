// CQelDoc: one picture and its views. The document owns its DibImage for its
// whole life and keeps a non-owning pointer to the image's display bitmap in
// `bitmap` (null while the document is empty), with the picture size and the
// scroll size a new view starts with. Commands that change the picture mark it
// modified; saving clears the mark, and closing a modified document asks first.
#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <vector>

#include "core/image/dib_image.h"
#include "core/lineart/centre_lines.h"
#include "core/ops/random_sequence.h"

class CQelView;

class CQelDoc : public QObject {
    Q_OBJECT
public:
    explicit CQelDoc(QObject* parent = nullptr);
    ~CQelDoc() override;

    const qel::DisplayBitmap* bitmap = nullptr;
    std::unique_ptr<qel::DibImage> image;
    // rand and frand of this document's formulas: its own sequence, whatever other documents draw.
    qel::RandomSequence random;
    int32_t imageWidth = 0;
    int32_t imageHeight = 0;
    int32_t scrollWidth = 0;
    int32_t scrollHeight = 0;

    // An empty document with a 1 x 1 scroll area and the next title Qel1, Qel2, ...
    bool onNewDocument();
    // Loads a picture file of any readable format; on failure shows the reader's message and the
    // file's path and returns false.
    bool onOpenDocument(const QString& path);
    // Asks before overwriting the document's file and writes it in the format it was read in; a
    // document without a file, or read from a format that cannot be written, runs Save As.
    void onFileSave();
    // Saves under a chosen name in the format its extension names; the document keeps its own path and
    // title. True when it was written. A thinned picture is also offered as SVG centre lines.
    bool onFileSaveAs(bool thinned = false);
    // Makes the picture a 24-bit copy of `source` (paste, screen grab); does nothing for null.
    void pasteBitmap(const qel::DisplayBitmap* source);
    // Sets imageWidth/Height and scrollWidth/Height from the image header.
    void setSizesFromHeader();

    // Changed since it was opened or last saved: window titles show " *", closing asks.
    bool isModified() const { return modified_; }
    void setModified(bool modified);
    // The title with the changed mark.
    QString displayTitle() const { return modified_ ? title_ + QStringLiteral(" *") : title_; }
    // Before a document closes: closes its palette windows and, when it has changed, asks whether to
    // save it. Yes saves (to its file, or through Save As without one), No discards. False when the
    // document must stay open (Cancel, or a save that did not happen).
    bool saveModified();
    // Closes the palette windows of the document's views; one showing a check-colour preview gives the
    // picture its own table back first.
    void closePaletteWindows();

    QString pathName() const { return pathName_; }
    QString title() const { return title_; }
    void setTitle(const QString& title);

    const std::vector<CQelView*>& views() const { return views_; }
    void addView(CQelView* view);
    void removeView(CQelView* view);
    // Repaints every view of the document.
    void updateAllViews();

    // The new-document counter is per process; tests reset it.
    static void resetUntitledCounterForTesting();

signals:
    void titleChanged();
    // The picture changed: every view repaints.
    void pictureChanged();
    // The picture's size changed (setSizesFromHeader): every view takes new scroll sizes.
    void sizeChanged();
    // An empty document got its picture (paste, screen capture): its windows take the picture's size,
    // as an opened file's window does.
    void pictureArrived();

private:
    // Unknown: the format by the name's extension.
    bool writeTo(const QString& path, qel::ImageFormat format, bool thinned = false, const qel::CentreLineOptions& svgOptions = {});
    QString pathName_;
    QString title_;
    bool modified_ = false;
    std::vector<CQelView*> views_;
};
