#include "gui/shell/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QRegularExpression>
#include <QSettings>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>

#include "gui/shell/about_dlg.h"
#include "gui/shell/child_frame.h"
#include "core/commands/command_table.h"
#include "gui/kit/dialog_service.h"
#include "gui/shell/qel_app.h"
#include "gui/shell/register_commands.h"
#include "gui/docview/qel_doc.h"
#include "gui/docview/qel_view.h"

using namespace qel::cmd;

namespace {
constexpr int kRecentFiles = 4;
const char* const kRecentGroup = "Recent File List";

// A 16 x 15 toolbar glyph for the edit, print and about buttons, its lines in `ink` (the palette's text
// colour, so that they show on light and dark themes alike). Sheets of paper are filled with a colour
// that stands apart from the ink (white under dark ink, the window colour or black under light ink),
// so that an outline never melts into its fill.
QIcon drawnIcon(int id, const QColor& ink, const QColor& window) {
    const bool lightInk = ink.lightness() >= 128;
    const QColor paper = !lightInk ? QColor(Qt::white) : window.lightness() < 80 ? window : QColor(Qt::black);
    // The printer's body: a quarter of the way from the paper to the ink (light grey on a light theme).
    const QColor body = QColor::fromRgbF(paper.redF() * 0.75f + ink.redF() * 0.25f, paper.greenF() * 0.75f + ink.greenF() * 0.25f,
                                         paper.blueF() * 0.75f + ink.blueF() * 0.25f);
    QPixmap pm(16, 15);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(ink);
    switch (id) {
    case ID_EDIT_CUT:
        p.drawEllipse(QRect(2, 9, 4, 4));
        p.drawEllipse(QRect(9, 9, 4, 4));
        p.drawLine(5, 9, 11, 1);
        p.drawLine(10, 9, 4, 1);
        break;
    case ID_EDIT_COPY:
        p.fillRect(QRect(1, 1, 8, 9), paper);
        p.drawRect(QRect(1, 1, 8, 9));
        p.fillRect(QRect(6, 4, 8, 9), paper);
        p.drawRect(QRect(6, 4, 8, 9));
        break;
    case ID_EDIT_PASTE:
        p.fillRect(QRect(2, 2, 10, 12), QColor(160, 120, 60));
        p.drawRect(QRect(2, 2, 10, 12));
        p.fillRect(QRect(7, 6, 7, 8), paper);
        p.drawRect(QRect(7, 6, 7, 8));
        break;
    case ID_FILE_PRINT:
        p.fillRect(QRect(4, 1, 8, 5), paper);
        p.drawRect(QRect(4, 1, 8, 5));
        p.fillRect(QRect(1, 6, 14, 6), body);
        p.drawRect(QRect(1, 6, 14, 6));
        break;
    default:
        p.setFont(QFont(QStringLiteral("Sans"), 10, QFont::Bold));
        p.drawText(pm.rect(), Qt::AlignCenter, QStringLiteral("?"));
        break;
    }
    return QIcon(pm);
}

// The desktop theme's icon where it has one, else the style's or a drawn one.
QIcon toolbarIcon(QStyle* style, int id, const QColor& ink, const QColor& window) {
    switch (id) {
    case ID_FILE_NEW: return QIcon::fromTheme(QStringLiteral("document-new"), style->standardIcon(QStyle::SP_FileIcon));
    case ID_FILE_OPEN:
        return QIcon::fromTheme(QStringLiteral("document-open"), style->standardIcon(QStyle::SP_DialogOpenButton));
    case ID_FILE_SAVE:
        return QIcon::fromTheme(QStringLiteral("document-save"), style->standardIcon(QStyle::SP_DialogSaveButton));
    case ID_EDIT_CUT: return QIcon::fromTheme(QStringLiteral("edit-cut"), drawnIcon(id, ink, window));
    case ID_EDIT_COPY: return QIcon::fromTheme(QStringLiteral("edit-copy"), drawnIcon(id, ink, window));
    case ID_EDIT_PASTE: return QIcon::fromTheme(QStringLiteral("edit-paste"), drawnIcon(id, ink, window));
    case ID_FILE_PRINT: return QIcon::fromTheme(QStringLiteral("document-print"), drawnIcon(id, ink, window));
    default: return QIcon::fromTheme(QStringLiteral("help-about"), drawnIcon(id, ink, window));
    }
}

// The item text without its accelerator part and mnemonic, for tool tips.
QString plainText(const char* text) {
    QString s = QString::fromUtf8(text);
    s = s.section('\t', 0, 0);
    s.remove(QRegularExpression(QStringLiteral("\\(&.\\)"))).remove('&');
    return s.trimmed();
}

}  // namespace

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {
    setWindowIcon(applicationIcon());
    mdi_ = new QMdiArea(this);
    mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(mdi_);
    connect(mdi_, &QMdiArea::subWindowActivated, this, [this] { onActiveChildChanged(); });
    setAcceptDrops(true);

    qel::ui::registerAllCommands();
    registerFrameCommands();
    createActions();
    startMenus_ = buildMenus(false);
    documentMenus_ = buildMenus(true);

    toolBar_ = addToolBar(QStringLiteral("ﾂｰﾙ ﾊﾞｰ"));
    toolBar_->setObjectName(QStringLiteral("toolbar"));
    toolBar_->setIconSize(QSize(16, 15));
    for (int id : toolbarButtons()) {
        if (id == kSeparator) toolBar_->addSeparator();
        else toolBar_->addAction(action(id));
    }
    connect(toolBar_, &QToolBar::visibilityChanged, action(ID_VIEW_TOOLBAR), &QAction::setChecked);

    messagePane_ = new QLabel(QStringLiteral("ﾚﾃﾞｨ"));
    statusBar()->addWidget(messagePane_, 1);
    infoPane_ = new QLabel;
    infoPane_->setObjectName(QStringLiteral("infoPane"));
    infoPane_->setMinimumWidth(infoPane_->fontMetrics().horizontalAdvance(QStringLiteral("0.390625%   9999, 9999  255 255 255  [255]")));
    statusBar()->addWidget(infoPane_);
    for (const char* indicator : {"KANA", "CAPS", "NUM", "SCRL"}) {
        auto* label = new QLabel(QString::fromLatin1(indicator));
        label->setEnabled(false);  // lock-key states are not read on this platform
        label->setAlignment(Qt::AlignCenter);
        label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QStringLiteral("KANAX")));
        statusBar()->addPermanentWidget(label);
    }

    updateRecentActions();
    showMenus(false);
    updateTitle();
    updateCommandStates();
    resize(800, 600);
}

