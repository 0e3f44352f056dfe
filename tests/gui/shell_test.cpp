// Start-up, documents, saving, recent files, panes and printing.
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QToolButton>
#include <QMdiArea>
#include <QMenu>
#include <QMimeData>
#include <QTextBrowser>
#include <QUrl>
#include <tuple>
#include <QDialogButtonBox>
#include <QDir>
#include <QPushButton>
#include <QFileInfo>
#include <QPointer>
#include <QPrinter>

#include "support/geometry_test_util.h"
#include <QComboBox>
#include <QTimer>
#include <QSettings>

#include <gif_lib.h>
#include <cerrno>

#include "core/formats/codecs.h"
#include "core/formats/file_io.h"
#include "gui/kit/dialog_service.h"
#include "gui/shell/about_dlg.h"
#include "core/commands/command_table.h"
#include "gui/shell/qel_app.h"
#include "gui_test.h"
#include "support/text_image.h"

namespace qel::test {
namespace {

using namespace qel::cmd;

class ShellTest : public GuiTest {};

const std::vector<int> kFilters = {ID_TRANSFORM, ID_THIN, ID_STRAIGHTEN, ID_TIDY, ID_TIDY2, ID_SCALE, ID_MIX,
                                   ID_FRACTAL, ID_PALETTE, ID_REDUCE_256, ID_FIT_PALETTE, ID_TO_24BIT, ID_TO_256,
                                   ID_TO_16, ID_TO_GREY, ID_TO_BLACK_WHITE, ID_COUNT_COLOURS, ID_ZOOM_IN, ID_ZOOM_OUT};

TEST_F(ShellTest, StartWithoutArgumentsGivesOneEmptyDocumentThatOffersPasteAndCapture) {
    ASSERT_EQ(CQelApp::processCommandLine(*frame, {}), CQelApp::StartResult::Run);
    ASSERT_EQ(frame->childFrames().size(), 1);
    EXPECT_EQ(doc()->title(), "Qel1");
    EXPECT_EQ(frame->windowTitle(), "Zenpa - Qel1");
    EXPECT_EQ(doc()->bitmap, nullptr);
    EXPECT_EQ(doc()->scrollWidth, 1);
    EXPECT_EQ(doc()->scrollHeight, 1);
    EXPECT_FALSE(enabled(ID_EDIT_COPY));
    for (int id : kFilters) EXPECT_FALSE(enabled(id)) << id;
    EXPECT_TRUE(enabled(ID_EDIT_PASTE));
    EXPECT_TRUE(enabled(ID_SCREEN_CAPTURE));
    EXPECT_TRUE(enabled(ID_IMAGE_INFO));
    EXPECT_TRUE(enabled(ID_CALCULATOR));
    EXPECT_FALSE(enabled(ID_EDIT_UNDO));
    EXPECT_FALSE(enabled(ID_EDIT_REDO));
}

TEST_F(ShellTest, NewDocumentsAreNumberedInOrder) {
    frame->newDocument();
    frame->newDocument();
    EXPECT_EQ(doc()->title(), "Qel2");
}

TEST_F(ShellTest, EightBitPictureOffersThinningAndTidy2ButNotStraighteningUntilThinned) {
    open(*pattern(20, 10, 8));
    EXPECT_TRUE(enabled(ID_THIN));
    EXPECT_TRUE(enabled(ID_TIDY2));
    EXPECT_FALSE(enabled(ID_STRAIGHTEN));
    EXPECT_FALSE(enabled(ID_TIDY));
    EXPECT_TRUE(enabled(ID_PALETTE));
    EXPECT_TRUE(enabled(ID_TO_BLACK_WHITE));
    EXPECT_FALSE(enabled(ID_EDIT_PASTE));
    EXPECT_FALSE(enabled(ID_SCREEN_CAPTURE));
    view()->thinned = 1;
    EXPECT_TRUE(enabled(ID_STRAIGHTEN));
    EXPECT_TRUE(enabled(ID_TIDY));
}

TEST_F(ShellTest, TwentyFourBitPictureOffersItsCommandsOnly) {
    open(*pattern(20, 10, 24));
    for (int id : {ID_TO_24BIT, ID_PALETTE, ID_FIT_PALETTE, ID_TO_BLACK_WHITE, ID_THIN, ID_TIDY2})
        EXPECT_FALSE(enabled(id)) << id;
    for (int id : {ID_TO_256, ID_TO_16, ID_REDUCE_256, ID_SCALE, ID_MIX, ID_FRACTAL, ID_TRANSFORM, ID_TO_GREY,
                   ID_COUNT_COLOURS, ID_EDIT_COPY})
        EXPECT_TRUE(enabled(id)) << id;
}

TEST_F(ShellTest, FourBitPictureOffersPaletteButNotSixteenColours) {
    open(*pattern(20, 10, 4));
    EXPECT_TRUE(enabled(ID_PALETTE));
    EXPECT_TRUE(enabled(ID_TO_24BIT));
    EXPECT_FALSE(enabled(ID_TO_16));
    EXPECT_FALSE(enabled(ID_THIN));
}

TEST_F(ShellTest, CutIsAlwaysDisabledInMenuAndToolbar) {
    EXPECT_FALSE(enabled(ID_EDIT_CUT));
    frame->newDocument();
    EXPECT_FALSE(enabled(ID_EDIT_CUT));
    open(*pattern(4, 4, 24));
    EXPECT_FALSE(enabled(ID_EDIT_CUT));
    EXPECT_FALSE(frame->action(ID_EDIT_CUT)->isEnabled());
}

TEST_F(ShellTest, UnreadableFileFailsStartUpWithTheReadersMessageAndReason) {
    const std::string bad = dir.file("bad.bmp"), cut = dir.file("cut.jpg");
    writeBytes(bad, {'n', 'o', 't', ' ', 'a', ' ', 'b', 'm', 'p', 0, 0, 0, 0, 0, 0, 0});
    ASSERT_EQ(pattern(16, 16, 24)->saveFile(cut), ImageError::None);
    auto jpeg = readBytes(cut);
    jpeg.resize(jpeg.size() / 2);
    writeBytes(cut, jpeg);
    for (const std::string& file : {bad, cut, dir.file("missing.bmp")})
        EXPECT_EQ(CQelApp::processCommandLine(*frame, {QString::fromStdString(file)}), CQelApp::StartResult::Failed);
    EXPECT_EQ(dialogs->messages(),
              QStringList({"error: Not Bitmap!!\n" + QString::fromStdString(bad) +
                               ": the content is not a picture format Qel reads (BMP, PNG, JPEG, TIFF, WebP, GIF)",
                           "error: Not Bitmap!!\n" + QString::fromStdString(cut) + ": JPEG file damaged or truncated: data ends early",
                           "error: Miss Load!!\n" + QString::fromStdString(dir.file("missing.bmp")) + ": No such file or directory"}));
    EXPECT_TRUE(frame->childFrames().isEmpty());
}

TEST_F(ShellTest, SaveAsksOnceAndRewritesTheOpenedFile) {
    CQelDoc* d = open(*pattern(6, 3, 8));
    const QString path = d->pathName();
    QFile::remove(path);
    dialogs->answer(qel::ui::Answer::Yes);
    frame->runCommand(ID_FILE_SAVE);
    ASSERT_EQ(dialogs->shown().size(), 1u);
    EXPECT_EQ(dialogs->shown()[0].text, path + "に上書きします。よろしいですか？");
    EXPECT_EQ(dialogs->shown()[0].title, "注意！！");
    EXPECT_EQ(dialogs->shown()[0].buttons, qel::ui::Buttons::YesNo);
    EXPECT_TRUE(QFile::exists(path));
}

TEST_F(ShellTest, SaveAnsweredNoWritesNothing) {
    CQelDoc* d = open(*pattern(6, 3, 8));
    QFile::remove(d->pathName());
    dialogs->answer(qel::ui::Answer::No);
    frame->runCommand(ID_FILE_SAVE);
    EXPECT_FALSE(QFile::exists(d->pathName()));
}

TEST_F(ShellTest, SaveAsThenSaveWritesTheOldPath) {
    CQelDoc* d = open(*pattern(6, 3, 24));
    const QString old = d->pathName();
    const QString other = QString::fromStdString(dir.file("other.bmp"));
    dialogs->answerPath(other);
    frame->runCommand(ID_FILE_SAVE_AS);
    ASSERT_EQ(dialogs->shown().size(), 1u);
    EXPECT_EQ(dialogs->shown()[0].file.defaultExtension, "bmp");
    EXPECT_TRUE(QFile::exists(other));
    EXPECT_EQ(d->pathName(), old);
    EXPECT_EQ(d->title(), "picture.bmp");
    QFile::remove(old);
    dialogs->answer(qel::ui::Answer::Yes);
    frame->runCommand(ID_FILE_SAVE);
    EXPECT_EQ(dialogs->shown().back().text, old + "に上書きします。よろしいですか？");
    EXPECT_TRUE(QFile::exists(old));
}

TEST_F(ShellTest, OpenOffersEveryFormatAndSaveKeepsTheDocumentsOwn) {
    frame->runCommand(ID_FILE_OPEN);
    ASSERT_EQ(dialogs->shown().size(), 1u);
    const QStringList filters = qel::ui::qtNameFilters(dialogs->shown()[0].file.filter).split(";;");
    ASSERT_EQ(filters.size(), 3);
    EXPECT_TRUE(filters[0].startsWith("BMP (*.bmp"));
    EXPECT_EQ(dialogs->shown()[0].file.selectedFilter, "画像ファイル");  // every readable format first
    for (const char* ext : {"*.bmp", "*.png", "*.jpg", "*.jpeg", "*.tif", "*.tiff", "*.webp", "*.gif"})
        EXPECT_TRUE(filters[1].startsWith("画像ファイル (") && filters[1].contains(ext)) << ext;
    EXPECT_EQ(filters[2], "すべてのファイル (*)");

    // A PNG document saves as PNG, with the same single question as a BMP one; Save As follows the extension.
    CQelDoc* d = open(*pattern(6, 3, 8), "doc.png");
    auto formatOf = [](const QString& path) {
        const auto bytes = readBytes(path.toStdString());
        return qel::formatByContent(bytes.data(), bytes.size());
    };
    dialogs->clear();
    dialogs->answer(qel::ui::Answer::Yes);
    frame->runCommand(ID_FILE_SAVE);
    EXPECT_EQ(dialogs->shown().size(), 1u);
    EXPECT_EQ(formatOf(d->pathName()), qel::ImageFormat::Png);
    struct Case { const char* name; qel::ImageFormat format; };
    for (const Case& c : {Case{"as.jpg", qel::ImageFormat::Jpeg}, Case{"as.TIFF", qel::ImageFormat::Tiff},
                          Case{"as.webp", qel::ImageFormat::Webp}, Case{"as.bmp", qel::ImageFormat::Bmp}}) {
        dialogs->answerPath(QString::fromStdString(dir.file(c.name)));
        frame->runCommand(ID_FILE_SAVE_AS);
        EXPECT_EQ(formatOf(QString::fromStdString(dir.file(c.name))), c.format) << c.name;
    }
    EXPECT_EQ(dialogs->shown().back().file.defaultExtension, "png");
    dialogs->clear();
    dialogs->answerPath(QString::fromStdString(dir.file("as.txt")));
    frame->runCommand(ID_FILE_SAVE_AS);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir.file("as.txt"))));
    ASSERT_EQ(dialogs->messages().size(), 1);
    EXPECT_TRUE(dialogs->messages()[0].contains(".png")) << dialogs->messages()[0].toStdString();

    // GIF files are read only: Save runs Save As.
    int e = 0;
    GifFileType* g = EGifOpenFileName(dir.file("g.gif").c_str(), false, &e);
    GifColorType colours[2] = {{0, 0, 0}, {255, 255, 255}};
    ColorMapObject* map = GifMakeMapObject(2, colours);
    GifPixelType row[2] = {0, 1};
    EGifPutScreenDesc(g, 2, 1, 1, 0, map);
    EGifPutImageDesc(g, 0, 0, 2, 1, false, nullptr);
    EGifPutLine(g, row, 2);
    EGifCloseFile(g, &e);
    GifFreeMapObject(map);
    ASSERT_NE(frame->openDocumentFile(QString::fromStdString(dir.file("g.gif"))), nullptr);
    dialogs->clear();
    frame->runCommand(ID_FILE_SAVE);
    ASSERT_EQ(dialogs->shown().size(), 1u);
    EXPECT_EQ(dialogs->shown()[0].kind, qel::ui::ShownDialog::SaveFile);
    EXPECT_EQ(dialogs->shown()[0].file.initialName, "g.png");  // PNG keeps every pixel
}

