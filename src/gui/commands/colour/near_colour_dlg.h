// CNearColourDlg: "近い色を同じ色にする。", asks for the distance within which
// the near-colour merge makes palette colours equal (0 .. 10,000,000).
#pragma once

#include "gui/kit/int_entry_dlg.h"

class CNearColourDlg : public IntEntryDlg {
    Q_OBJECT
public:
    explicit CNearColourDlg(QWidget* parent = nullptr);

    int32_t m_distance = 0;

protected:
    int32_t& value() override { return m_distance; }
};
