// IntEntryDlg: the palette window's small modal dialogs that ask for one
// non-negative whole number (the precision of approximate replacement, the
// distance of the near-colour merge). OK refuses a negative value with
// "正の数を入れてください。" before the field check; the field check then refuses
// text that is not an integer and values above the dialog's maximum.
#pragma once

#include <QString>
#include <cstdint>

#include "gui/kit/ddx.h"

class QLineEdit;

class IntEntryDlg : public qel::ui::DdxDialog {
    Q_OBJECT
public:
    IntEntryDlg(const QString& title, const QString& prompt, int32_t maximum, QWidget* parent);

    QLineEdit* valueEdit() const { return edit_; }
    void accept() override;

protected:
    void doDataExchange(qel::ui::DataExchange& dx) override;
    // The member the field is bound to.
    virtual int32_t& value() = 0;

private:
    QLineEdit* edit_;
    int32_t maximum_;
};
