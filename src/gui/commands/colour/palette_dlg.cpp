#include "gui/commands/colour/palette_dlg.h"

#include <QFile>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

#include "gui/kit/dialog_service.h"
#include "core/colour/palette_file.h"
#include "core/colour/palette_ops.h"
#include "gui/commands/colour/approx_replace_dlg.h"
#include "gui/commands/colour/near_colour_dlg.h"

using qel::ui::Buttons;
using qel::ui::dialogs;
using qel::ui::Icon;

namespace {

// Grid squares use the low byte of each value, as a colour table would.
QColor entryColour(int32_t r, int32_t g, int32_t b) { return QColor(r & 0xFF, g & 0xFF, b & 0xFF); }

void showMessage(QWidget* owner, const char* text, const char* title) {
    dialogs().message(owner, QString::fromUtf8(text), QString::fromUtf8(title), Buttons::Ok, Icon::None);
}

qel::ui::FileRequest paletteFileRequest() {
    qel::ui::FileRequest r;
    r.filter = QStringLiteral("%1|%2|").arg(QString::fromUtf8(qel::kPaletteFilterName),
                                            QString::fromUtf8(qel::kPaletteFilterPattern));
    r.defaultExtension = QString::fromUtf8(qel::kPaletteDefaultExtension);
    r.initialName = QString::fromUtf8(qel::kPaletteInitialName);
    r.overwritePrompt = true;
    return r;
}

std::string localPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

// The smallest button and window of the design; buttons grow with their captions in the font in use,
// the window with them and with the status line.
constexpr int kButtonWidth = 92;
constexpr int kButtonHeight = 24;
constexpr int kButtonLeft = 272;
constexpr int kButtonGap = 4;
constexpr int kWindowHeight = 292;

}  // namespace

CPaletteDlg::CPaletteDlg(QWidget* view) : QDialog(view) {
    setWindowTitle(QString::fromUtf8(qel::kPaletteWindowTitle));
    setModal(false);
    QPalette background = QWidget::palette();
    background.setColor(QPalette::Window, QColor::fromRgb(kBackground));
    background.setColor(QPalette::WindowText, Qt::black);  // the specified grey, whatever the theme
    setPalette(background);
    setAutoFillBackground(true);

    struct ButtonDef {
        Control id;
        const char* caption;
        int column, row;
        void (CPaletteDlg::*handler)();
    };
    const ButtonDef buttonDefs[] = {
        {IDC_REPLACE, "*置換*", 0, 0, &CPaletteDlg::onReplace},
        {IDC_ORGANISE, "*整理*", 0, 1, &CPaletteDlg::onOrganise},
        {IDC_APPROXIMATE, "*近似置換*", 0, 2, &CPaletteDlg::onApproximate},
        {IDC_SORT, "並べ替え*", 0, 3, &CPaletteDlg::onSort},
        {IDC_MERGE, "近色同一化", 0, 4, &CPaletteDlg::onMerge},
        {IDC_FILL, "以後確認色", 0, 5, &CPaletteDlg::onFill},
        {IDC_CHECK_COLOUR, "確認色変更", 0, 6, &CPaletteDlg::onChangeCheckColour},
        {IDC_UNDO, "元に戻す", 1, 0, &CPaletteDlg::onHistoryUndo},
        {IDC_REDO, "やり直し", 1, 1, &CPaletteDlg::onHistoryRedo},
        {IDC_ADD, "追加", 1, 2, &CPaletteDlg::onAdd},
        {IDC_LOAD, "パレットの読込", 1, 3, &CPaletteDlg::onLoad},
        {IDC_SAVE, "パレットの保存", 1, 4, &CPaletteDlg::onSave},
        {IDC_CLOSE, "閉じる", 1, 6, nullptr},
    };
    for (const ButtonDef& s : buttonDefs) {
        auto* b = new QPushButton(QString::fromUtf8(s.caption), this);
        b->setObjectName(QStringLiteral("button%1").arg(int(s.id)));
        // No default button: Enter must not end the window behind the view's back.
        b->setAutoDefault(false);
        b->setDefault(false);
        if (s.handler) connect(b, &QPushButton::clicked, this, s.handler);
        else connect(b, &QPushButton::clicked, this, &QDialog::reject);
        buttons_.insert(s.id, b);
        cells_.insert(s.id, QPoint(s.column, s.row));
    }
    layOutButtons();
    hide();
}