CMainFrame::~CMainFrame() {
    // Close the document windows first so documents go with their views.
    for (CChildFrame* f : childFrames()) delete f;
}

void CMainFrame::registerFrameCommands() {
    auto add = [this](int id, std::function<void()> run, bool needsDocument = false) {
        frameCommands_.insert(id, FrameCommand{std::move(run), needsDocument});
    };
    add(ID_FILE_NEW, [this] { newDocument(); });
    add(ID_FILE_OPEN, [this] { onFileOpen(); });
    add(ID_FILE_PRINT_SETUP, [this] { onPrintSetup(); });
    add(ID_APP_EXIT, [this] { close(); });
    add(ID_APP_ABOUT, [this] { onAppAbout(); });
    add(ID_HELP_INDEX, [this] { onHelp(); });
    add(ID_VIEW_TOOLBAR, [this] { toolBar_->setVisible(toolBar_->isHidden()); });
    add(ID_VIEW_STATUS_BAR, [this] { statusBar()->setVisible(statusBar()->isHidden()); });
    add(ID_WINDOW_NEW, [this] {
        if (CChildFrame* frame = activeChild()) createFrame(frame->document());
    });
    add(ID_WINDOW_CASCADE, [this] { mdi_->cascadeSubWindows(); });
    add(ID_WINDOW_TILE_HORZ, [this] { mdi_->tileSubWindows(); });
    add(ID_WINDOW_ARRANGE, [this] { arrangeIcons(); });
    add(ID_NEXT_PANE, [this] {
        if (CChildFrame* frame = activeChild()) frame->activateNextPane(false);
    });
    add(ID_PREV_PANE, [this] {
        if (CChildFrame* frame = activeChild()) frame->activateNextPane(true);
    });
    add(ID_FILE_CLOSE, [this] {
        if (CQelDoc* d = activeDocument()) closeDocument(d);
    }, true);
    add(ID_FILE_SAVE, [this] {
        if (CQelDoc* d = activeDocument()) d->onFileSave();
    }, true);
    add(ID_FILE_SAVE_AS, [this] {
        if (CQelDoc* d = activeDocument()) d->onFileSaveAs(activeView() && activeView()->thinned);
    }, true);
    for (int i = 0; i < kRecentFiles; ++i)
        add(ID_FILE_MRU_FILE1 + i, [this, i] {
            const QStringList files = recentFiles();
            if (i < files.size()) openDocumentFile(files[i]);
        });
}

