#include "gui_test.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QSettings>

#include "core/formats/bmp_file.h"

namespace qel::test {

void processEvents() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

void GuiTest::SetUp() {
    auto scripted = std::make_unique<qel::ui::ScriptedDialogService>();
    dialogs = scripted.get();
    previous_ = qel::ui::installDialogService(std::move(scripted));
    QSettings().clear();
    QApplication::clipboard()->clear();
    CQelDoc::resetUntitledCounterForTesting();
    frame = std::make_unique<CMainFrame>();
    frame->show();
    processEvents();
}

void GuiTest::TearDown() {
    frame.reset();
    processEvents();
    CQelView::setAllocationHookForTesting(nullptr);
    qel::ui::installDialogService(std::move(previous_));
}

QString GuiTest::writePicture(const DibImage& image, const QString& name) {
    const QString path = QString::fromStdString(dir.file(name.toStdString()));
    EXPECT_EQ(image.saveFile(path.toStdString()), ImageError::None);
    return path;
}

CQelDoc* GuiTest::open(const DibImage& image, const QString& name) {
    CQelDoc* d = frame->openDocumentFile(writePicture(image, name));
    processEvents();
    return d;
}

std::unique_ptr<DibImage> pattern(int width, int height, int bitCount) {
    auto image = std::make_unique<DibImage>();
    const int entries = bitCount == 24 ? 0 : (1 << bitCount);
    const auto size = static_cast<uint32_t>(strideFor(width, bitCount) * height);
    auto info = makeInfoBlock(newHeader(width, height, static_cast<uint16_t>(bitCount), 0, size), entries);
    for (int i = 0; i < entries; ++i) {
        uint8_t* e = info.data() + kHeaderSize + 4 * i;
        e[0] = uint8_t(i * 7);
        e[1] = uint8_t(i * 3);
        e[2] = uint8_t(255 - i);
    }
    PixelBytes bits(size);
    for (size_t i = 0; i < bits.size(); ++i) bits[i] = uint8_t((i * 31 + i / 7) & (bitCount == 1 ? 0xFF : 0xFF));
    image->replace(std::move(info), std::move(bits));
    return image;
}

}  // namespace qel::test