TEST_F(ShellTest, SaveOfDocumentWithoutFileRunsSaveAs) {
    frame->newDocument();
    frame->runCommand(ID_FILE_SAVE);
    ASSERT_EQ(dialogs->shown().size(), 1u);
    EXPECT_EQ(dialogs->shown()[0].kind, qel::ui::ShownDialog::SaveFile);
}

size_t diskFull(const void*, size_t, std::FILE*) {
    errno = ENOSPC;
    return 0;
}

TEST_F(ShellTest, FailedSaveNamesTheFileAndTheReason) {
    open(*pattern(6, 3, 24));
    const QString folder = QString::fromStdString(dir.file("no/such/dir")), full = QString::fromStdString(dir.file("full.bmp"));
    for (qel::RawWrite write : {qel::RawWrite(nullptr), qel::RawWrite(diskFull)}) {
        const QString target = write ? full : folder + "/x.bmp";
        dialogs->clear();
        dialogs->answerPath(target);
        qel::setRawWriteForTesting(write);
        frame->runCommand(ID_FILE_SAVE_AS);
        qel::setRawWriteForTesting(nullptr);
        EXPECT_EQ(dialogs->messages(), QStringList("エラー: " + target + "に保存できませんでした。\n" +
                                                   (write ? "ディスクの空きが足りません: " + full : "フォルダがありません: " + folder)));
    }
}

