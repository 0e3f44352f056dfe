// CScaleDlg: "画像伸縮", asks for the new width and height (1 .. 30000 each)
// and whether to average ("補完"). With "縦横比一定" ticked, typing in one edit
// writes the other side, from the picture's proportions, into the other edit.
// The typing logic is qel::ScaleDialogState; the m_ members name its fields.
#pragma once

#include <cstdint>

#include "gui/kit/ddx.h"
#include "core/geometry/geometry.h"

class QCheckBox;
class QLineEdit;

class CScaleDlg : public qel::ui::DdxDialog {
    Q_OBJECT
public:
    // Starts at the picture's size with both check boxes ticked.
    CScaleDlg(int32_t width, int32_t height, QWidget* parent = nullptr);

    qel::ScaleDialogState state;
    int32_t& m_width = state.width;
    int32_t& m_height = state.height;
    int32_t& m_origWidth = state.origWidth;
    int32_t& m_origHeight = state.origHeight;
    int& m_keepAspect = state.keepAspect;
    int& m_interpolate = state.interpolate;
    int& m_editing = state.editing;

    QLineEdit* widthEdit() const { return width_; }
    QLineEdit* heightEdit() const { return height_; }
    QCheckBox* keepAspectBox() const { return keepAspect_; }
    QCheckBox* interpolateBox() const { return interpolate_; }

protected:
    void doDataExchange(qel::ui::DataExchange& dx) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onWidthChanged(const QString& text);
    void onHeightChanged(const QString& text);

    QLineEdit* width_;
    QLineEdit* height_;
    QCheckBox* keepAspect_;
    QCheckBox* interpolate_;
};