void CMainFrame::createActions() {
    auto add = [this](const Command& c) {
        if (c.id == kSeparator || actions_.contains(c.id)) return;
        auto* a = new QAction(QString::fromUtf8(c.text), this);
        a->setData(c.id);
        QList<QKeySequence> keys;
        for (const QString& k : QString::fromLatin1(c.keys).split(';', Qt::SkipEmptyParts))
            keys << QKeySequence(k, QKeySequence::PortableText);
        a->setShortcuts(keys);
        a->setShortcutContext(Qt::WindowShortcut);
        a->setToolTip(plainText(c.text));
        if (c.prompt) a->setStatusTip(QString::fromUtf8(c.prompt));
        if (c.id == ID_VIEW_TOOLBAR || c.id == ID_VIEW_STATUS_BAR) {
            a->setCheckable(true);
            a->setChecked(true);
        }
        connect(a, &QAction::triggered, this, [this, id = c.id] { runCommand(id); });
        addAction(a);  // shortcuts work whichever menu is shown
        actions_.insert(c.id, a);
    };
    for (const Command& c : documentMenu()) add(c);
    for (const Command& c : startMenu()) add(c);
    // F1 opens the help, as on any desktop; the menu item shows the key.
    actions_.value(ID_HELP_INDEX)->setShortcut(QKeySequence(Qt::Key_F1));
    for (const Command& c : startMenu())
        if (c.id == ID_APP_ABOUT) {
            aboutStartAction_ = new QAction(QString::fromUtf8(c.text), this);
            aboutStartAction_->setData(c.id);
            connect(aboutStartAction_, &QAction::triggered, this, [this] { runCommand(ID_APP_ABOUT); });
        }
    updateToolbarIcons();
    recentPlaceholder_ = action(ID_FILE_MRU_FILE1);
    for (int i = 0; i < kRecentFiles; ++i) {
        auto* a = new QAction(this);
        a->setData(ID_FILE_MRU_FILE1 + i);
        a->setStatusTip(QStringLiteral("指定のﾌｧｲﾙを開きます"));
        connect(a, &QAction::triggered, this, [this, i] { runCommand(ID_FILE_MRU_FILE1 + i); });
        recentActions_ << a;
    }
}

QList<QMenu*> CMainFrame::buildMenus(bool document) {
    QList<QMenu*> tops;
    QHash<QString, QMenu*> menus;
    auto menuFor = [&](const QString& path) {
        if (QMenu* m = menus.value(path)) return m;
        const int cut = path.lastIndexOf('>');
        QMenu* m = nullptr;
        if (cut < 0) {
            m = new QMenu(path, this);
            tops << m;
        } else {
            QMenu* parentMenu = menus.value(path.left(cut));
            m = parentMenu->addMenu(path.mid(cut + 1));
        }
        connect(m, &QMenu::aboutToShow, this, &CMainFrame::updateCommandStates);
        menus.insert(path, m);
        return m;
    };
    for (const Command& c : document ? documentMenu() : startMenu()) {
        if (!c.menu) continue;
        QMenu* m = menuFor(QString::fromUtf8(c.menu));
        if (c.id == kSeparator) m->addSeparator();
        else if (c.id == ID_FILE_MRU_FILE1) {
            m->addAction(recentPlaceholder_);
            m->addActions(recentActions_);
        } else if (c.id == ID_APP_ABOUT && !document) m->addAction(aboutStartAction_);
        else m->addAction(action(c.id));
        if (c.id == ID_WINDOW_NEW)
            connect(m, &QMenu::aboutToShow, this, [this, m] { updateWindowList(m); });
    }
    return tops;
}

