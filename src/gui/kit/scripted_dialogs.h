// ScriptedDialogService: a DialogService for tests. It records every dialog
// the program shows and answers from a queue filled by the test; with the
// queue empty a message box answers Ok (or No when it has no Ok
// button), a file dialog answers empty and a colour dialog cancels.
#pragma once

#include <QColor>
#include <QString>
#include <deque>
#include <optional>
#include <variant>
#include <vector>

#include "gui/kit/dialog_service.h"

namespace qel::ui {

struct ShownDialog {
    enum Kind { Message, OpenFile, SaveFile, Colour, Printer };
    Kind kind = Message;
    QString text;   // message text
    QString title;  // message title or dialog title
    Buttons buttons = Buttons::Ok;
    Icon icon = Icon::None;
    FileRequest file;  // file dialogs
};

class ScriptedDialogService : public DialogService {
public:
    using Reply = std::variant<Answer, QString, std::optional<QColor>, bool>;

    void answer(Answer a) { replies_.push_back(a); }
    void answerPath(const QString& path) { replies_.push_back(path); }
    void answerColour(std::optional<QColor> c) { replies_.push_back(c); }
    void answerPrinter(bool confirmed) { replies_.push_back(confirmed); }

    const std::vector<ShownDialog>& shown() const { return shown_; }
    // The message boxes only, as "title: text" lines.
    QStringList messages() const;
    void clear() { shown_.clear(); replies_.clear(); }
    size_t pendingReplies() const { return replies_.size(); }

    Answer message(QWidget* owner, const QString& text, const QString& title, Buttons buttons, Icon icon) override;
    QString openFile(QWidget* owner, const FileRequest& request) override;
    QString saveFile(QWidget* owner, const FileRequest& request) override;
    std::optional<QColor> chooseColour(QWidget* owner, const QColor& initial) override;
    bool choosePrinter(QWidget* owner, QPrinter& printer, PrinterDialog kind) override;

private:
    template <class T>
    std::optional<T> next() {
        if (replies_.empty() || !std::holds_alternative<T>(replies_.front())) return std::nullopt;
        T value = std::get<T>(replies_.front());
        replies_.pop_front();
        return value;
    }
    std::deque<Reply> replies_;
    std::vector<ShownDialog> shown_;
};

}  // namespace qel::ui
