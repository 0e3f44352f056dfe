// CThresholdDlg: "白黒にする", asks for the threshold of the black-and-white
// conversion (0 .. 255, starting at 1 every time).
#pragma once

#include <cstdint>

#include "gui/kit/int_entry_dlg.h"

class CThresholdDlg : public IntEntryDlg {
    Q_OBJECT
public:
    explicit CThresholdDlg(QWidget* parent = nullptr);

    int32_t m_threshold = 0;  // starts at the operation's initial value
    // OK: a value outside 0 .. 255 is refused with "0-255の数を入れてください。" before the field checks.
    QLineEdit* thresholdEdit() const { return valueEdit(); }

protected:
    int32_t& value() override { return m_threshold; }
};
