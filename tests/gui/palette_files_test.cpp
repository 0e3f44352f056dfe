// Palette files through the palette window: the file dialogs' parameters,
// save, load and add, their messages, and the history state a load saves.
#include <QDir>
#include <QFile>
#include <QMouseEvent>
#include <QPushButton>

#include "core/commands/command_table.h"
#include "core/colour/palette_file.h"
#include "gui/commands/colour/palette_dlg.h"
#include "gui_test.h"

namespace qel::test {
namespace {

using namespace qel::cmd;
using Ctl = CPaletteDlg::Control;

std::vector<Rgb> distinctTable(int n) {
    std::vector<Rgb> t;
    for (int i = 0; i < n; ++i) t.push_back(Rgb{uint8_t(i), uint8_t(255 - i), uint8_t((3 * i) & 0xFF)});
    return t;
}

// A palette file text of `count` whose colour k is (k + 1, 2, 3).
std::string fileText(int count) {
    WorkingPalette pal;
    pal.count = count;
    for (int k = 0; k < 256; ++k) pal.setEntry(k, PaletteColour{(k + 1) % 256, 2, 3});
    return formatPaletteText(pal);
}

class PaletteFilesTest : public GuiTest {
protected:
    CPaletteDlg* openPalette(const DibImage& image) {
        open(image);
        frame->runCommand(ID_PALETTE);
        return qobject_cast<CPaletteDlg*>(view()->paletteWindow);
    }
    WorkingPalette& pal() const { return qobject_cast<CPaletteDlg*>(view()->paletteWindow)->workingPalette(); }
    void press(Ctl id) { qobject_cast<CPaletteDlg*>(view()->paletteWindow)->button(id)->click(); }
    QString writeFile(const std::string& name, const std::string& text) {
        const std::string path = dir.file(name);
        EXPECT_TRUE(writeBytes(path, std::vector<uint8_t>(text.begin(), text.end())));
        return QString::fromStdString(path);
    }
    // Answers the next file dialog with `path` and presses the button.
    void withFile(Ctl id, const QString& path) {
        dialogs->clear();
        dialogs->answerPath(path);
        press(id);
    }
};

TEST_F(PaletteFilesTest, EveryFileDialogAsksForPlFilesWithDefaultExtensionPal) {
    openPalette(*makeIndexed(4, {"01"}, distinctTable(16)));
    for (Ctl id : {Ctl::IDC_SAVE, Ctl::IDC_LOAD, Ctl::IDC_ADD}) {
        dialogs->clear();
        press(id);  // cancelled: no path
        ASSERT_EQ(dialogs->shown().size(), 1u);
        const auto& shown = dialogs->shown()[0];
        EXPECT_EQ(shown.kind, id == Ctl::IDC_SAVE ? qel::ui::ShownDialog::SaveFile : qel::ui::ShownDialog::OpenFile);
        EXPECT_EQ(shown.file.filter, "Pallet Files|*.pl|");
        EXPECT_EQ(shown.file.defaultExtension, "pal");
        EXPECT_EQ(shown.file.initialName, "*.pl");
        EXPECT_EQ(pal().historyPos, 0);
    }
}

TEST_F(PaletteFilesTest, SaveWritesTheCountAndAlwaysSixtyFourLines) {
    const auto t = distinctTable(16);
    openPalette(*makeIndexed(4, {"01"}, t));
    const QString path = QString::fromStdString(dir.file("sixteen.pal"));
    withFile(Ctl::IDC_SAVE, path);
    EXPECT_TRUE(dialogs->messages().isEmpty());
    const auto bytes = readBytes(path.toStdString());
    const QStringList lines = QString::fromLatin1(reinterpret_cast<const char*>(bytes.data()), int(bytes.size())).split('\n');
    ASSERT_EQ(lines.size(), 66);  // count, 64 colour lines, nothing after the last line end
    EXPECT_EQ(lines[0], "16");
    EXPECT_EQ(lines[1], "{0,255,0},{1,254,3},{2,253,6},{3,252,9},");
    EXPECT_EQ(lines[65], "");
    EXPECT_EQ(pal().historyPos, 0);
}

TEST_F(PaletteFilesTest, LoadNeverGrowsTheCountAndCanBeUndone) {
    struct Case {
        const char* name;
        int bitCount, entries, fileCount, expectedCount;
    };
    const Case cases[] = {
        {"256 colours into a 16-colour palette", 4, 16, 256, 16},
        {"8 colours into a 256-colour palette", 8, 256, 8, 8},
    };
    for (const Case& c : cases) {
        const auto t = distinctTable(c.entries);
        CPaletteDlg* d = openPalette(*makeIndexed(c.bitCount, {"0123"}, t));
        const QString path = writeFile("load.pl", fileText(c.fileCount));
        withFile(Ctl::IDC_LOAD, path);
        EXPECT_EQ(pal().count, c.expectedCount) << c.name;
        EXPECT_EQ(pal().entry(0), (PaletteColour{1, 2, 3})) << c.name;
        EXPECT_EQ(pal().entry(200), (PaletteColour{201, 2, 3})) << c.name;  // all 256 colours are read
        EXPECT_EQ(pal().historyPos, 1) << c.name;
        // Clicks reach only the entries now in use.
        const GridSquare beyond = paletteSquare(c.expectedCount);
        pal().selected = 0;
        QMouseEvent pressAt(QEvent::MouseButtonPress, QPointF(beyond.left + 5, beyond.top + 5),
                            QPointF(beyond.left + 5, beyond.top + 5), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(d, &pressAt);
        EXPECT_EQ(pal().selected, 0) << c.name;
        // The picture changes only by a request, and then only in the entries in use.
        EXPECT_EQ(doc()->image->tableColour(0), t[0]) << c.name;
        press(Ctl::IDC_REPLACE);
        EXPECT_EQ(doc()->image->tableColour(c.expectedCount - 1), (Rgb{uint8_t(c.expectedCount), 2, 3})) << c.name;
        if (c.expectedCount < c.entries) {
            EXPECT_EQ(doc()->image->tableColour(c.expectedCount), t[c.expectedCount]) << c.name;
        }
        // 元に戻す brings back the palette that stood before the load (N stays as it is now).
        press(Ctl::IDC_UNDO);
        EXPECT_EQ(pal().entry(0), (PaletteColour{t[0].r, t[0].g, t[0].b})) << c.name;
        frame->runCommand(ID_FILE_CLOSE);
        processEvents();
    }
}

TEST_F(PaletteFilesTest, AddPastesFromTheSelectedEntryToTheEnd) {
    const auto t = distinctTable(256);
    openPalette(*makeIndexed(8, {"0123"}, t));
    pal().selected = 250;
    withFile(Ctl::IDC_ADD, writeFile("add.pl", fileText(3)));
    EXPECT_EQ(pal().count, 256);
    EXPECT_EQ(pal().entry(249), (PaletteColour{249, 6, (3 * 249) & 0xFF}));
    for (int k = 0; k < 6; ++k) EXPECT_EQ(pal().entry(250 + k), (PaletteColour{k + 1, 2, 3})) << k;
    EXPECT_EQ(pal().historyPos, 1);
}

TEST_F(PaletteFilesTest, FilesThatCannotBeOpenedShowTheirMessagesAndChangeNothing) {
    const auto t = distinctTable(16);
    openPalette(*makeIndexed(4, {"01"}, t));
    const QString missing = QString::fromStdString(dir.file("missing.pl"));
    const QString unwritable = QString::fromStdString(dir.file("no/such/dir/x.pal"));
    struct Case {
        Ctl button;
        QString path;
        QString message;
    };
    const Case cases[] = {
        {Ctl::IDC_LOAD, missing, "読込エラー: 読込みがが出来ません。"},
        {Ctl::IDC_ADD, missing, "読込エラー: 読込みがが出来ません。"},
        {Ctl::IDC_SAVE, unwritable, "保存エラー: 書き込みがが出来ません。"},
    };
    for (const Case& c : cases) {
        withFile(c.button, c.path);
        EXPECT_EQ(dialogs->messages(), QStringList({c.message}));
        EXPECT_EQ(pal().historyPos, 0);
        EXPECT_EQ(pal().count, 16);
        EXPECT_EQ(pal().entry(0), (PaletteColour{0, 255, 0}));
    }
}

TEST_F(PaletteFilesTest, AGarbageFileChangesNoColourAndNoCount) {
    const auto t = distinctTable(16);
    openPalette(*makeIndexed(4, {"01"}, t));
    std::string junk(5000, '\0');
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>((i * 131 + 7) % 251);
    for (Ctl button : {Ctl::IDC_LOAD, Ctl::IDC_ADD}) {
        withFile(button, writeFile("junk.pl", junk));
        EXPECT_EQ(pal().count, 16);
        EXPECT_EQ(pal().entry(0), (PaletteColour{0, 255, 0}));
        EXPECT_EQ(pal().entry(15), (PaletteColour{t[15].r, t[15].g, t[15].b}));
    }
}

}  // namespace
}  // namespace qel::test
