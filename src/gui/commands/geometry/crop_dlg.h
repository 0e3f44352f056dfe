// CCropDlg: "切り抜き", the rectangle of the picture to keep: its top left x, y and
// its width and height, starting at the whole picture. OK refuses a rectangle that
// does not lie inside the picture.
#pragma once

#include <cstdint>

#include "gui/kit/ddx.h"

class QLineEdit;

class CCropDlg : public qel::ui::DdxDialog {
    Q_OBJECT
public:
    // Starts at 0, 0 and the picture's size.
    CCropDlg(int32_t pictureWidth, int32_t pictureHeight, QWidget* parent = nullptr);

    int32_t m_x = 0;
    int32_t m_y = 0;
    int32_t m_width = 0;
    int32_t m_height = 0;

    QLineEdit* xEdit() const { return x_; }
    QLineEdit* yEdit() const { return y_; }
    QLineEdit* widthEdit() const { return width_; }
    QLineEdit* heightEdit() const { return height_; }

protected:
    void doDataExchange(qel::ui::DataExchange& dx) override;

private:
    int32_t pictureWidth_, pictureHeight_;
    QLineEdit* x_;
    QLineEdit* y_;
    QLineEdit* width_;
    QLineEdit* height_;
};
