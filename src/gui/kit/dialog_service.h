// DialogService: the one door through which the program shows message boxes,
// file dialogs, the colour dialog and the printer dialogs. The program talks
// to whatever service is installed; the Qt service shows real dialogs, tests
// install a ScriptedDialogService that records what was shown and answers
// from a queue.
#pragma once

#include <QColor>
#include <QString>
#include <memory>
#include <optional>

class QWidget;
class QPrinter;

namespace qel::ui {

enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };
enum class Answer { Ok, Cancel, Yes, No };
enum class Icon { None, Information, Warning, Error, Question };

// A file dialog request. `filter` is written as "Name|pattern|Name|pattern|"
// (e.g. "BMP(*.bmp)|*.bmp|"); `defaultExtension` has no dot and is appended
// when the chosen name has none; `initialName` may be a wildcard such as
// "*.bmp", which only selects the filter. `directory` is the folder the dialog
// starts in (empty: wherever Qt starts); `selectedFilter` names the filter
// selected at the start (empty: the one of the default extension).
struct FileRequest {
    QString filter;
    QString defaultExtension;
    QString initialName;
    QString title;
    bool overwritePrompt = true;
    QString directory;
    QString selectedFilter;
};

// Where Open and Save As start: the folder of `documentPath` when the document has a file, else the
// last folder a picture was opened from or saved to (kept in the settings, so also in later runs),
// else the user's picture folder.
QString startFolder(const QString& documentPath);
// Remembers the folder of a file chosen in Open or Save As.
void rememberFolder(const QString& chosenPath);

enum class PrinterDialog { Print, Setup };

class DialogService {
public:
    virtual ~DialogService() = default;
    // A message box; the answer names the button pressed (closing it answers Cancel or No).
    virtual Answer message(QWidget* owner, const QString& text, const QString& title, Buttons buttons = Buttons::Ok,
                           Icon icon = Icon::None) = 0;
    // The chosen path, or empty when cancelled.
    virtual QString openFile(QWidget* owner, const FileRequest& request) = 0;
    virtual QString saveFile(QWidget* owner, const FileRequest& request) = 0;
    // The chosen colour, or nothing when cancelled.
    virtual std::optional<QColor> chooseColour(QWidget* owner, const QColor& initial) = 0;
    // The print or printer-setup dialog on `printer`; true when confirmed.
    virtual bool choosePrinter(QWidget* owner, QPrinter& printer, PrinterDialog kind) = 0;
};

// The service the program uses; a QtDialogService until another is installed.
DialogService& dialogs();
// Installs a service and returns the previous one (tests restore it afterwards).
std::unique_ptr<DialogService> installDialogService(std::unique_ptr<DialogService> service);

// Shows real Qt dialogs.
class QtDialogService : public DialogService {
public:
    Answer message(QWidget* owner, const QString& text, const QString& title, Buttons buttons, Icon icon) override;
    QString openFile(QWidget* owner, const FileRequest& request) override;
    QString saveFile(QWidget* owner, const FileRequest& request) override;
    std::optional<QColor> chooseColour(QWidget* owner, const QColor& initial) override;
    bool choosePrinter(QWidget* owner, QPrinter& printer, PrinterDialog kind) override;
};

// "Name|pattern|..." as a Qt name-filter list ("Name (pattern);;..."); patterns match either case.
QString qtNameFilters(const QString& filter);

}  // namespace qel::ui
