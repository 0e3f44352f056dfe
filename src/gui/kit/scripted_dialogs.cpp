#include "gui/kit/scripted_dialogs.h"

#include <QStringList>

namespace qel::ui {

QStringList ScriptedDialogService::messages() const {
    QStringList out;
    for (const auto& s : shown_)
        if (s.kind == ShownDialog::Message) out << s.title + ": " + s.text;
    return out;
}

Answer ScriptedDialogService::message(QWidget*, const QString& text, const QString& title, Buttons buttons, Icon icon) {
    shown_.push_back({ShownDialog::Message, text, title, buttons, icon, {}});
    if (auto a = next<Answer>()) return *a;
    switch (buttons) {
    case Buttons::Ok:
    case Buttons::OkCancel: return Answer::Ok;
    case Buttons::YesNo: return Answer::No;
    case Buttons::YesNoCancel: return Answer::No;
    }
    return Answer::Cancel;
}

QString ScriptedDialogService::openFile(QWidget*, const FileRequest& request) {
    shown_.push_back({ShownDialog::OpenFile, {}, request.title, Buttons::OkCancel, Icon::None, request});
    return next<QString>().value_or(QString());
}

QString ScriptedDialogService::saveFile(QWidget*, const FileRequest& request) {
    shown_.push_back({ShownDialog::SaveFile, {}, request.title, Buttons::OkCancel, Icon::None, request});
    return next<QString>().value_or(QString());
}

std::optional<QColor> ScriptedDialogService::chooseColour(QWidget*, const QColor&) {
    shown_.push_back({ShownDialog::Colour, {}, {}, Buttons::OkCancel, Icon::None, {}});
    return next<std::optional<QColor>>().value_or(std::nullopt);
}

bool ScriptedDialogService::choosePrinter(QWidget*, QPrinter&, PrinterDialog kind) {
    shown_.push_back({ShownDialog::Printer, {}, kind == PrinterDialog::Print ? "print" : "setup", Buttons::OkCancel,
                      Icon::None, {}});
    return next<bool>().value_or(false);
}

}  // namespace qel::ui
