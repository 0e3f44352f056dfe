// Undo and redo, the command pattern, clipboard copy and paste, image information.
#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QUrl>
#include <new>

#include "core/commands/command_table.h"
#include "gui/commands/colour/palette_dlg.h"
#include "gui_test.h"

namespace qel::test {
namespace {

using namespace qel::cmd;

// Operations for the tests: invert every pixel byte; replace the picture by a bigger 24-bit one.
OpResult invert(DibImage& image) {
    for (auto& b : image.bits) b = uint8_t(~b);
    image.rebuildDisplay();
    return OpResult::changed();
}
OpResult addOne(DibImage& image) {
    for (auto& b : image.bits) b = uint8_t(b + 1);
    image.rebuildDisplay();
    return OpResult::changed();
}
OpResult growTo30x20(DibImage& image) {
    auto big = pattern(30, 20, 24);
    image.replace(big->info, big->bits);
    return OpResult::changed();
}

class EditTest : public GuiTest {};

TEST_F(EditTest, UndoAndRedoAlternateBetweenResultAndPictureBefore) {
    open(*pattern(7, 5, 8));
    const auto before = doc()->image->bits;
    view()->runImageCommand(invert);
    const auto after = doc()->image->bits;
    ASSERT_NE(before, after);
    EXPECT_TRUE(enabled(ID_EDIT_UNDO));
    EXPECT_FALSE(enabled(ID_EDIT_REDO));
    for (int i = 0; i < 2; ++i) {
        frame->runCommand(ID_EDIT_UNDO);
        EXPECT_EQ(doc()->image->bits, before);
        EXPECT_FALSE(enabled(ID_EDIT_UNDO));
        EXPECT_TRUE(enabled(ID_EDIT_REDO));
        frame->runCommand(ID_EDIT_REDO);
        EXPECT_EQ(doc()->image->bits, after);
        EXPECT_TRUE(enabled(ID_EDIT_UNDO));
        EXPECT_FALSE(enabled(ID_EDIT_REDO));
    }
    EXPECT_EQ(doc()->bitmap, doc()->image->displayBitmap.get());
}

TEST_F(EditTest, NewOperationAfterUndoDropsRedoAndUndoesToBeforeIt) {
    open(*pattern(7, 5, 8));
    const auto original = doc()->image->bits;
    view()->runImageCommand(invert);
    frame->runCommand(ID_EDIT_UNDO);
    view()->runImageCommand(addOne);
    EXPECT_FALSE(enabled(ID_EDIT_REDO));
    EXPECT_EQ(view()->undoState, 0);
    frame->runCommand(ID_EDIT_UNDO);
    EXPECT_EQ(doc()->image->bits, original);
}

TEST_F(EditTest, SnapshotRecordsThePixelBlockSizeInTheHeader) {
    auto image = pattern(7, 5, 8);
    open(*image);
    auto h = doc()->image->header();
    h.biSizeImage = 0;
    doc()->image->setHeader(h);
    ASSERT_TRUE(view()->takeSnapshot());
    BitmapInfoHeader copy;
    std::memcpy(&copy, view()->undoInfo->data(), kHeaderSize);
    EXPECT_EQ(copy.biSizeImage, 40u);
    EXPECT_EQ(doc()->image->header().biSizeImage, 40u);
}

TEST_F(EditTest, UndoOfSizeChangeRestoresSizesAndScrollAreaAtTheZoom) {
    open(*pattern(10, 8, 24));
    CQelView* v = view();
    v->runImageCommand(growTo30x20);
    EXPECT_EQ(doc()->imageWidth, 30);
    EXPECT_EQ(doc()->scrollHeight, 20);
    EXPECT_EQ(v->scrollSizes(), QSize(30, 20));
    v->zoomIn();
    EXPECT_EQ(v->scrollSizes(), QSize(60, 40));
    frame->runCommand(ID_EDIT_UNDO);
    EXPECT_EQ(doc()->imageWidth, 10);
    EXPECT_EQ(doc()->imageHeight, 8);
    EXPECT_EQ(doc()->scrollWidth, 20);
    EXPECT_EQ(doc()->scrollHeight, 16);
    EXPECT_EQ(v->scrollSizes(), QSize(20, 16));
    frame->runCommand(ID_EDIT_REDO);
    EXPECT_EQ(doc()->imageWidth, 30);
    EXPECT_EQ(v->scrollSizes(), QSize(60, 40));
}

TEST_F(EditTest, SizeChangeReachesEveryPaneAtItsOwnZoom) {
    open(*pattern(10, 8, 24));
    CChildFrame* f = frame->activeChild();
    f->splitColumns();
    f->pane(0, 1)->zoomIn();
    f->pane(0, 0)->runImageCommand(growTo30x20);
    EXPECT_EQ(f->pane(0, 0)->scrollSizes(), QSize(30, 20));
    EXPECT_EQ(f->pane(0, 1)->scrollSizes(), QSize(60, 40));
    EXPECT_FALSE(f->pane(0, 1)->canUndo());  // each pane keeps its own store
}

TEST_F(EditTest, PaletteWindowOpenTwiceClosedOnceReenablesUndo) {
    open(*pattern(7, 5, 8));
    CQelView* v = view();
    v->runImageCommand(invert);
    auto* palette = static_cast<CPaletteDlg*>(v->paletteWindow);
    frame->runCommand(ID_PALETTE);
    EXPECT_TRUE(palette->holdsUndo);
    EXPECT_FALSE(enabled(ID_EDIT_UNDO));
    frame->runCommand(ID_PALETTE);
    palette->close();
    EXPECT_FALSE(palette->holdsUndo);
    EXPECT_TRUE(enabled(ID_EDIT_UNDO));
}

TEST_F(EditTest, SnapshotWhilePaletteOpenKeepsTheMark) {
    open(*pattern(7, 5, 8));
    CQelView* v = view();
    v->runImageCommand(invert);
    frame->runCommand(ID_EDIT_UNDO);
    frame->runCommand(ID_PALETTE);
    EXPECT_EQ(v->undoState, 1);
    v->runImageCommand(addOne);
    EXPECT_EQ(v->undoState, 0);
    const auto changed = doc()->image->bits;
    v->onEditUndo();  // refused while the palette window is open
    EXPECT_EQ(doc()->image->bits, changed);
    EXPECT_TRUE(static_cast<CPaletteDlg*>(v->paletteWindow)->holdsUndo);
}

TEST_F(EditTest, SnapshotWithoutMemoryWarnsAndTheOperationStillRuns) {
    auto big = pattern(40, 40, 8);
    CQelView::setAllocationHookForTesting([](size_t n) {
        if (n > 1500) throw std::bad_alloc();  // the pixel block
    });
    CQelDoc* d = open(*big, "big.bmp");
    EXPECT_TRUE(view()->runImageCommand(invert));
    EXPECT_EQ(dialogs->messages(), QStringList({"エラー: メモリーが不足しています。"}));
    EXPECT_EQ(d->image->bits[0], uint8_t(~big->bits[0]));
    EXPECT_FALSE(enabled(ID_EDIT_UNDO));
}

TEST_F(EditTest, UndoWithoutMemoryWarnsAndLeavesThePicture) {
    open(*pattern(40, 40, 8));
    view()->runImageCommand(invert);
    const auto after = doc()->image->bits;
    CQelView::setAllocationHookForTesting([](size_t) { throw std::bad_alloc(); });
    frame->runCommand(ID_EDIT_UNDO);
    EXPECT_EQ(dialogs->messages(), QStringList({"エラー: メモリーが不足しています。"}));
    EXPECT_EQ(doc()->image->bits, after);
    EXPECT_EQ(view()->undoState, 0);
}

TEST_F(EditTest, OperationRunningOutOfMemoryWarnsAndKeepsThePicture) {
    open(*pattern(7, 5, 24));
    const auto bits = doc()->image->bits;
    EXPECT_FALSE(view()->runImageCommand([](DibImage& image) -> OpResult {
        image.bits[0] ^= 0xFF;  // half done when memory runs short
        throw std::bad_alloc();
    }, {.announce = true, .thinned = std::nullopt}));
    EXPECT_EQ(dialogs->messages(), QStringList({"エラー: メモリーが不足しています。"}));
    EXPECT_EQ(doc()->image->bits, bits);
    EXPECT_EQ(doc()->bitmap, doc()->image->displayBitmap.get());
    EXPECT_EQ(doc()->bitmap->pixel(0, 4), 0xFF000000u | (bits[2] << 16) | (bits[1] << 8) | bits[0]);
}

TEST_F(EditTest, OperationAnsweringNothingKeepsThePicture) {
    open(*pattern(7, 5, 24));
    view()->runImageCommand([](DibImage&) { return OpResult::refused("test"); });
    EXPECT_EQ(dialogs->messages(), QStringList());
    EXPECT_EQ(doc()->bitmap, doc()->image->displayBitmap.get());
    EXPECT_NE(doc()->bitmap, nullptr);
}

TEST_F(EditTest, To24BitConvertsClearsThinnedAndAnnounces) {
    auto image = makeIndexed(8, {"012", "210"}, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}});
    open(*image);
    view()->thinned = 1;
    ASSERT_TRUE(enabled(ID_TO_24BIT));
    frame->runCommand(ID_TO_24BIT);
    EXPECT_EQ(doc()->image->bitCount(), 24);
    EXPECT_EQ(view()->thinned, 0);
    EXPECT_EQ(colourRows(*doc()->image, {{'r', {255, 0, 0}}, {'g', {0, 255, 0}}, {'b', {0, 0, 255}}}),
              Rows({"rgb", "bgr"}));
    EXPECT_EQ(dialogs->messages(), QStringList({"メッセージ: 終了しました"}));
    EXPECT_FALSE(enabled(ID_TO_24BIT));
    frame->runCommand(ID_EDIT_UNDO);
    EXPECT_EQ(doc()->image->bitCount(), 8);
}

