// CChildFrame: a document window holding a splitter of up to 2 x 2 panes.
// Every pane is its own CQelView of the frame's document. The split boxes at
// the scroll bars split a pane row or column in two, in the middle when clicked
// and where dropped when dragged; dragging a splitter bar
// to the edge removes the collapsed row or column.
#pragma once

#include <QList>
#include <QMdiSubWindow>
#include <QPoint>
#include <optional>

class CQelDoc;
class CQelView;
class QSplitter;

class CChildFrame : public QMdiSubWindow {
    Q_OBJECT
public:
    explicit CChildFrame(CQelDoc* document, QWidget* parent = nullptr);
    ~CChildFrame() override;

    CQelDoc* document() const { return document_; }
    CQelView* activeView() const { return activeView_; }
    void setActiveView(CQelView* view);

    int rows() const;
    int columns() const;
    CQelView* pane(int row, int column) const;
    QList<CQelView*> panes() const;  // row by row

    // Split into two rows / two columns, in the middle or at a global position (a split box dropped
    // there); false when already split that way or the position lies outside the panes.
    bool splitRows(std::optional<QPoint> at = std::nullopt);
    bool splitColumns(std::optional<QPoint> at = std::nullopt);
    // Remove a row / column of panes; false when it is the only one.
    bool removeRow(int row);
    bool removeColumn(int column);
    // The window's size for the document's picture (its scroll size plus frame and scroll bars), within
    // 640 x 480: for a new window and when an empty document gets its picture.
    void fitToPicture();
    // F6 / Shift+F6: activate the next or previous pane.
    void activateNextPane(bool previous);

signals:
    void activeViewChanged(CQelView* view);
    void commandFinished();
    void statusText(const QString& text);
    void infoText(const QString& text);

protected:
    // Closing the last window of a changed document asks whether to save it first.
    void closeEvent(QCloseEvent* event) override;

private:
    CQelView* makePane();
    QSplitter* rowSplitter(int row) const;
    void removeCollapsedPanes();
    void syncColumns(QSplitter* source);

    CQelDoc* document_;
    QSplitter* rows_;
    CQelView* activeView_ = nullptr;
};