void CPaletteDlg::layOutButtons() {
    // One size for every button: the design's, or the widest caption's in the font in use.
    QSize button(kButtonWidth, kButtonHeight);
    for (QPushButton* b : std::as_const(buttons_)) button = button.expandedTo(b->sizeHint());
    // The buttons start right of the grid and of the widest status line.
    const QFontMetrics metrics(font());
    const QString widestStatus = QStringLiteral("R:  255 G:  255 B:  255  No: 255   ");
    const int left = std::max(kButtonLeft, qel::kStatusLineX + metrics.horizontalAdvance(widestStatus) + kButtonGap);
    int bottom = 0;
    for (auto it = buttons_.cbegin(); it != buttons_.cend(); ++it) {
        const QPoint cell = cells_.value(it.key());
        const QRect r(left + cell.x() * (button.width() + kButtonGap), 7 + cell.y() * (button.height() + kButtonGap),
                      button.width(), button.height());
        it.value()->setGeometry(r);
        bottom = std::max(bottom, r.bottom());
    }
    const int statusBottom = qel::kStatusLineY + metrics.height() + kButtonGap;
    setFixedSize(left + 2 * button.width() + kButtonGap + 10, std::max({kWindowHeight, bottom + 8, statusBottom}));
}

void CPaletteDlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) layOutButtons();
}

void CPaletteDlg::loadFromImage(const qel::DibImage& image) {
    qel::loadPaletteFromImage(palette_, image);
    filled_ = true;
}

void CPaletteDlg::showWindow() {
    show();
    raise();
    activateWindow();
    update();
}

QString CPaletteDlg::statusText() const { return QString::fromStdString(qel::paletteStatusLine(palette_)); }

void CPaletteDlg::done(int result) {
    // A check-colour preview whose release never comes (Escape while the button is held, the window
    // closed under it) ends here: the picture gets its own table back before the window goes.
    if (qel::endCheckPreview(palette_)) sendRequest(qel::kRequestPreviewEnd);
    if (isVisible()) sendRequest(qel::kRequestClose);
    QDialog::done(result);
}

void CPaletteDlg::sendRequest(int32_t code) {
    m_request = code;
    emit requested(code);
}

int CPaletteDlg::hitTest(const QPoint& p) const { return qel::paletteHitTest(palette_, p.x(), p.y()); }

// ---------------------------------------------------------------- painting

void CPaletteDlg::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor::fromRgb(kBackground));
    for (int i = 0; i < palette_.used(); ++i) {
        const qel::GridSquare s = qel::paletteSquare(i);
        const QColor colour = entryColour(palette_.red[i], palette_.green[i], palette_.blue[i]);
        // A one-pixel frame in the gap around the square, so an entry of the background's colour
        // still shows.
        p.setPen(QColor::fromRgb(kFrame));
        p.drawRect(QRect(s.left - 1, s.top - 1, 15, 15));
        if (i == palette_.selected) {
            p.fillRect(QRect(s.left, s.top, 14, 14), Qt::white);
            p.fillRect(QRect(s.left + 1, s.top + 1, 12, 12), Qt::black);
            p.fillRect(QRect(s.left + 2, s.top + 2, 10, 10), colour);
        } else {
            p.fillRect(QRect(s.left, s.top, 14, 14), colour);
        }
    }
    p.setBackgroundMode(Qt::OpaqueMode);
    p.setBackground(QColor::fromRgb(kBackground));
    p.setPen(Qt::black);
    p.drawText(QPoint(qel::kStatusLineX, qel::kStatusLineY + QFontMetrics(font()).ascent()), statusText());
}

// ---------------------------------------------------------------- mouse

void CPaletteDlg::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        const int index = hitTest(at);
        if (index < 0) return;
        qel::beginDrag(palette_, index);
        setCursor(Qt::DragCopyCursor);
        update();
    } else if (event->button() == Qt::RightButton) {
        m_request = qel::kRequestPreview;
        const int index = hitTest(at);
        if (index < 0) return;
        repaint();  // the grid as it is, before the entry takes the check colour
        if (!qel::beginCheckPreview(palette_, index)) return;
        update();
        sendRequest(qel::kRequestPreview);
    }
}

