// CMainFrame: the main window "Zenpa" with the document windows in an MDI
// area, the menus built from the command table (menu 128 without a document
// window, 129 with one), the toolbar and the status bar. It dispatches every
// command: its own (application and document commands) from a table of
// handlers built in registerFrameCommands, the rest to the active view through
// the view command registry. The ｳｨﾝﾄﾞｳ menu lists the open windows below its
// items.
#pragma once

#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QStringList>
#include <functional>

class CChildFrame;
class CQelDoc;
class CQelView;
class QLabel;
class QMdiArea;
class QMenu;
class QAction;
class QToolBar;
class QUrl;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    QMdiArea* mdiArea() const { return mdi_; }
    CChildFrame* activeChild() const;
    CQelView* activeView() const;
    CQelDoc* activeDocument() const;
    QList<CChildFrame*> childFrames() const;

    // New: an empty document in a new window.
    CQelDoc* newDocument();
    // Opens a file in a new window, or activates the window already showing it; null when it cannot be read.
    CQelDoc* openDocumentFile(const QString& path);
    // A new window on a document.
    CChildFrame* createFrame(CQelDoc* document);
    // 閉じる: closes every window of the document, after asking to save it when it has changed.
    bool closeDocument(CQelDoc* document);

    // Runs a command of the table as the menu would (if enabled).
    void runCommand(int id);
    // Recomputes the enabling of every action from the active document and view.
    void updateCommandStates();
    bool isCommandEnabled(int id);
    QAction* action(int id) const { return actions_.value(id); }
    QToolBar* toolBar() const { return toolBar_; }

    // The menus in the menu bar now (129 when a document window is active, else 128).
    QList<QMenu*> currentMenus() const;
    bool showsDocumentMenu() const { return documentMenuShown_; }

    void setMessagePaneText(const QString& text);
    QString messagePaneText() const;
    // The second pane: zoom, and the picture position and colour under the pointer.
    QString infoPaneText() const;

    // Files dropped on the window: each local file opens as a document.
    void openDroppedFiles(const QList<QUrl>& urls);

    QStringList recentFiles() const;
    void addRecentFile(const QString& path);

    // Application commands.
    void onFileOpen();
    void onAppAbout();
    void onHelp();
    void onPrintSetup();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void registerFrameCommands();
    void createActions();
    QList<QMenu*> buildMenus(bool documentMenu);
    // The open windows below the items of ｳｨﾝﾄﾞｳ, numbered, the active one checked.
    void updateWindowList(QMenu* menu);
    // ｱｲｺﾝの整列: the minimised windows in rows along the bottom of the area, left to right.
    void arrangeIcons();
    void showMenus(bool documentMenu);
    void updateRecentActions();
    void updateToolbarIcons();
    void updateTitle();
    void onActiveChildChanged();

    QMdiArea* mdi_;
    QToolBar* toolBar_;
    QLabel* messagePane_;
    QLabel* infoPane_;
    QHash<int, QAction*> actions_;
    struct FrameCommand {
        std::function<void()> run;
        bool needsDocument = false;  // enabled only with an active document window
    };
    QHash<int, FrameCommand> frameCommands_;
    QAction* aboutStartAction_ = nullptr;  // the About item of menu 128 (its text differs)
    QAction* recentPlaceholder_ = nullptr;
    QList<QAction*> recentActions_;
    QList<QMenu*> startMenus_;
    QList<QMenu*> documentMenus_;
    QList<QAction*> windowListActions_;
    bool documentMenuShown_ = false;
    QWidget* helpWindow_ = nullptr;
};
