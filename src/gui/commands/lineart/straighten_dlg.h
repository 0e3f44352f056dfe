// CStraightenDlg: "直線化", asks for the length in pixels of the straight
// segments that replace the thinned strokes. OK refuses a length below 1.
#pragma once

#include <cstdint>

#include "gui/kit/int_entry_dlg.h"

class CStraightenDlg : public IntEntryDlg {
    Q_OBJECT
public:
    explicit CStraightenDlg(QWidget* parent = nullptr);

    int32_t m_length = 0;
    // OK: a length below 1 (or text that is no integer) is refused with "1以上の数を入れてください。"
    // and the dialog stays open on the field.
    QLineEdit* lengthEdit() const { return valueEdit(); }

protected:
    int32_t& value() override { return m_length; }
};
