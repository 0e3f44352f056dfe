// IntEntryDlg: the small modal dialog that asks for one whole number, shared by
// the one-number dialogs (the black-and-white threshold, the straightening
// length, the palette window's precision and distance). OK first refuses a
// value outside the dialog's range with its own message (text that is no
// integer reads as 0 there); the field check then refuses text that is not an
// integer and, where the dialog says so, values beyond the field's bounds.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

#include "gui/kit/ddx.h"
#include "gui/kit/dialog_service.h"

class QLineEdit;

class IntEntryDlg : public qel::ui::DdxDialog {
    Q_OBJECT
public:
    struct Form {
        QString title, prompt;
        QString fieldName;   // the edit's object name
        QString cancelText;
        int32_t okMin, okMax;  // OK refuses values outside with the message below
        QString refusal, refusalTitle;
        qel::ui::Icon refusalIcon;
        std::optional<std::pair<int32_t, int32_t>> fieldBounds = {};  // the field check's bounds, if any
        bool wide = false;  // a wrapped prompt in a dialog at least 320 pixels wide
    };

    IntEntryDlg(const Form& form, QWidget* parent);

    QLineEdit* valueEdit() const { return edit_; }
    void accept() override;

protected:
    void doDataExchange(qel::ui::DataExchange& dx) override;
    // The member the field is bound to.
    virtual int32_t& value() = 0;

private:
    Form form_;
    QLineEdit* edit_;
};
