#include "gui/shell/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
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
#include "gui/docview/qel_doc.h"
#include "gui/docview/qel_view.h"

using namespace qel::cmd;

namespace {
constexpr int kRecentFiles = 4;
const char* const kRecentGroup = "Recent File List";

// A 16 x 15 toolbar glyph for the edit, print and about buttons.
QIcon drawnIcon(int id) {
    QPixmap pm(16, 15);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(Qt::black);
    switch (id) {
    case ID_EDIT_CUT:
        p.drawEllipse(QRect(2, 9, 4, 4));
        p.drawEllipse(QRect(9, 9, 4, 4));
        p.drawLine(5, 9, 11, 1);
        p.drawLine(10, 9, 4, 1);
        break;
    case ID_EDIT_COPY:
        p.fillRect(QRect(1, 1, 8, 9), Qt::white);
        p.drawRect(QRect(1, 1, 8, 9));
        p.fillRect(QRect(6, 4, 8, 9), Qt::white);
        p.drawRect(QRect(6, 4, 8, 9));
        break;
    case ID_EDIT_PASTE:
        p.fillRect(QRect(2, 2, 10, 12), QColor(160, 120, 60));
        p.drawRect(QRect(2, 2, 10, 12));
        p.fillRect(QRect(7, 6, 7, 8), Qt::white);
        p.drawRect(QRect(7, 6, 7, 8));
        break;
    case ID_FILE_PRINT:
        p.fillRect(QRect(4, 1, 8, 5), Qt::white);
        p.drawRect(QRect(4, 1, 8, 5));
        p.fillRect(QRect(1, 6, 14, 6), Qt::lightGray);
        p.drawRect(QRect(1, 6, 14, 6));
        break;
    default:
        p.setFont(QFont(QStringLiteral("Sans"), 10, QFont::Bold));
        p.drawText(pm.rect(), Qt::AlignCenter, QStringLiteral("?"));
        break;
    }
    return QIcon(pm);
}

QIcon toolbarIcon(QStyle* style, int id) {
    switch (id) {
    case ID_FILE_NEW: return style->standardIcon(QStyle::SP_FileIcon);
    case ID_FILE_OPEN: return style->standardIcon(QStyle::SP_DialogOpenButton);
    case ID_FILE_SAVE: return style->standardIcon(QStyle::SP_DialogSaveButton);
    default: return drawnIcon(id);
    }
}

// The item text without its accelerator part and mnemonic, for tool tips.
QString plainText(const char* text) {
    QString s = QString::fromUtf8(text);
    s = s.section('\t', 0, 0);
    s.remove(QRegularExpression(QStringLiteral("\\(&.\\)"))).remove('&');
    return s.trimmed();
}

bool isDocumentCommand(int id) { return id == ID_FILE_CLOSE || id == ID_FILE_SAVE || id == ID_FILE_SAVE_AS; }

bool isApplicationCommand(int id) {
    switch (id) {
    case ID_FILE_NEW: case ID_FILE_OPEN: case ID_FILE_PRINT_SETUP: case ID_APP_EXIT: case ID_APP_ABOUT:
    case ID_HELP_INDEX: case ID_VIEW_TOOLBAR: case ID_VIEW_STATUS_BAR: case ID_WINDOW_NEW: case ID_WINDOW_CASCADE:
    case ID_WINDOW_TILE_HORZ: case ID_WINDOW_ARRANGE: case ID_NEXT_PANE: case ID_PREV_PANE:
        return true;
    default:
        return id >= ID_FILE_MRU_FILE1 && id < ID_FILE_MRU_FILE1 + kRecentFiles;
    }
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
    QStyle* s = style();
    for (int id : toolbarButtons())
        if (id != kSeparator) action(id)->setIcon(toolbarIcon(s, id));
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
    }
    return tops;
}

void CMainFrame::showMenus(bool document) {
    if (document == documentMenuShown_ && !menuBar()->actions().isEmpty()) return;
    documentMenuShown_ = document;
    menuBar()->clear();
    for (QMenu* m : document ? documentMenus_ : startMenus_) menuBar()->addMenu(m);
}

