#include <gtest/gtest.h>

#include "core/geometry/screen_grab.h"
#include "support/text_image.h"

namespace qel {
namespace {

// A 10 x 8 screen whose pixel (x, y) is red x, green y, blue 7.
DisplayBitmap screen() {
    DisplayBitmap s;
    s.width = 10;
    s.height = 8;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 10; ++x) s.pixels.push_back(packRgb(Rgb{uint8_t(x), uint8_t(y), 7}));
    return s;
}

TEST(ScreenGrabTest, EitherDragDirectionGivesTheSameRectangle) {
    struct Case { int px, py, rx, ry; };
    const Case cases[] = {{2, 1, 7, 4}, {7, 4, 2, 1}, {2, 4, 7, 1}, {7, 1, 2, 4}};
    for (const auto& c : cases) {
        const CaptureRect r = captureRectangle(c.px, c.py, c.rx, c.ry);
        EXPECT_EQ(r.x, 2);
        EXPECT_EQ(r.y, 1);
        EXPECT_EQ(r.cx, 5);  // column 7 lies just outside
        EXPECT_EQ(r.cy, 3);
    }
}

TEST(ScreenGrabTest, RectangleBecomesA24BitPictureWithPaddedRows) {
    DibImage img;
    ASSERT_EQ(fromScreen(img, screen(), captureRectangle(7, 4, 2, 1)).status, OpStatus::Changed);
    const auto h = img.header();
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 5);
    EXPECT_EQ(h.biHeight, 3);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_EQ(h.biSizeImage, 48u);  // 15 bytes per row padded to 16
    EXPECT_EQ(h.biXPelsPerMeter, 4740);
    EXPECT_EQ(h.biYPelsPerMeter, 4740);
    EXPECT_EQ(h.biClrUsed, 0u);
    EXPECT_EQ(img.infoSize(), 40);
    EXPECT_EQ(img.bitsSize(), 48);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) EXPECT_EQ(img.colourAt(x, y), (Rgb{uint8_t(2 + x), uint8_t(1 + y), 7}));
    for (int row = 0; row < 3; ++row) EXPECT_EQ(img.bits[row * 16 + 15], 0);
    EXPECT_EQ(img.displayBitmap->colour(4, 2), (Rgb{6, 3, 7}));
}

TEST(ScreenGrabTest, EmptyRectangleLeavesTheDocumentEmpty) {
    for (auto r : {captureRectangle(3, 3, 3, 6), captureRectangle(3, 3, 6, 3), captureRectangle(3, 3, 3, 3)}) {
        DibImage img;
        EXPECT_EQ(fromScreen(img, screen(), r).status, OpStatus::Refused);
        EXPECT_FALSE(img.hasPicture());
        EXPECT_TRUE(img.info.empty());
        EXPECT_TRUE(img.bits.empty());
    }
}

TEST(ScreenGrabTest, PartsOutsideTheScreenAreBlack) {
    DibImage img;
    ASSERT_EQ(fromScreen(img, screen(), CaptureRect{8, 6, 3, 3}).status, OpStatus::Changed);
    EXPECT_EQ(img.colourAt(0, 0), (Rgb{8, 6, 7}));
    EXPECT_EQ(img.colourAt(1, 1), (Rgb{9, 7, 7}));
    EXPECT_EQ(img.colourAt(2, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(img.colourAt(0, 2), (Rgb{0, 0, 0}));
}

}  // namespace
}  // namespace qel