TEST_F(EditTest, PasteTakesNoSnapshot) {
    QApplication::clipboard()->setImage(QImage(5, 4, QImage::Format_RGB32));
    frame->newDocument();
    frame->runCommand(ID_EDIT_PASTE);
    ASSERT_NE(doc()->bitmap, nullptr);
    EXPECT_FALSE(enabled(ID_EDIT_UNDO));
    EXPECT_FALSE(enabled(ID_EDIT_PASTE));
    EXPECT_TRUE(enabled(ID_EDIT_COPY));
}

// A clipboard picture too large for the memory left leaves the document empty, with the memory message.
TEST_F(EditTest, PasteRunningOutOfMemoryKeepsTheDocumentEmpty) {
    QApplication::clipboard()->setImage(QImage(5, 4, QImage::Format_RGB32));
    frame->newDocument();
    CQelView::setAllocationHookForTesting([](size_t) { throw std::bad_alloc(); });
    frame->runCommand(ID_EDIT_PASTE);
    CQelView::setAllocationHookForTesting(nullptr);
    EXPECT_EQ(dialogs->messages(), QStringList({"エラー: メモリーが不足しています。"}));
    EXPECT_EQ(doc()->bitmap, nullptr);
    EXPECT_FALSE(doc()->image->hasPicture());
    EXPECT_FALSE(doc()->isModified());
    EXPECT_TRUE(enabled(ID_EDIT_PASTE));
}