QList<QMenu*> CMainFrame::currentMenus() const { return documentMenuShown_ ? documentMenus_ : startMenus_; }

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
    connect(frame, &QObject::destroyed, this, [this] { onActiveChildChanged(); }, Qt::QueuedConnection);
    auto retitle = [this, document] {
        QList<CChildFrame*> frames;
        for (CChildFrame* f : childFrames())
            if (f->document() == document) frames << f;
        for (int i = 0; i < frames.size(); ++i)
            frames[i]->setWindowTitle(frames.size() > 1 ? QStringLiteral("%1:%2").arg(document->title()).arg(i + 1)
                                                        : document->title());
        updateTitle();
    };
    connect(document, &CQelDoc::titleChanged, frame, retitle);
    connect(frame, &QObject::destroyed, document, retitle, Qt::QueuedConnection);
    retitle();
    frame->resize(std::min(std::max(document->scrollWidth + 40, 200), 640),
                  std::min(std::max(document->scrollHeight + 60, 150), 480));
    frame->show();
    mdi_->setActiveSubWindow(frame);
    if (frame->activeView()) frame->activeView()->setFocus();
    onActiveChildChanged();
    return frame;
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
    createFrame(document);
    return document;
}

void CMainFrame::onActiveChildChanged() {
    showMenus(activeChild() != nullptr);
    updateTitle();
    updateCommandStates();
}

void CMainFrame::updateTitle() {
    CQelDoc* d = activeDocument();
    setWindowTitle(d ? QStringLiteral("Zenpa - %1").arg(d->title()) : QStringLiteral("Zenpa"));
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
            if (isDocumentCommand(c.id)) on = on && doc;
            else if (!isApplicationCommand(c.id)) on = on && view && view->hasHandler(c.id);
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
    if (id >= ID_FILE_MRU_FILE1 && id < ID_FILE_MRU_FILE1 + kRecentFiles) {
        const QStringList files = recentFiles();
        const int i = id - ID_FILE_MRU_FILE1;
        if (i < files.size()) openDocumentFile(files[i]);
        updateCommandStates();
        return;
    }
    updateCommandStates();
    if (QAction* a = action(id); a && !a->isEnabled()) return;
    CChildFrame* frame = activeChild();
    switch (id) {
    case ID_FILE_NEW: newDocument(); break;
    case ID_FILE_OPEN: onFileOpen(); break;
    case ID_FILE_PRINT_SETUP: onPrintSetup(); break;
    case ID_APP_EXIT: close(); break;
    case ID_APP_ABOUT: onAppAbout(); break;
    case ID_HELP_INDEX: onHelp(); break;
    case ID_VIEW_TOOLBAR: toolBar_->setVisible(toolBar_->isHidden()); break;
    case ID_VIEW_STATUS_BAR: statusBar()->setVisible(statusBar()->isHidden()); break;
    case ID_WINDOW_NEW:
        if (frame) createFrame(frame->document());
        break;
    case ID_WINDOW_CASCADE: mdi_->cascadeSubWindows(); break;
    case ID_WINDOW_TILE_HORZ: mdi_->tileSubWindows(); break;
    case ID_WINDOW_ARRANGE:
        for (QMdiSubWindow* w : mdi_->subWindowList())
            if (w->isMinimized()) w->showMinimized();
        break;
    case ID_NEXT_PANE:
    case ID_PREV_PANE:
        if (frame) frame->activateNextPane(id == ID_PREV_PANE);
        break;
    case ID_FILE_CLOSE:
        if (frame) frame->close();
        break;
    case ID_FILE_SAVE:
        if (CQelDoc* d = activeDocument()) d->onFileSave();
        break;
    case ID_FILE_SAVE_AS:
        if (CQelDoc* d = activeDocument()) d->onFileSaveAs();
        break;
    default:
        if (CQelView* v = activeView()) v->runCommand(id);
        break;
    }
    updateCommandStates();
}

void CMainFrame::onFileOpen() {
    qel::ui::FileRequest request;
    request.filter = QStringLiteral(
        "BMP|*.bmp|画像ファイル|*.bmp;*.png;*.jpg;*.jpeg;*.tif;*.tiff;*.webp;*.gif|すべてのファイル|*.*|");
    request.overwritePrompt = true;
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