void CMainFrame::updateWindowList(QMenu* menu) {
    qDeleteAll(windowListActions_);
    windowListActions_.clear();
    const QList<QMdiSubWindow*> windows = mdi_->subWindowList();
    if (windows.isEmpty()) return;
    windowListActions_ << menu->addSeparator();
    QMdiSubWindow* active = mdi_->activeSubWindow() ? mdi_->activeSubWindow() : mdi_->currentSubWindow();
    for (int i = 0; i < windows.size(); ++i) {
        QMdiSubWindow* w = windows[i];
        const QString number = i < 9 ? QStringLiteral("&%1").arg(i + 1) : QString::number(i + 1);
        QAction* a = menu->addAction(number + QLatin1Char(' ') + QString(w->windowTitle()).replace('&', QStringLiteral("&&")));
        a->setCheckable(true);
        a->setChecked(w == active);
        connect(a, &QAction::triggered, w, [this, w] {
            if (w->isMinimized()) w->showNormal();
            mdi_->setActiveSubWindow(w);
        });
        windowListActions_ << a;
    }
}

void CMainFrame::arrangeIcons() {
    const QRect area = mdi_->viewport()->rect();
    int x = 0;
    int bottom = area.bottom() + 1;
    int rowHeight = 0;
    for (QMdiSubWindow* w : mdi_->subWindowList()) {
        if (!w->isMinimized()) continue;
        const QSize size = w->size();
        if (x > 0 && x + size.width() > area.width()) {  // the row is full: start one above it
            x = 0;
            bottom -= rowHeight;
            rowHeight = 0;
        }
        w->move(x, bottom - size.height());
        x += size.width();
        rowHeight = std::max(rowHeight, size.height());
    }
}

void CMainFrame::showMenus(bool document) {
    if (document == documentMenuShown_ && !menuBar()->actions().isEmpty()) return;
    documentMenuShown_ = document;
    menuBar()->clear();
    for (QMenu* m : document ? documentMenus_ : startMenus_) menuBar()->addMenu(m);
}

QList<QMenu*> CMainFrame::currentMenus() const { return documentMenuShown_ ? documentMenus_ : startMenus_; }

void CMainFrame::updateToolbarIcons() {
    const QColor ink = palette().color(QPalette::ButtonText);
    const QColor window = palette().color(QPalette::Button);
    for (int id : toolbarButtons())
        if (QAction* a = id != kSeparator ? action(id) : nullptr) a->setIcon(toolbarIcon(style(), id, ink, window));
}

void CMainFrame::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // A theme switch between light and dark redraws the glyphs in the new text colour.
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) updateToolbarIcons();
}

// ---------------------------------------------------------------- windows and documents

QList<CChildFrame*> CMainFrame::childFrames() const {
    QList<CChildFrame*> out;
    for (QMdiSubWindow* w : mdi_->subWindowList())
        if (auto* f = qobject_cast<CChildFrame*>(w)) out << f;
    return out;
}

CChildFrame* CMainFrame::activeChild() const {
    QMdiSubWindow* w = mdi_->activeSubWindow();
    if (!w) w = mdi_->currentSubWindow();
    return qobject_cast<CChildFrame*>(w);
}

CQelView* CMainFrame::activeView() const {
    CChildFrame* f = activeChild();
    return f ? f->activeView() : nullptr;
}

CQelDoc* CMainFrame::activeDocument() const {
    CChildFrame* f = activeChild();
    return f ? f->document() : nullptr;
}