TEST_F(EditTest, CopyAtZoomFourPutsThePicturesOwnSize) {
    auto image = make24({"rg.", "#.b"}, {{'r', {255, 0, 0}}, {'g', {0, 255, 0}}, {'b', {0, 0, 255}}});
    open(*image);
    for (int i = 0; i < 2; ++i) view()->zoomIn();
    frame->runCommand(ID_EDIT_COPY);
    const QImage copied = QApplication::clipboard()->image();
    ASSERT_EQ(copied.size(), QSize(3, 2));
    EXPECT_EQ(copied.pixel(0, 0) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(copied.pixel(2, 1) & 0xFFFFFF, 0x0000FFu);
}

TEST_F(EditTest, CopyNewPasteGivesTwentyFourBitPictureOfTheSameSize) {
    auto image = makeIndexed(8, {"0120", "2100", "0000"}, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}});
    open(*image);
    frame->runCommand(ID_EDIT_COPY);
    frame->runCommand(ID_FILE_NEW);
    frame->runCommand(ID_EDIT_PASTE);
    CQelDoc* d = doc();
    ASSERT_NE(d->bitmap, nullptr);
    EXPECT_EQ(d->image->bitCount(), 24);
    EXPECT_EQ(d->imageWidth, 4);
    EXPECT_EQ(d->imageHeight, 3);
    EXPECT_EQ(d->scrollWidth, 4);
    EXPECT_EQ(view()->scrollSizes(), QSize(4, 3));
    EXPECT_EQ(colourRows(*d->image, {{'r', {255, 0, 0}}, {'g', {0, 255, 0}}, {'b', {0, 0, 255}}}),
              Rows({"rgbr", "bgrr", "rrrr"}));
    EXPECT_TRUE(dialogs->shown().empty());
}