// Open and Save As start in the active document's folder, else the last folder used (also in a later
// run); Save As proposes the document's name.
TEST_F(ShellTest, FileDialogsStartWhereTheUsersFilesAre) {
    auto last = [this] { return dialogs->shown().back().file.directory + "|" + dialogs->shown().back().file.initialName; };
    const QString a = QString::fromStdString(dir.path), b = a + "/b";
    QDir(a).mkdir("b");
    open(*pattern(3, 2, 24), "one.bmp");
    frame->newDocument();
    frame->runCommand(ID_FILE_SAVE_AS);
    EXPECT_EQ(last(), a + "|Qel1.bmp");
    open(*pattern(3, 2, 24), "b/two.png");
    frame->runCommand(ID_FILE_OPEN);
    EXPECT_EQ(last(), b + "|");
    dialogs->answerPath(a + "/three.png");
    frame->runCommand(ID_FILE_SAVE_AS);
    EXPECT_EQ(dialogs->shown().back().file.initialName, "two.png");
    frame = std::make_unique<CMainFrame>();
    frame->runCommand(ID_FILE_OPEN);
    EXPECT_EQ(last(), a + "|");
}

TEST_F(ShellTest, OpenedFilesEnterTheRecentListNewestFirstFourAtMost) {
    for (int i = 0; i < 5; ++i) open(*pattern(2, 2, 24), QStringLiteral("p%1.bmp").arg(i));
    const QStringList files = frame->recentFiles();
    ASSERT_EQ(files.size(), 4);
    EXPECT_TRUE(files[0].endsWith("p4.bmp"));
    EXPECT_TRUE(files[3].endsWith("p1.bmp"));
}

