#include "gui/shell/about_dlg.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QStyle>
#include <QTextBrowser>
#include <QToolBar>
#include <QVBoxLayout>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"));
    auto* icon = new QLabel;
    icon->setObjectName(QStringLiteral("icon"));
    icon->setPixmap(QIcon(QStringLiteral(":/qel/icon.png")).pixmap(32, 32));
    auto* text = new QLabel(QStringLiteral("Qel Version 0.20"));
    text->setObjectName(QStringLiteral("version"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addSpacing(12);
    row->addWidget(text, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    // Wide enough for its contents and for the whole title beside the title bar's icon and buttons.
    QFont titleFont = font();
    titleFont.setBold(true);
    const int titleBar = QFontMetrics(titleFont).horizontalAdvance(windowTitle()) +
                         4 * std::max(style()->pixelMetric(QStyle::PM_TitleBarHeight), 2 * fontMetrics().height());
    setFixedSize(sizeHint().expandedTo(QSize(titleBar, 0)));
}

CHelpWindow::CHelpWindow(QWidget* parent) : QDialog(parent), browser_(new QTextBrowser) {
    setWindowTitle(QStringLiteral("Qel ヘルプ"));
    setModal(false);
    browser_->setOpenExternalLinks(false);
    browser_->setOpenLinks(true);
    browser_->setSource(contentsUrl());

    // Back, forward and the contents page, as in any help viewer.
    auto* bar = new QToolBar;
    bar->setObjectName(QStringLiteral("helpToolBar"));
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    QAction* back = bar->addAction(style()->standardIcon(QStyle::SP_ArrowBack), QStringLiteral("戻る"));
    QAction* forward = bar->addAction(style()->standardIcon(QStyle::SP_ArrowForward), QStringLiteral("進む"));
    QAction* home = bar->addAction(style()->standardIcon(QStyle::SP_DirHomeIcon), QStringLiteral("目次"));
    back->setShortcut(QKeySequence::Back);
    forward->setShortcut(QKeySequence::Forward);
    back->setEnabled(false);
    forward->setEnabled(false);
    connect(back, &QAction::triggered, browser_, &QTextBrowser::backward);
    connect(forward, &QAction::triggered, browser_, &QTextBrowser::forward);
    connect(home, &QAction::triggered, this, [this] { browser_->setSource(contentsUrl()); });
    connect(browser_, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
    connect(browser_, &QTextBrowser::sourceChanged, this, [this] {
        const QString title = browser_->documentTitle();
        setWindowTitle(title.isEmpty() ? QStringLiteral("Qel ヘルプ") : title);
    });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar);
    layout->addWidget(browser_);
    resize(640, 560);
}

QUrl CHelpWindow::contentsUrl() { return QUrl(QStringLiteral("qrc:/qel/help/index.html")); }