TEST_F(EditTest, PasteRefusesClipboardsWithoutAPicture) {
    struct Case {
        const char* name;
        std::function<void()> fill;
    };
    const std::vector<Case> cases = {
        {"empty", [] { QApplication::clipboard()->clear(); }},
        {"text", [] { QApplication::clipboard()->setText(QStringLiteral("画像")); }},
        {"image wider than any picture", [] { QApplication::clipboard()->setImage(QImage(70000, 1, QImage::Format_RGB32)); }},
        {"empty image", [] { QApplication::clipboard()->setImage(QImage()); }},
        {"url of a damaged .bmp file", [this] {
             writeBytes(dir.file("junk.bmp"), {'B', 'M', 0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0, 0x36, 0, 0, 0});
             auto* data = new QMimeData;
             data->setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.file("junk.bmp")))});
             QApplication::clipboard()->setMimeData(data);
         }},
        {"url of a text file", [this] {
             writeBytes(dir.file("a.txt"), {'x'});
             auto* data = new QMimeData;
             data->setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.file("a.txt")))});
             QApplication::clipboard()->setMimeData(data);
         }},
    };
    frame->newDocument();
    for (const Case& c : cases) {
        dialogs->clear();
        c.fill();
        frame->runCommand(ID_EDIT_PASTE);
        EXPECT_EQ(dialogs->messages(), QStringList({"erorr: 貼り付けが出来ません。"})) << c.name;
        EXPECT_EQ(doc()->bitmap, nullptr) << c.name;
    }
}

TEST_F(EditTest, PasteOfACopiedPictureFileTakesItsPicture) {
    for (const char* name : {"copied.bmp", "copied.png", "copied.webp"}) {
        const QString path = writePicture(*pattern(6, 4, 8), name);
        auto* data = new QMimeData;
        data->setUrls({QUrl::fromLocalFile(path)});
        QApplication::clipboard()->setMimeData(data);
        frame->newDocument();
        frame->runCommand(ID_EDIT_PASTE);
        ASSERT_NE(doc()->bitmap, nullptr) << name;
        EXPECT_EQ(doc()->image->bitCount(), 24) << name;
        EXPECT_EQ(doc()->imageWidth, 6) << name;
    }
}

TEST_F(EditTest, EditMessagesWhenTheRulesAreBypassed) {
    open(*pattern(3, 3, 24));
    QApplication::clipboard()->setImage(QImage(2, 2, QImage::Format_RGB32));
    view()->onEditPaste();
    frame->newDocument();
    view()->onEditCopy();
    EXPECT_EQ(dialogs->messages(),
              QStringList({"erorr: すでにオブジェクトが存在しています。", "erorr: オブジェクトがありません。"}));
}

TEST_F(EditTest, ImageInformationText) {
    struct Case {
        std::unique_ptr<DibImage> image;
        QString text;
    };
    std::vector<Case> cases;
    cases.push_back({pattern(100, 50, 8), "画像情報: 縦：50\n横：100\nサイズ：5000\n色：256"});
    cases.push_back({pattern(3, 2, 24), "画像情報: 縦：2\n横：3\nサイズ：24\n色：16777216"});
    cases.push_back({pattern(9, 2, 4), "画像情報: 縦：2\n横：9\nサイズ：16\n色：16"});
    for (size_t i = 0; i < cases.size(); ++i) {
        open(*cases[i].image, QStringLiteral("info%1.bmp").arg(i));
        dialogs->clear();
        frame->runCommand(ID_IMAGE_INFO);
        EXPECT_EQ(dialogs->messages(), QStringList({cases[i].text})) << i;
    }
    frame->newDocument();
    dialogs->clear();
    frame->runCommand(ID_IMAGE_INFO);
    EXPECT_EQ(dialogs->messages(), QStringList({"画面情報: 画像がありません。"}));
}

}  // namespace
}  // namespace qel::test
