// CApproxReplaceDlg: "近似置換", asks for the precision of approximate
// replacement (0 .. 50,000; 0 moves every table colour to its nearest
// palette colour).
#pragma once

#include "gui/kit/int_entry_dlg.h"

class CApproxReplaceDlg : public IntEntryDlg {
    Q_OBJECT
public:
    explicit CApproxReplaceDlg(QWidget* parent = nullptr);

    int32_t m_precision = 0;

protected:
    int32_t& value() override { return m_precision; }
};
