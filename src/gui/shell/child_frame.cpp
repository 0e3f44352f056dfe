#include "gui/shell/child_frame.h"

#include <QCloseEvent>
#include <QSplitter>

#include "gui/shell/qel_app.h"
#include "gui/docview/qel_doc.h"
#include "gui/docview/qel_view.h"

CChildFrame::CChildFrame(CQelDoc* document, QWidget* parent) : QMdiSubWindow(parent), document_(document) {
    setAttribute(Qt::WA_DeleteOnClose);
    rows_ = new QSplitter(Qt::Vertical);
    rows_->setChildrenCollapsible(true);
    connect(rows_, &QSplitter::splitterMoved, this, [this] { removeCollapsedPanes(); });
    auto* row = new QSplitter(Qt::Horizontal);
    row->setChildrenCollapsible(true);
    connect(row, &QSplitter::splitterMoved, this, [this, row] { syncColumns(row); removeCollapsedPanes(); });
    rows_->addWidget(row);
    CQelView* first = makePane();
    row->addWidget(first);
    setWidget(rows_);
    setWindowIcon(applicationIcon());
    setActiveView(first);
    setFocusProxy(first);
    connect(document, &CQelDoc::pictureArrived, this, &CChildFrame::fitToPicture);
}

void CChildFrame::fitToPicture() {
    if (isMaximized() || isMinimized()) return;
    resize(std::min(std::max(document_->scrollWidth + 40, 200), 640),
           std::min(std::max(document_->scrollHeight + 60, 150), 480));
}

CChildFrame::~CChildFrame() {
    // The panes go first; a document without any view left goes with its last frame.
    const QList<CQelView*> views = panes();
    for (CQelView* v : views) delete v;
    if (document_ && document_->views().empty()) delete document_;
}

void CChildFrame::closeEvent(QCloseEvent* event) {
    bool last = true;
    for (CQelView* v : document_->views()) last = last && isAncestorOf(v);
    if (last && !document_->saveModified()) {
        event->ignore();
        return;
    }
    if (last) document_->setModified(false);
    QMdiSubWindow::closeEvent(event);
}

CQelView* CChildFrame::makePane() {
    auto* view = new CQelView(document_);
    connect(view, &CQelView::activated, this, [this](CQelView* v) { setActiveView(v); });
    connect(view, &CQelView::commandFinished, this, &CChildFrame::commandFinished);
    connect(view, &CQelView::statusText, this, &CChildFrame::statusText);
    connect(view, &CQelView::infoText, this, &CChildFrame::infoText);
    connect(view, &CQelView::splitRequested, this, [this](Qt::Orientation o) {
        if (o == Qt::Vertical) splitRows();
        else splitColumns();
    });
    connect(view, &CQelView::splitDropped, this, [this](Qt::Orientation o, const QPoint& at) {
        if (o == Qt::Vertical) splitRows(at);
        else splitColumns(at);
    });
    connect(view, &QObject::destroyed, this, [this, view] {
        if (activeView_ == view) activeView_ = nullptr;
    });
    return view;
}

void CChildFrame::setActiveView(CQelView* view) {
    if (activeView_ == view) return;
    activeView_ = view;
    if (view) setFocusProxy(view);
    emit activeViewChanged(view);
}

QSplitter* CChildFrame::rowSplitter(int row) const { return qobject_cast<QSplitter*>(rows_->widget(row)); }

int CChildFrame::rows() const { return rows_->count(); }

int CChildFrame::columns() const { return rows_->count() ? rowSplitter(0)->count() : 0; }

CQelView* CChildFrame::pane(int row, int column) const {
    if (row < 0 || row >= rows()) return nullptr;
    QSplitter* s = rowSplitter(row);
    if (column < 0 || column >= s->count()) return nullptr;
    return qobject_cast<CQelView*>(s->widget(column));
}

QList<CQelView*> CChildFrame::panes() const {
    QList<CQelView*> out;
    for (int r = 0; r < rows(); ++r)
        for (int c = 0; c < rowSplitter(r)->count(); ++c)
            if (auto* v = pane(r, c)) out << v;
    return out;
}

bool CChildFrame::splitRows(std::optional<QPoint> at) {
    if (rows() >= 2) return false;
    const int y = at ? rows_->mapFromGlobal(*at).y() : 0;
    if (at && (y <= 0 || y >= rows_->height())) return false;
    auto* row = new QSplitter(Qt::Horizontal);
    row->setChildrenCollapsible(true);
    connect(row, &QSplitter::splitterMoved, this, [this, row] { syncColumns(row); removeCollapsedPanes(); });
    for (int c = 0; c < columns(); ++c) row->addWidget(makePane());
    rows_->addWidget(row);
    const int h = std::max(rows_->height(), 20);
    const int first = at ? y : h / 2;
    rows_->setSizes({first, h - first});
    syncColumns(rowSplitter(0));
    return true;
}

bool CChildFrame::splitColumns(std::optional<QPoint> at) {
    if (columns() >= 2) return false;
    const int x = at ? rows_->mapFromGlobal(*at).x() : 0;
    if (at && (x <= 0 || x >= rows_->width())) return false;
    for (int r = 0; r < rows(); ++r) {
        QSplitter* s = rowSplitter(r);
        s->addWidget(makePane());
        const int w = std::max(s->width(), 20);
        const int first = at ? x : w / 2;
        s->setSizes({first, w - first});
    }
    return true;
}

bool CChildFrame::removeRow(int row) {
    if (rows() < 2 || row < 0 || row >= rows()) return false;
    QSplitter* s = rowSplitter(row);
    const bool hadActive = activeView_ && s->isAncestorOf(activeView_);
    delete s;
    if (hadActive || !activeView_) setActiveView(pane(0, 0));
    return true;
}

bool CChildFrame::removeColumn(int column) {
    if (columns() < 2 || column < 0 || column >= columns()) return false;
    bool hadActive = false;
    for (int r = 0; r < rows(); ++r) {
        CQelView* v = pane(r, column);
        if (v == activeView_) hadActive = true;
        delete v;
    }
    if (hadActive || !activeView_) setActiveView(pane(0, 0));
    return true;
}

void CChildFrame::syncColumns(QSplitter* source) {
    for (int r = 0; r < rows(); ++r) {
        QSplitter* s = rowSplitter(r);
        if (s != source && s->count() == source->count()) s->setSizes(source->sizes());
    }
}

void CChildFrame::removeCollapsedPanes() {
    const QList<int> rowSizes = rows_->sizes();
    for (int r = rows() - 1; r >= 0 && rows() > 1; --r)
        if (rowSizes.value(r) == 0) removeRow(r);
    if (rows() == 0) return;
    const QList<int> columnSizes = rowSplitter(0)->sizes();
    for (int c = columns() - 1; c >= 0 && columns() > 1; --c)
        if (columnSizes.value(c) == 0) removeColumn(c);
}

void CChildFrame::activateNextPane(bool previous) {
    const QList<CQelView*> all = panes();
    if (all.isEmpty()) return;
    int i = all.indexOf(activeView_);
    i = (i < 0) ? 0 : (i + (previous ? all.size() - 1 : 1)) % all.size();
    setActiveView(all[i]);
    all[i]->setFocus(Qt::OtherFocusReason);
}