CChildFrame* CMainFrame::createFrame(CQelDoc* document) {
    auto* frame = new CChildFrame(document);
    mdi_->addSubWindow(frame);
    connect(frame, &CChildFrame::activeViewChanged, this, &CMainFrame::updateCommandStates);
    connect(frame, &CChildFrame::commandFinished, this, &CMainFrame::updateCommandStates);
    connect(frame, &CChildFrame::statusText, this, &CMainFrame::setMessagePaneText);
    connect(frame, &CChildFrame::infoText, infoPane_, &QLabel::setText);
    connect(frame, &QObject::destroyed, this, [this] { onActiveChildChanged(); }, Qt::QueuedConnection);
    auto retitle = [this, document] {
        QList<CChildFrame*> frames;
        for (CChildFrame* f : childFrames())
            if (f->document() == document) frames << f;
        for (int i = 0; i < frames.size(); ++i)
            frames[i]->setWindowTitle(frames.size() > 1
                                          ? QStringLiteral("%1:%2").arg(document->title()).arg(i + 1) +
                                                (document->isModified() ? QStringLiteral(" *") : QString())
                                          : document->displayTitle());
        updateTitle();
    };
    connect(document, &CQelDoc::titleChanged, frame, retitle);
    connect(frame, &QObject::destroyed, document, retitle, Qt::QueuedConnection);
    retitle();
    frame->fitToPicture();
    frame->show();
    mdi_->setActiveSubWindow(frame);
    if (frame->activeView()) frame->activeView()->setFocus();
    onActiveChildChanged();
    return frame;
}

bool CMainFrame::closeDocument(CQelDoc* document) {
    if (!document->saveModified()) return false;
    document->setModified(false);  // answered: its windows close without asking again
    for (CChildFrame* f : childFrames())
        if (f->document() == document) f->close();
    return true;
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // Every changed document is asked about before anything closes; Cancel keeps them all.
    QList<CQelDoc*> changed;
    for (CChildFrame* f : childFrames())
        if (f->document()->isModified() && !changed.contains(f->document())) changed << f->document();
    for (CQelDoc* d : changed) {
        for (CChildFrame* f : childFrames())
            if (f->document() == d) mdi_->setActiveSubWindow(f);  // the user sees what is asked about
        if (!d->saveModified()) {
            event->ignore();
            return;
        }
    }
    for (CQelDoc* d : changed) d->setModified(false);
    event->accept();
}

CQelDoc* CMainFrame::newDocument() {
    auto* document = new CQelDoc;
    document->onNewDocument();
    createFrame(document);
    return document;
}

CQelDoc* CMainFrame::openDocumentFile(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    for (CChildFrame* f : childFrames())
        if (f->document()->pathName() == absolute) {
            mdi_->setActiveSubWindow(f);
            return f->document();
        }
    auto* document = new CQelDoc;
    if (!document->onOpenDocument(path)) {
        delete document;
        return nullptr;
    }
    addRecentFile(absolute);
    qel::ui::rememberFolder(absolute);
    createFrame(document);
    return document;
}

void CMainFrame::onActiveChildChanged() {
    showMenus(activeChild() != nullptr);
    CQelView* view = activeView();
    infoPane_->setText(view ? view->pointerInfo() : QString());
    updateTitle();
    updateCommandStates();
}

void CMainFrame::updateTitle() {
    CQelDoc* d = activeDocument();
    setWindowTitle(d ? QStringLiteral("Zenpa - %1").arg(d->displayTitle()) : QStringLiteral("Zenpa"));
}

// ---------------------------------------------------------------- commands

void CMainFrame::updateCommandStates() {
    CommandContext ctx;
    CQelView* view = activeView();
    CQelDoc* doc = activeDocument();
    if (doc) {
        ctx.documentWindow = true;
        ctx.picture = doc->bitmap != nullptr;
        ctx.depth = doc->image->bitCount();
    }
    if (view) {
        ctx.thinned = view->thinned != 0;
        ctx.undoEnabled = view->canUndo();
        ctx.redoEnabled = view->canRedo();
    }
    for (const auto* table : {&documentMenu(), &startMenu()})
        for (const Command& c : *table) {
            QAction* a = action(c.id);
            if (!a) continue;
            bool on = qel::cmd::isEnabled(c.rule, ctx);
            const auto own = frameCommands_.constFind(c.id);
            if (own == frameCommands_.cend()) on = on && view && view->hasHandler(c.id);
            else if (own->needsDocument) on = on && doc;
            a->setEnabled(on);
        }
    action(ID_FILE_MRU_FILE1)->setEnabled(false);  // the placeholder shown while the list is empty
    action(ID_VIEW_TOOLBAR)->setChecked(toolBar_ && !toolBar_->isHidden());
    action(ID_VIEW_STATUS_BAR)->setChecked(!statusBar()->isHidden());
}

