// The about box and the help window.
#pragma once

#include <QDialog>
#include <QUrl>

class QTextBrowser;

// "ﾊﾞｰｼﾞｮﾝ情報": the program's icon, "Qel Version 0.20" and OK.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

// The help pages shipped with the program (a contents page linking one page per menu), in a window of
// their own with back, forward and contents buttons.
class CHelpWindow : public QDialog {
    Q_OBJECT
public:
    explicit CHelpWindow(QWidget* parent = nullptr);
    QTextBrowser* browser() const { return browser_; }
    static QUrl contentsUrl();

private:
    QTextBrowser* browser_;
};
