// The about box and the help window.
#pragma once

#include <QDialog>

class QTextBrowser;

// "ﾊﾞｰｼﾞｮﾝ情報": the program's icon, "Qel Version 0.20" and OK.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

// The help page shipped with the program, in a window of its own.
class CHelpWindow : public QDialog {
    Q_OBJECT
public:
    explicit CHelpWindow(QWidget* parent = nullptr);
    QTextBrowser* browser() const { return browser_; }

private:
    QTextBrowser* browser_;
};