bool CMainFrame::isCommandEnabled(int id) {
    updateCommandStates();
    if (id == ID_APP_ABOUT) return true;
    QAction* a = action(id);
    return a && a->isEnabled();
}

void CMainFrame::runCommand(int id) {
    const auto own = frameCommands_.constFind(id);
    const bool recent = id >= ID_FILE_MRU_FILE1 && id < ID_FILE_MRU_FILE1 + kRecentFiles;
    updateCommandStates();
    // The recent-file items are not in the table's enabling: they run whenever they are shown.
    if (QAction* a = action(id); a && !a->isEnabled() && !recent) return;
    if (own != frameCommands_.cend()) own->run();
    else if (CQelView* v = activeView()) v->runCommand(id);
    updateCommandStates();
}

void CMainFrame::onFileOpen() {
    qel::ui::FileRequest request;
    request.filter = QStringLiteral(
        "BMP|*.bmp|画像ファイル|*.bmp;*.png;*.jpg;*.jpeg;*.tif;*.tiff;*.webp;*.gif|すべてのファイル|*.*|");
    request.overwritePrompt = true;
    // Every readable format is what a user looks for first; the BMP filter stays in the list.
    request.selectedFilter = QStringLiteral("画像ファイル");
    CQelDoc* active = activeDocument();
    request.directory = qel::ui::startFolder(active ? active->pathName() : QString());
    const QString path = qel::ui::dialogs().openFile(this, request);
    if (!path.isEmpty()) openDocumentFile(path);
}

void CMainFrame::onAppAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CMainFrame::onHelp() {
    if (!helpWindow_) helpWindow_ = new CHelpWindow(this);
    helpWindow_->show();
    helpWindow_->raise();
    helpWindow_->activateWindow();
}

void CMainFrame::onPrintSetup() {
    qel::ui::dialogs().choosePrinter(this, CQelView::sharedPrinter(), qel::ui::PrinterDialog::Setup);
}

// ---------------------------------------------------------------- status bar

void CMainFrame::setMessagePaneText(const QString& text) {
    messagePane_->setText(text);
    messagePane_->repaint();
}

QString CMainFrame::messagePaneText() const { return messagePane_->text(); }

QString CMainFrame::infoPaneText() const { return infoPane_->text(); }

// ---------------------------------------------------------------- recent files

QStringList CMainFrame::recentFiles() const {
    QSettings settings;
    settings.beginGroup(QString::fromLatin1(kRecentGroup));
    QStringList out;
    for (int i = 1; i <= kRecentFiles; ++i) {
        const QString f = settings.value(QStringLiteral("File%1").arg(i)).toString();
        if (!f.isEmpty()) out << f;
    }
    return out;
}

void CMainFrame::addRecentFile(const QString& path) {
    QStringList files = recentFiles();
    files.removeAll(path);
    files.prepend(path);
    while (files.size() > kRecentFiles) files.removeLast();
    QSettings settings;
    settings.beginGroup(QString::fromLatin1(kRecentGroup));
    for (int i = 1; i <= kRecentFiles; ++i) {
        if (i <= files.size()) settings.setValue(QStringLiteral("File%1").arg(i), files[i - 1]);
        else settings.remove(QStringLiteral("File%1").arg(i));
    }
    settings.sync();
    updateRecentActions();
}

void CMainFrame::updateRecentActions() {
    const QStringList files = recentFiles();
    recentPlaceholder_->setVisible(files.isEmpty());
    for (int i = 0; i < kRecentFiles; ++i) {
        QAction* a = recentActions_[i];
        a->setVisible(i < files.size());
        if (i < files.size()) a->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(QDir::toNativeSeparators(files[i])));
    }
}

// ---------------------------------------------------------------- drag and drop

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event) {
    openDroppedFiles(event->mimeData()->urls());
    event->acceptProposedAction();
}

void CMainFrame::openDroppedFiles(const QList<QUrl>& urls) {
    for (const QUrl& url : urls)
        if (url.isLocalFile()) openDocumentFile(url.toLocalFile());
    updateCommandStates();
}
