// The window program where the user is: dialogs that start in the user's folders, pasted windows at the
// picture's size, named files in messages, and the save question on closing a changed document.
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QPointer>
#include <QStandardPaths>
#include <QUrl>

#include <cerrno>

#include "core/commands/command_table.h"
#include "core/image/file_io.h"
#include "gui/kit/dialog_service.h"
#include "gui_test.h"

namespace qel::test {
namespace {

using namespace qel::cmd;
using qel::ui::Answer;

class WindowProgramTest : public GuiTest {
protected:
    QString folder(const char* name) {
        const QString path = QString::fromStdString(dir.file(name));
        QDir().mkpath(path);
        return path;
    }
    // The folder and name the last file dialog started with.
    std::pair<QString, QString> lastFileDialog() const {
        const auto& f = dialogs->shown().back().file;
        return {f.directory, f.initialName};
    }
};

// Open and Save As start in the active document's folder, else the last folder used (kept across runs),
// else the picture folder; Save As proposes the document's name.
TEST_F(WindowProgramTest, FileDialogsStartWhereTheUsersFilesAre) {
    frame->runCommand(ID_FILE_OPEN);
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    const QString start = lastFileDialog().first;
    EXPECT_TRUE(start == pictures || start == QDir::homePath()) << start.toStdString();

    const QString a = folder("a");
    const QString b = folder("b");
    EXPECT_TRUE(pattern(3, 2, 24)->saveFile((a + "/one.bmp").toStdString()) == ImageError::None);
    dialogs->answerPath(a + "/one.bmp");
    frame->runCommand(ID_FILE_OPEN);
    frame->newDocument();  // no file: the last folder used
    frame->runCommand(ID_FILE_OPEN);
    EXPECT_EQ(lastFileDialog().first, a);
    frame->runCommand(ID_FILE_SAVE_AS);
    EXPECT_EQ(lastFileDialog(), std::make_pair(a, QStringLiteral("Qel1.bmp")));

    open(*pattern(3, 2, 24), "b/two.png");  // the active document's folder
    frame->runCommand(ID_FILE_OPEN);
    EXPECT_EQ(lastFileDialog().first, b);
    frame->runCommand(ID_FILE_SAVE_AS);
    EXPECT_EQ(lastFileDialog(), std::make_pair(b, QStringLiteral("two.png")));

    const QString c = folder("c");
    dialogs->answerPath(c + "/three.bmp");
    frame->runCommand(ID_FILE_SAVE_AS);
    frame.reset();  // a later run remembers the folder of the last save
    frame = std::make_unique<CMainFrame>();
    frame->runCommand(ID_FILE_OPEN);
    EXPECT_EQ(lastFileDialog().first, c);
}

// The Qt dialog starts in the requested folder with the requested filter selected.
TEST_F(WindowProgramTest, TheQtFileDialogTakesTheFolderAndFilterAsked) {
    qel::ui::QtDialogService qt;
    qel::ui::FileRequest request;
    request.filter = QStringLiteral("BMP|*.bmp|画像ファイル|*.bmp;*.png|すべてのファイル|*.*|");
    request.selectedFilter = QStringLiteral("画像ファイル");
    request.directory = folder("start");
    QString selected, directory;
    onNextDialog([&](QDialog* d) {
        if (auto* f = qobject_cast<QFileDialog*>(d)) {
            selected = f->selectedNameFilter();
            directory = f->directory().absolutePath();
        }
        d->reject();
    });
    EXPECT_EQ(qt.openFile(frame.get(), request), QString());
    EXPECT_TRUE(selected.startsWith("画像ファイル (")) << selected.toStdString();
    EXPECT_EQ(directory, request.directory);
}

// A pasted picture's window takes the picture's size, as an opened file's window does.
TEST_F(WindowProgramTest, APastedPicturesWindowHasTheSizeOfAnOpenedOnes) {
    open(*pattern(300, 200, 24));
    const QSize opened = frame->activeChild()->size();
    QImage picture(300, 200, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QApplication::clipboard()->setImage(picture);
    frame->newDocument();
    frame->runCommand(ID_EDIT_PASTE);
    ASSERT_NE(doc()->bitmap, nullptr);
    EXPECT_EQ(frame->activeChild()->size(), opened);
}

// A dropped file that is no picture is named in the message.
TEST_F(WindowProgramTest, ADroppedFileThatIsNoPictureIsNamed) {
    const QString notes = QString::fromStdString(dir.file("notes.txt"));
    ASSERT_TRUE(writeBytes(notes.toStdString(), {'h', 'e', 'l', 'l', 'o', '\n'}));
    frame->openDroppedFiles({QUrl::fromLocalFile(notes)});
    ASSERT_EQ(dialogs->messages().size(), 1);
    EXPECT_TRUE(dialogs->messages()[0].contains(QDir::toNativeSeparators(notes))) << dialogs->messages()[0].toStdString();
    EXPECT_TRUE(frame->childFrames().isEmpty());
}

size_t failingWrite(const void*, size_t, std::FILE*) {
    errno = ENOSPC;
    return 0;
}

// はい on closing a document whose file cannot be written keeps it open and changed, however it closes.
TEST_F(WindowProgramTest, YesToTheSaveQuestionKeepsADocumentThatCannotBeWritten) {
    enum How { CloseDocument, LastWindow, Quit };
    for (How how : {CloseDocument, LastWindow, Quit}) {
        QPointer<CQelDoc> d = open(*pattern(4, 4, 24), QStringLiteral("kept%1.bmp").arg(how));
        frame->runCommand(ID_TO_GREY);
        dialogs->clear();
        dialogs->answer(Answer::Yes);
        qel::setRawWriteForTesting(failingWrite);
        if (how == CloseDocument) frame->runCommand(ID_FILE_CLOSE);
        else if (how == LastWindow) frame->activeChild()->close();
        else frame->close();
        qel::setRawWriteForTesting(nullptr);
        processEvents();
        ASSERT_FALSE(d.isNull()) << how;
        EXPECT_TRUE(d->isModified()) << how;
        EXPECT_EQ(frame->childFrames().size(), 1) << how;
        EXPECT_EQ(dialogs->messages().size(), 2) << how;  // the question and why the save failed
        EXPECT_TRUE(frame->isVisible()) << how;
        d->setModified(false);
        frame->runCommand(ID_FILE_CLOSE);
        processEvents();
    }
}

// 閉じる answered いいえ asks once and writes nothing, even when a later question would be answered はい.
TEST_F(WindowProgramTest, CloseAnsweredNoAsksOnceAndWritesNothing) {
    const QString path = writePicture(*pattern(4, 4, 24), "picture.bmp");
    const auto before = readBytes(path.toStdString());
    QPointer<CQelDoc> d = frame->openDocumentFile(path);
    frame->runCommand(ID_TO_GREY);
    dialogs->clear();
    dialogs->answer(Answer::No);
    dialogs->answer(Answer::Yes);
    frame->runCommand(ID_FILE_CLOSE);
    processEvents();
    EXPECT_EQ(dialogs->messages().size(), 1);
    EXPECT_EQ(readBytes(path.toStdString()), before);
    EXPECT_TRUE(d.isNull());
    EXPECT_TRUE(frame->childFrames().isEmpty());
}

// A change marks every window of a document shown in two.
TEST_F(WindowProgramTest, BothWindowsOfAChangedDocumentShowTheMark) {
    open(*pattern(4, 4, 24));
    frame->runCommand(ID_WINDOW_NEW);
    frame->runCommand(ID_TO_GREY);
    QStringList titles;
    for (CChildFrame* f : frame->childFrames()) titles << f->windowTitle();
    EXPECT_EQ(titles, QStringList({"picture.bmp:1 *", "picture.bmp:2 *"}));
}

}  // namespace
}  // namespace qel::test
