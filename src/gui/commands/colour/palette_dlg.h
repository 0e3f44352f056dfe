// CPaletteDlg: the view's modeless palette window "パレット". It shows the
// working palette as a grid of 16 columns of 14 x 14 squares, edits it with
// the mouse and its buttons, and asks its view to carry the palette into the
// picture by a request code (the signal `requested`, handled at once by the
// colour commands, which clear m_request afterwards). All palette logic lives in
// colour/working_palette.h; this class draws, forwards input and shows
// dialogs.
//
// Mouse: left press selects an entry and starts a drag, release on another
// entry copies the selected colour there; double-click edits an entry in the
// colour dialog; right press shows the check colour in place of the entry in
// the picture until the release.
#pragma once

#include <QDialog>
#include <QHash>
#include <QPoint>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/colour/working_palette.h"

class QPushButton;

class CPaletteDlg : public QDialog {
    Q_OBJECT
public:
    // Control identifiers of the buttons (also their object names, "button<id>").
    enum Control {
        IDC_SAVE = 1002,
        IDC_LOAD = 1003,
        IDC_ORGANISE = 1004,
        IDC_REPLACE = 1005,
        IDC_CHECK_COLOUR = 1006,
        IDC_APPROXIMATE = 1007,
        IDC_ADD = 1008,
        IDC_UNDO = 1009,
        IDC_MERGE = 1010,
        IDC_FILL = 1011,
        IDC_SORT = 1012,
        IDC_REDO = 1017,
        IDC_CLOSE = 2,
    };
    static constexpr QRgb kBackground = 0xFFBCBCBC;  // RGB(188, 188, 188)
    static constexpr QRgb kFrame = 0xFF505050;       // around each square: dark on the light background

    // A hidden window owned by `view`.
    explicit CPaletteDlg(QWidget* view);

    qel::WorkingPalette& workingPalette() { return palette_; }
    const qel::WorkingPalette& workingPalette() const { return palette_; }
    int32_t m_request = 0;
    bool holdsUndo = false;  // shown by a colour command: the view offers no undo or redo until it closes
    // The picture's header and colour table from before a check-colour preview, while one shows.
    std::optional<std::vector<uint8_t>> infoBeforePreview;

    // False until the working palette has been filled from a picture or a file.
    bool isFilled() const { return filled_; }
    // The palette command: N and the entries from the picture's colour table, entry 0 selected.
    void loadFromImage(const qel::DibImage& image);
    // Shows and raises the window and repaints the grid.
    void showWindow();

    QPushButton* button(Control id) const { return buttons_.value(id); }
    // The status line as painted: "R: %4d G: %4d B: %4d  No:%4d   ".
    QString statusText() const;

    // Any ending of the window (閉じる, the close box, Escape) sends request 99 and hides it.
    void done(int result) override;

signals:
    // A request for the view (a PaletteRequest code), carried out before the emission returns.
    void requested(int code);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // A new font or style sizes the buttons and the window again.
    void changeEvent(QEvent* event) override;

private:
    // Places the buttons in their two columns, each as wide as the widest caption needs, and sizes the
    // window around them, the grid and the status line.
    void layOutButtons();
    // Stores the code and has the view carry it out before returning.
    void sendRequest(int32_t code);
    int hitTest(const QPoint& p) const;

    void onReplace();
    void onOrganise();
    void onApproximate();
    void onSort();
    void onAdd();
    void onFill();
    void onMerge();
    void onChangeCheckColour();
    void onLoad();
    void onSave();
    void onHistoryUndo();
    void onHistoryRedo();

    qel::WorkingPalette palette_;
    bool filled_ = false;
    QHash<int, QPushButton*> buttons_;
    QHash<int, QPoint> cells_;  // column and row of each button
};