TEST_F(ShellTest, OpeningAnOpenFileActivatesItsWindow) {
    const QString path = writePicture(*pattern(2, 2, 24), "same.bmp");
    CQelDoc* first = frame->openDocumentFile(path);
    frame->newDocument();
    EXPECT_EQ(frame->openDocumentFile(path), first);
    EXPECT_EQ(frame->childFrames().size(), 2);
}

TEST_F(ShellTest, PanesSplitToTwoByTwoEachWithItsOwnZoom) {
    open(*pattern(40, 30, 24));
    CChildFrame* f = frame->activeChild();
    view()->zoomIn();
    EXPECT_TRUE(f->splitColumns());
    EXPECT_FALSE(f->splitColumns());
    EXPECT_TRUE(f->splitRows());
    EXPECT_EQ(f->panes().size(), 4);
    EXPECT_EQ(doc()->views().size(), 4u);
    EXPECT_FLOAT_EQ(f->pane(0, 0)->zoom, 2.0f);
    for (CQelView* v : {f->pane(0, 1), f->pane(1, 0), f->pane(1, 1)}) {
        EXPECT_FLOAT_EQ(v->zoom, 1.0f);
        EXPECT_EQ(v->scrollSizes(), QSize(40, 30));
    }
    f->setActiveView(f->pane(0, 0));
    frame->runCommand(ID_NEXT_PANE);
    EXPECT_EQ(f->activeView(), f->pane(0, 1));
    frame->runCommand(ID_PREV_PANE);
    frame->runCommand(ID_PREV_PANE);
    EXPECT_EQ(f->activeView(), f->pane(1, 1));
    EXPECT_TRUE(f->removeRow(1));
    EXPECT_TRUE(f->removeColumn(0));
    EXPECT_EQ(f->panes().size(), 1);
    EXPECT_EQ(doc()->views().size(), 1u);
    EXPECT_EQ(f->activeView(), f->pane(0, 0));
}

