#include "gui/kit/dialog_service.h"

#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>

namespace qel::ui {

namespace {
std::unique_ptr<DialogService>& current() {
    static std::unique_ptr<DialogService> service = std::make_unique<QtDialogService>();
    return service;
}

QString withDefaultExtension(QString path, const QString& extension) {
    if (path.isEmpty() || extension.isEmpty()) return path;
    if (QFileInfo(path).suffix().isEmpty()) path += "." + extension;
    return path;
}

// The extension of a Qt name filter's first pattern ("PNG (*.png *.PNG)" gives "png"), empty for "*".
QString firstExtension(const QString& nameFilter) {
    const int at = nameFilter.indexOf(QStringLiteral("(*."));
    if (at < 0) return {};
    const int end = nameFilter.indexOf(QRegularExpression(QStringLiteral("[ );]")), at + 3);
    return nameFilter.mid(at + 3, end < 0 ? -1 : end - at - 3);
}

const char* const kFileDialogSizeKey = "Settings/FileDialogSize";
const char* const kFileDialogStateKey = "Settings/FileDialogState";
const QSize kFileDialogSize(860, 540);

// Runs a file dialog in the mode given and returns the chosen path. With several filters
// the default extension follows the filter chosen, starting from the one `initialName` names.
QString runFileDialog(QWidget* owner, const FileRequest& r, QFileDialog::AcceptMode mode) {
    QFileDialog dialog(owner, r.title);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    const QStringList filters = qtNameFilters(r.filter).split(";;", Qt::SkipEmptyParts);
    dialog.setNameFilters(filters);
    if (!r.defaultExtension.isEmpty()) dialog.setDefaultSuffix(r.defaultExtension);
    if (!r.overwritePrompt) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!r.directory.isEmpty()) dialog.setDirectory(r.directory);
    if (!r.initialName.isEmpty() && !r.initialName.contains('*')) dialog.selectFile(r.initialName);
    if (!r.selectedFilter.isEmpty())
        for (const QString& f : filters)
            if (f.startsWith(r.selectedFilter + QLatin1Char(' '))) dialog.selectNameFilter(f);
    if (!r.defaultExtension.isEmpty() && filters.size() > 1) {
        if (r.selectedFilter.isEmpty())
            for (const QString& f : filters)
                if (firstExtension(f) == r.defaultExtension) dialog.selectNameFilter(f);
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& f) {
            if (const QString ext = firstExtension(f); !ext.isEmpty()) dialog.setDefaultSuffix(ext);
        });
    }
    // Large enough to show the names, sizes and dates at first; then as the user left it, in this run
    // and the next ones (its size, view and columns).
    QSettings settings;
    const QSize size = settings.value(QString::fromLatin1(kFileDialogSizeKey), kFileDialogSize).toSize();
    dialog.resize(size.isValid() ? size : kFileDialogSize);
    dialog.restoreState(settings.value(QString::fromLatin1(kFileDialogStateKey)).toByteArray());
    const int result = dialog.exec();
    settings.setValue(QString::fromLatin1(kFileDialogSizeKey), dialog.size());
    settings.setValue(QString::fromLatin1(kFileDialogStateKey), dialog.saveState());
    if (result != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return withDefaultExtension(dialog.selectedFiles().first(), dialog.defaultSuffix());
}
}  // namespace

DialogService& dialogs() { return *current(); }

namespace {
const char* const kLastFolderKey = "Settings/LastFolder";
}

QString startFolder(const QString& documentPath) {
    if (!documentPath.isEmpty()) {
        const QFileInfo folder(QFileInfo(documentPath).absolutePath());
        if (folder.isDir()) return folder.absoluteFilePath();
    }
    const QString last = QSettings().value(QString::fromLatin1(kLastFolderKey)).toString();
    if (!last.isEmpty() && QFileInfo(last).isDir()) return last;
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return !pictures.isEmpty() && QFileInfo(pictures).isDir() ? pictures : QDir::homePath();
}

void rememberFolder(const QString& chosenPath) {
    if (chosenPath.isEmpty()) return;
    QSettings settings;
    settings.setValue(QString::fromLatin1(kLastFolderKey), QFileInfo(chosenPath).absolutePath());
    settings.sync();
}

std::unique_ptr<DialogService> installDialogService(std::unique_ptr<DialogService> service) {
    auto previous = std::move(current());
    current() = service ? std::move(service) : std::make_unique<QtDialogService>();
    return previous;
}

QString qtNameFilters(const QString& filter) {
    const QStringList parts = filter.split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) continue;
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(';', Qt::SkipEmptyParts)) {
            if (p == "*.*") {  // every file, with or without an extension
                patterns << "*";
                continue;
            }
            patterns << p;
            if (p != p.toUpper()) patterns << p.toUpper();
        }
        // A name that already lists its patterns ("BMP(*.bmp)") gives them up for the full list.
        QString name = parts[i];
        if (name.endsWith(')')) {
            const qsizetype open = name.lastIndexOf('(');
            const QString listed = name.mid(open + 1, name.size() - open - 2);
            if (open >= 0 && listed.split(';') == parts[i + 1].split(';'))
                name = name.left(open).trimmed();
        }
        out << name + " (" + patterns.join(' ') + ")";
    }
    return out.join(";;");
}

Answer QtDialogService::message(QWidget* owner, const QString& text, const QString& title, Buttons buttons, Icon icon) {
    QMessageBox box(owner);
    box.setWindowTitle(title);
    box.setText(text);
    switch (icon) {
    case Icon::None: box.setIcon(QMessageBox::NoIcon); break;
    case Icon::Information: box.setIcon(QMessageBox::Information); break;
    case Icon::Warning: box.setIcon(QMessageBox::Warning); break;
    case Icon::Error: box.setIcon(QMessageBox::Critical); break;
    case Icon::Question: box.setIcon(QMessageBox::Question); break;
    }
    switch (buttons) {
    case Buttons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case Buttons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case Buttons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case Buttons::YesNoCancel: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel); break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok: return Answer::Ok;
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    default: return buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
    }
}

QString QtDialogService::openFile(QWidget* owner, const FileRequest& request) {
    return runFileDialog(owner, request, QFileDialog::AcceptOpen);
}

QString QtDialogService::saveFile(QWidget* owner, const FileRequest& request) {
    return runFileDialog(owner, request, QFileDialog::AcceptSave);
}

std::optional<QColor> QtDialogService::chooseColour(QWidget* owner, const QColor& initial) {
    QColorDialog dialog(initial, owner);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.selectedColor();
}

bool QtDialogService::choosePrinter(QWidget* owner, QPrinter& printer, PrinterDialog kind) {
    if (kind == PrinterDialog::Setup) {
        // The printer and, through its properties, the paper; nothing is printed.
        QPrintDialog dialog(&printer, owner);
        dialog.setWindowTitle(QStringLiteral("ﾌﾟﾘﾝﾀの設定"));
        dialog.setOptions(QAbstractPrintDialog::PrintDialogOptions());
        return dialog.exec() == QDialog::Accepted;
    }
    QPrintDialog dialog(&printer, owner);
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace qel::ui
