#include "gui/shell/qel_app.h"

#include <QFileInfo>
#include <QLibraryInfo>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTranslator>
#include <cstdio>

#include "gui/shell/main_frame.h"
#include "gui/docview/qel_doc.h"
#include "gui/docview/qel_view.h"

// The resources live in the static GUI library: register them explicitly.
static void initResources() { Q_INIT_RESOURCE(qel); }

QIcon applicationIcon() {
    QIcon bundled;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        bundled.addFile(QStringLiteral(":/qel/icons/qel-%1.png").arg(size), QSize(size, size));
    return QIcon::fromTheme(QString::fromLatin1(kDesktopFileName), bundled);
}

CQelApp::CQelApp(int& argc, char** argv) : QApplication(argc, argv) {
    initResources();
    setOrganizationName(QStringLiteral("Qel"));
    setApplicationName(QStringLiteral("Qel"));
    setApplicationVersion(QStringLiteral("0.20"));
    setDesktopFileName(QString::fromLatin1(kDesktopFileName));
    setWindowIcon(applicationIcon());
    // Qt's own dialogs and standard buttons speak the program's language, whatever the locale.
    auto* qtTexts = new QTranslator(this);
    if (qtTexts->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(qtTexts);
}

CQelApp::~CQelApp() { mainFrame_.reset(); }

CQelApp::StartResult CQelApp::initInstance() {
    QStringList arguments = QApplication::arguments();
    if (!arguments.isEmpty()) arguments.removeFirst();
    if (!arguments.isEmpty() && (arguments[0] == QLatin1String("--print") || arguments[0] == QLatin1String("--print-to"))) {
        const bool to = arguments[0] == QLatin1String("--print-to");
        if (arguments.size() != (to ? 3 : 2)) {
            std::fprintf(stderr, "usage: qel [FILE...] | --print FILE | --print-to PRINTER|OUT.pdf FILE\n");
            return StartResult::Failed;
        }
        return printFile(arguments.last(), to ? arguments[1] : QString()) ? StartResult::Done : StartResult::Failed;
    }
    mainFrame_ = std::make_unique<CMainFrame>();
    const StartResult result = processCommandLine(*mainFrame_, arguments);
    if (result != StartResult::Run) return result;
    mainFrame_->show();
    return StartResult::Run;
}

CQelApp::StartResult CQelApp::processCommandLine(CMainFrame& frame, const QStringList& arguments) {
    if (arguments.isEmpty()) {
        frame.newDocument();
        return StartResult::Run;
    }
    for (const QString& a : arguments)
        if (a.startsWith(QLatin1String("--"))) {
            std::fprintf(stderr, "usage: qel [FILE...] | --print FILE | --print-to PRINTER|OUT.pdf FILE\n");
            return StartResult::Failed;
        }
    // The desktop entry may pass several files: start-up fails only when none of them can be read.
    bool opened = false;
    for (const QString& a : arguments) opened = frame.openDocumentFile(a) != nullptr || opened;
    return opened ? StartResult::Run : StartResult::Failed;
}

bool CQelApp::printFile(const QString& path, const QString& target) {
    CQelDoc document;
    if (!document.onOpenDocument(path)) return false;
    CQelView view(&document);
    QPrinter& printer = CQelView::sharedPrinter();
    if (target.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(target);
    } else {
        const QPrinterInfo info = target.isEmpty() ? QPrinterInfo::defaultPrinter() : QPrinterInfo::printerInfo(target);
        if (info.isNull()) {
            std::fprintf(stderr, "qel: no printer %s\n", target.isEmpty() ? "available" : qPrintable(target));
            return false;
        }
        printer.setPrinterName(info.printerName());
    }
    printer.setDocName(QFileInfo(path).fileName());
    return view.printPicture(printer);
}