TEST_F(ShellTest, DraggingASplitBoxSplitsWhereItIsDroppedAClickInTheMiddle) {
    struct Case {
        Qt::CursorShape box;  // SplitVCursor: the box splitting rows
        QPoint drag;          // from the press; zero is a click
        int rows, columns;
        int firstSize;  // the first row's height or column's width; 0: not checked
    };
    const std::vector<Case> cases = {
        {Qt::SplitVCursor, {0, 70}, 2, 1, 70},
        {Qt::SplitHCursor, {90, 0}, 1, 2, 90},
        {Qt::SplitVCursor, {0, 0}, 2, 1, 0},
        {Qt::SplitHCursor, {-50, 0}, 1, 1, 0},  // dropped outside the panes: no split
    };
    for (const Case& c : cases) {
        open(*pattern(40, 30, 24));
        CChildFrame* f = frame->activeChild();
        f->resize(300, 260);
        processEvents();
        QToolButton* box = nullptr;
        for (QToolButton* b : view()->findChildren<QToolButton*>())
            if (b->cursor().shape() == c.box) box = b;
        ASSERT_NE(box, nullptr);
        // The drop position is measured from the panes' top left corner.
        const QPoint pressed = box->mapToGlobal(QPoint(2, 2));
        const QPoint dropped = c.drag.isNull() ? pressed : f->pane(0, 0)->mapToGlobal(c.drag);
        for (auto [type, buttons, at] : {std::tuple(QEvent::MouseButtonPress, Qt::LeftButton, pressed),
                                         std::tuple(QEvent::MouseButtonRelease, Qt::NoButton, dropped)}) {
            QMouseEvent event(type, QPointF(box->mapFromGlobal(at)), QPointF(at), Qt::LeftButton, buttons, Qt::NoModifier);
            QApplication::sendEvent(box, &event);
        }
        processEvents();
        EXPECT_EQ(QSize(f->columns(), f->rows()), QSize(c.columns, c.rows)) << c.drag.x() << "," << c.drag.y();
        const QSize first = f->pane(0, 0)->size();
        if (c.firstSize) {
            EXPECT_NEAR(c.box == Qt::SplitVCursor ? first.height() : first.width(), c.firstSize, 6);
        }
        f->close();
        processEvents();
    }
}