void CPaletteDlg::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        if (!palette_.dragging) return;
        qel::endDrag(palette_, hitTest(event->position().toPoint()));
        unsetCursor();
        update();
    } else if (event->button() == Qt::RightButton) {
        if (!qel::endCheckPreview(palette_)) return;
        update();
        sendRequest(qel::kRequestPreviewEnd);
    }
}

void CPaletteDlg::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double-click starts no drag.
    if (event->button() != Qt::LeftButton) return;
    const int index = hitTest(event->position().toPoint());
    if (index < 0) return;
    const auto chosen =
        dialogs().chooseColour(this, entryColour(palette_.red[index], palette_.green[index], palette_.blue[index]));
    if (!chosen) return;
    qel::editEntry(palette_, index, qel::PaletteColour{chosen->red(), chosen->green(), chosen->blue()});
    update();
}

void CPaletteDlg::keyPressEvent(QKeyEvent* event) {
    // The window has no OK button; Enter does nothing, Escape closes it like 閉じる.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---------------------------------------------------------------- buttons

void CPaletteDlg::onReplace() { sendRequest(qel::kRequestSetTable); }

void CPaletteDlg::onOrganise() {
    sendRequest(qel::kRequestOrganise);
    update();
}

void CPaletteDlg::onApproximate() {
    CApproxReplaceDlg dlg(this);
    if (dlg.exec() != QDialog::Accepted) return;
    qel::prepareApproximate(palette_, dlg.m_precision);
    sendRequest(qel::kRequestApproximate);
    update();
}

void CPaletteDlg::onSort() {
    qel::sortPalette(palette_);
    update();
    sendRequest(qel::kRequestRemap);
}

void CPaletteDlg::onFill() {
    qel::fillWithCheckColour(palette_);
    repaint();
    showMessage(this, qel::kFillDoneMessage, qel::kPaletteDoneTitle);
}

void CPaletteDlg::onMerge() {
    CNearColourDlg dlg(this);
    if (dlg.exec() != QDialog::Accepted) return;
    qel::mergeNearColours(palette_, dlg.m_distance);
    repaint();
    showMessage(this, qel::kMergeDoneMessage, qel::kPaletteDoneTitle);
}

void CPaletteDlg::onChangeCheckColour() {
    const qel::PaletteColour c = palette_.check;
    if (const auto chosen = dialogs().chooseColour(this, entryColour(c.red, c.green, c.blue)))
        palette_.check = qel::PaletteColour{chosen->red(), chosen->green(), chosen->blue()};
}

void CPaletteDlg::onLoad() {
    const QString path = dialogs().openFile(this, paletteFileRequest());
    if (path.isEmpty()) return;
    const qel::PaletteFileError e = qel::loadPaletteFile(localPath(path), palette_);
    if (e != qel::PaletteFileError::None) {
        const qel::UserMessage m = qel::paletteFileMessage(e);
        showMessage(this, m.text, m.title);
        return;
    }
    filled_ = true;
    update();
}

void CPaletteDlg::onSave() {
    const QString path = dialogs().saveFile(this, paletteFileRequest());
    if (path.isEmpty()) return;
    const qel::PaletteFileError e = qel::savePaletteFile(localPath(path), palette_);
    if (e != qel::PaletteFileError::None) {
        const qel::UserMessage m = qel::paletteFileMessage(e);
        showMessage(this, m.text, m.title);
    }
}

void CPaletteDlg::onAdd() {
    const QString path = dialogs().openFile(this, paletteFileRequest());
    if (path.isEmpty()) return;
    const qel::PaletteFileError e = qel::addPaletteFile(localPath(path), palette_);
    if (e != qel::PaletteFileError::None) {
        const qel::UserMessage m = qel::paletteFileMessage(e);
        showMessage(this, m.text, m.title);
        return;
    }
    update();
}

void CPaletteDlg::onHistoryUndo() {
    qel::undoHistory(palette_);
    update();
}

void CPaletteDlg::onHistoryRedo() {
    qel::redoHistory(palette_);
    update();
}
