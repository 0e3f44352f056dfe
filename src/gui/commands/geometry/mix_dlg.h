// CMixDlg: "混合", the file to blend in, the blend ratio, the rectangle of the
// file and where it goes in the picture, and the transparent colour. "参照"
// picks the file through the dialog service.
#pragma once

#include <QString>
#include <cstdint>

#include "gui/kit/ddx.h"

class QLineEdit;
class QPushButton;

class CMixDlg : public qel::ui::DdxDialog {
    Q_OBJECT
public:
    explicit CMixDlg(QWidget* parent = nullptr);

    QString m_fileName;
    QString m_documentPath;  // the picture mixed into: 参照 starts in its folder
    float m_ratio = 0.5f;
    int32_t m_rectHeight = 0;
    int32_t m_rectWidth = 0;
    int32_t m_copyX = 0;
    int32_t m_copyY = 0;
    int32_t m_startX = 0;
    int32_t m_startY = 0;
    int32_t m_keyBlue = 205;
    int32_t m_keyGreen = 205;
    int32_t m_keyRed = 205;

    // The browse button: a BMP file chosen in the open dialog goes into the file name and its edit.
    void onBrowse();

    QLineEdit* fileNameEdit() const { return fileName_; }
    QLineEdit* ratioEdit() const { return ratio_; }
    QLineEdit* rectHeightEdit() const { return rectHeight_; }
    QLineEdit* rectWidthEdit() const { return rectWidth_; }
    QLineEdit* copyXEdit() const { return copyX_; }
    QLineEdit* copyYEdit() const { return copyY_; }
    QLineEdit* startXEdit() const { return startX_; }
    QLineEdit* startYEdit() const { return startY_; }
    QLineEdit* keyBlueEdit() const { return keyBlue_; }
    QLineEdit* keyGreenEdit() const { return keyGreen_; }
    QLineEdit* keyRedEdit() const { return keyRed_; }
    QPushButton* browseButton() const { return browse_; }

protected:
    void doDataExchange(qel::ui::DataExchange& dx) override;

private:
    QLineEdit* fileName_;
    QLineEdit* ratio_;
    QLineEdit* rectHeight_;
    QLineEdit* rectWidth_;
    QLineEdit* copyX_;
    QLineEdit* copyY_;
    QLineEdit* startX_;
    QLineEdit* startY_;
    QLineEdit* keyBlue_;
    QLineEdit* keyGreen_;
    QLineEdit* keyRed_;
    QPushButton* browse_;
};