TEST_F(ShellTest, NewWindowShowsTheSameDocumentAndCloseEndsBothWindows) {
    CQelDoc* d = open(*pattern(4, 4, 24));
    frame->runCommand(ID_WINDOW_NEW);
    EXPECT_EQ(frame->childFrames().size(), 2);
    EXPECT_EQ(frame->activeDocument(), d);
    processEvents();
    EXPECT_EQ(frame->activeChild()->windowTitle(), "picture.bmp:2");
    frame->runCommand(ID_TO_GREY);  // both windows show the change
    EXPECT_EQ(frame->childFrames()[0]->windowTitle() + frame->childFrames()[1]->windowTitle(), "picture.bmp:1 *picture.bmp:2 *");
    d->setModified(false);
    QPointer<CQelDoc> alive(d);
    frame->runCommand(ID_FILE_CLOSE);  // 閉じる closes the document, every window showing it
    processEvents();
    EXPECT_TRUE(alive.isNull());
    EXPECT_TRUE(frame->childFrames().isEmpty());
    EXPECT_TRUE(dialogs->shown().empty());  // an unchanged document closes without a question
}

// A changed document is marked in its titles and asked about once when its last window, 閉じる or the
// program closes it: Yes saves, No discards, Cancel keeps it open, and so does a save that fails.
TEST_F(ShellTest, ClosingAChangedDocumentAsksWhetherToSaveIt) {
    using qel::ui::Answer;
    struct Case {
        const char* how;
        Answer answer;
        bool closes;
        bool saved;
        bool unwritable = false;
    };
    const Case cases[] = {
        {"last window", Answer::Cancel, false, false}, {"last window", Answer::No, true, false},
        {"close", Answer::Yes, true, true},            {"close", Answer::Cancel, false, false},
        {"program", Answer::Yes, true, true},          {"program", Answer::Cancel, false, false},
        {"close", Answer::No, true, false},            {"close", Answer::Yes, false, false, true},
        {"last window", Answer::Yes, false, false, true}, {"program", Answer::Yes, false, false, true},
    };
    auto readFile = [](const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    for (const Case& c : cases) {
        const QString path = writePicture(*pattern(4, 4, 24), QStringLiteral("changed.bmp"));
        const QByteArray before = readFile(path);
        QPointer<CQelDoc> d = frame->openDocumentFile(path);
        frame->runCommand(ID_TO_GREY);
        EXPECT_EQ(frame->windowTitle(), "Zenpa - changed.bmp *") << c.how;
        dialogs->clear();
        dialogs->answer(c.answer);
        dialogs->answer(Answer::Yes);  // a second question would save
        qel::setRawWriteForTesting(c.unwritable ? diskFull : nullptr);
        if (QString(c.how) == "last window") frame->activeChild()->close();
        else if (QString(c.how) == "close") frame->runCommand(ID_FILE_CLOSE);
        else frame->close();
        qel::setRawWriteForTesting(nullptr);
        processEvents();
        EXPECT_EQ(dialogs->messages().mid(0, 1), QStringList("Zenpa: " + QDir::toNativeSeparators(path) + " への変更を保存しますか？"))
            << c.how;
        EXPECT_EQ(dialogs->messages().size(), c.unwritable ? 2 : 1) << c.how;  // asked once; the failure said
        EXPECT_EQ(d.isNull(), c.closes && QString(c.how) != "program") << c.how;
        EXPECT_EQ(readFile(path) != before, c.saved) << c.how;
        if (d) {
            EXPECT_EQ(d->isModified(), !c.closes) << c.how;
            d->setModified(false);
            frame->runCommand(ID_FILE_CLOSE);
            processEvents();
        }
        frame->show();
    }
}

TEST_F(ShellTest, PrintToPdfWritesAFile) {
    const QString picture = writePicture(*pattern(8, 8, 24), "print.bmp");
    const QString pdf = QString::fromStdString(dir.file("out.pdf"));
    ASSERT_TRUE(CQelApp::printFile(picture, pdf));
    EXPECT_GT(QFileInfo(pdf).size(), 100);
    EXPECT_FALSE(CQelApp::printFile(QString::fromStdString(dir.file("missing.bmp")), pdf));
}

// A pixel is 4 x 4 dots at 300 dpi (8 x 8 at 600), from the printable area's top left; a picture
// larger than the area shrinks to fit it. The page here is a white 600 x 500 dot area.
TEST_F(ShellTest, PrintsAt75PixelsPerInchScaledDownToFitThePage) {
    struct Case { int w, h, dpi; QRect inked; };
    const Case cases[] = {{3, 2, 300, {0, 0, 12, 8}}, {3, 2, 600, {0, 0, 24, 16}}, {300, 100, 300, {0, 0, 600, 200}},
                          {100, 300, 300, {0, 0, 167, 500}}};
    for (const Case& c : cases) {
        open(*greyPicture(c.w, c.h, [](int, int) { return 0; }), QStringLiteral("black%1x%2.bmp").arg(c.w).arg(c.h));
        QImage page(600, 500, QImage::Format_RGB32);
        page.fill(Qt::white);
        page.setDotsPerMeterX(qRound(c.dpi / 0.0254));
        page.setDotsPerMeterY(qRound(c.dpi / 0.0254));
        ASSERT_TRUE(view()->printPicture(page));
        QRect inked;
        for (int y = 0; y < page.height(); ++y)
            for (int x = 0; x < page.width(); ++x)
                if (page.pixel(x, y) != qRgb(255, 255, 255)) inked |= QRect(x, y, 1, 1);
        EXPECT_EQ(inked, c.inked) << c.w << " x " << c.h << " at " << c.dpi;
    }
}

}  // namespace
}  // namespace qel::test

namespace qel::test {
namespace {

class ShellExtrasTest : public GuiTest {};

TEST_F(ShellExtrasTest, SeveralFilesOpenThoseThatCanBeRead) {
    const QString good = writePicture(*pattern(3, 3, 24), "good.bmp");
    const QString missing = QString::fromStdString(dir.file("missing.bmp"));
    EXPECT_EQ(CQelApp::processCommandLine(*frame, {missing, good}), CQelApp::StartResult::Run);
    EXPECT_EQ(frame->childFrames().size(), 1);
    EXPECT_EQ(dialogs->messages(), QStringList({"error: Miss Load!!\n" + missing + ": No such file or directory"}));
    EXPECT_EQ(CQelApp::processCommandLine(*frame, {"--bogus"}), CQelApp::StartResult::Failed);
}

TEST_F(ShellExtrasTest, DroppedFilesOpenAsDocuments) {
    const QString path = writePicture(*pattern(3, 3, 24), "dropped.bmp");
    frame->openDroppedFiles({QUrl("https://example.org/a.bmp"), QUrl::fromLocalFile(path)});
    ASSERT_EQ(frame->childFrames().size(), 1);
    EXPECT_EQ(doc()->title(), "dropped.bmp");
    EXPECT_EQ(frame->windowTitle(), "Zenpa - dropped.bmp");
    const std::string notes = dir.file("notes.txt");  // no picture: named in the message
    writeBytes(notes, {'h', 'i', '\n'});
    frame->openDroppedFiles({QUrl::fromLocalFile(QString::fromStdString(notes))});
    EXPECT_TRUE(dialogs->messages().value(0).contains("\n" + QString::fromStdString(notes) + ": the content is not"));
}

// A pasted picture's window takes the picture's size, as an opened file's window does.
TEST_F(ShellExtrasTest, APastedPicturesWindowHasTheSizeOfAnOpenedOnes) {
    open(*pattern(300, 200, 24));
    frame->runCommand(ID_EDIT_COPY);
    frame->newDocument();
    frame->runCommand(ID_EDIT_PASTE);
    EXPECT_EQ(frame->childFrames()[1]->size(), frame->childFrames()[0]->size());
}

TEST_F(ShellExtrasTest, AboutBoxAndJapaneseHelpPage) {
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), "ﾊﾞｰｼﾞｮﾝ情報");
    EXPECT_EQ(about.findChild<QLabel*>("version")->text(), "Qel Version 0.20");
    EXPECT_FALSE(about.findChild<QLabel*>("icon")->pixmap().isNull());
    frame->runCommand(qel::cmd::ID_HELP_INDEX);
    auto* help = frame->findChild<CHelpWindow*>();
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    const QString text = help->browser()->toPlainText();
    EXPECT_TRUE(text.contains("Qel ヘルプ"));
    EXPECT_TRUE(text.contains("元に戻す"));
}

TEST_F(ShellExtrasTest, QtsOwnTextsAreJapaneseAndFiltersListEachPatternOnce) {
    QDialogButtonBox box(QDialogButtonBox::Yes | QDialogButtonBox::Cancel);
    EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text(), "キャンセル");
    EXPECT_EQ(qel::ui::qtNameFilters("BMP(*.bmp)|*.bmp|すべてのファイル(*.*)|*.*|"), "BMP (*.bmp *.BMP);;すべてのファイル (*)");
}

// The file dialog opens large enough for its columns, then at the size the user left it.
TEST_F(ShellExtrasTest, FileDialogsOpenAtTheSizeLastLeft) {
    std::vector<QSize> sizes;
    qel::ui::QtDialogService real;
    for (const QSize leave : {QSize(1000, 700), QSize(900, 600)}) {
        onNextDialog([&sizes, leave](QDialog* d) {
            sizes.push_back(d->size());
            d->resize(leave);
            d->reject();
        });
        EXPECT_EQ(real.openFile(frame.get(), qel::ui::FileRequest{.filter = "BMP|*.bmp|"}), QString());
    }
    EXPECT_EQ(sizes, (std::vector<QSize>{QSize(860, 540), QSize(1000, 700)}));
}

TEST_F(ShellExtrasTest, PrinterSetupOffersThePrinterAsWellAsThePaper) {
    QString title;
    bool printerChoice = false;
    QTimer::singleShot(0, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog) return;
        title = dialog->windowTitle();
        auto* printers = dialog->findChild<QComboBox*>("printers");
        printerChoice = printers && printers->isVisible() && printers->isEnabled();
        static_cast<QDialog*>(dialog)->reject();
    });
    qel::ui::QtDialogService real;
    QPrinter printer;
    EXPECT_FALSE(real.choosePrinter(frame.get(), printer, qel::ui::PrinterDialog::Setup));
    EXPECT_EQ(title, "ﾌﾟﾘﾝﾀの設定");
    EXPECT_TRUE(printerChoice);
}

TEST_F(ShellExtrasTest, WindowMenuListsTheWindowsAndArrangeLinesIconsUpAtTheBottom) {
    open(*pattern(3, 3, 24), "a.bmp");
    open(*pattern(3, 3, 24), "b.bmp");
    QMenu* windowMenu = nullptr;
    for (QMenu* m : frame->currentMenus())
        if (m->actions().contains(frame->action(ID_WINDOW_NEW))) windowMenu = m;
    ASSERT_NE(windowMenu, nullptr);
    auto listed = [windowMenu] {
        emit windowMenu->aboutToShow();
        QStringList out;
        for (QAction* a : windowMenu->actions())
            if (a->isCheckable()) out << a->text() + (a->isChecked() ? "*" : "");
        return out;
    };
    EXPECT_EQ(listed(), QStringList({"&1 a.bmp", "&2 b.bmp*"}));
    windowMenu->actions().at(windowMenu->actions().size() - 2)->trigger();
    EXPECT_EQ(doc()->title(), "a.bmp");
    EXPECT_EQ(listed(), QStringList({"&1 a.bmp*", "&2 b.bmp"}));

    const QList<CChildFrame*> frames = frame->childFrames();
    for (CChildFrame* f : frames) {
        f->showMinimized();
        f->move(30, 20);
    }
    frame->runCommand(ID_WINDOW_ARRANGE);
    const int bottom = frame->mdiArea()->viewport()->height();
    EXPECT_EQ(frames[0]->geometry().topLeft(), QPoint(0, bottom - frames[0]->height()));
    EXPECT_EQ(frames[1]->geometry().topLeft(), QPoint(frames[0]->width(), bottom - frames[1]->height()));
}

}  // namespace
}  // namespace qel::test
