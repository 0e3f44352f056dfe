// qel-sequence: drives the window program (offscreen) through random command
// sequences and checks after every step that no picture is lost or garbled.
//
// From a seed it opens pictures of every depth and odd sizes, splits panes,
// opens second windows, runs whatever menu command is enabled, presses the
// palette window's buttons, closes windows and answers every dialog with a
// valid, boundary or invalid value (Cancel included). After each step:
//   - the header agrees with the pixel block, the document's sizes and the display bitmap;
//   - every pane of a document paints the document's current picture;
//   - the enabling of every menu item follows the command table;
//   - undo right after a change gives back the bytes of before, redo then the bytes of after;
//   - a changed picture is marked changed, and closing it keeps it unless the user said No;
//   - a picture saved and read back has the same bytes.
// A failing sequence is shrunk to the shortest one that still fails and printed
// as a line that --replay (or a regressions file) runs again.
//
//   qel-sequence [--seed S] [--sequences N | --seconds N] [--steps M] [--no-large]
//   qel-sequence --replay "open.8.1 cmd.32771.5 ..."
//   qel-sequence --regressions FILE     every line of FILE is a sequence that once failed
//   qel-sequence --huge FILE --commands ID,... [--fields TEXT,...]
//                                       peak memory of each command on one picture (dialogs take the
//                                       given field texts, else their defaults)
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QLineEdit>
#include <QMdiArea>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/commands/command_table.h"
#include "core/image/dib_image.h"
#include "gui/commands/colour/palette_dlg.h"
#include "gui/docview/qel_doc.h"
#include "gui/docview/qel_view.h"
#include "gui/kit/dialog_service.h"
#include "gui/shell/child_frame.h"
#include "gui/shell/main_frame.h"
#include "gui/shell/qel_app.h"

using namespace qel;
using namespace qel::cmd;

namespace {

// What the runs checked, for the summary line.
struct Counts {
    long changes = 0, undoChecks = 0, redoChecks = 0, saveChecks = 0, modalDialogs = 0, largePictures = 0;
} g_counts;

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void expect(bool ok, const std::string& what) {
    if (!ok) throw Failure(what);
}

void processEvents() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

// ---------------------------------------------------------------- steps

enum class Kind { Open, Command, Split, Pane, Window, Close, PaletteButton, SaveCheck };
const char* const kKindNames[] = {"open", "cmd", "split", "pane", "window", "close", "pal", "save"};

// One user action: what to do, its target (command id, shape, pane operation, button) and the seed of
// every choice it makes (dialog answers, picture contents).
struct Step {
    Kind kind;
    int target = 0;
    uint32_t seed = 0;
};

std::string toText(const std::vector<Step>& steps) {
    std::string s;
    for (const Step& st : steps) {
        if (!s.empty()) s += ' ';
        s += kKindNames[int(st.kind)] + ('.' + std::to_string(st.target) + "." + std::to_string(st.seed));
    }
    return s;
}

std::vector<Step> fromText(const std::string& text) {
    std::vector<Step> steps;
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        const size_t a = word.find('.'), b = word.rfind('.');
        if (a == std::string::npos || a == b) throw std::invalid_argument("bad step: " + word);
        const std::string name = word.substr(0, a);
        int k = 0;
        while (k < 8 && name != kKindNames[k]) ++k;
        if (k == 8) throw std::invalid_argument("bad step: " + word);
        steps.push_back(Step{Kind(k), std::stoi(word.substr(a + 1, b - a - 1)),
                             uint32_t(std::stoul(word.substr(b + 1)))});
    }
    return steps;
}

// ---------------------------------------------------------------- dialog answers

// Field values: valid, boundary and invalid numbers, formulas and file names.
QString fieldValue(std::mt19937& rng, const QStringList& files) {
    static const char* const pool[] = {
        "0",    "1",   "2",   "3",  "-1",  "8",    "16",  "100",  "255",   "256",   "1000", "30000", "65535",
        "65536", "2147483647", "-2147483648", "99999999999", "0.5", "1.5", "-0.5", "1e9", "1e-9", "nan",
        "",     " ",   "abc", "x",  "y",   "x*2",  "x+y", "sin(x)", "1/0", "x+", "(((", "0/0", "y*y*y",
    };
    const auto n = std::size(pool);
    const uint32_t pick = rng() % (n + 3);
    if (pick < n) return QString::fromUtf8(pool[pick]);
    if (pick == n && !files.isEmpty()) return files[int(rng() % files.size())];
    if (pick == n + 1) return QStringLiteral("/nonexistent/picture.bmp");
    return QString::number(int(rng() % 64));
}

// Answers the program's dialogs (message boxes, file and colour dialogs) from the current step's seed.
class RandomDialogs : public ui::DialogService {
public:
    std::mt19937 rng;
    QString dir;
    QStringList files;           // pictures written so far
    QString forcedSavePath;      // the next save dialog answers this
    QString lastSavePath;        // what the last save dialog answered
    ui::Answer lastSaveQuestion = ui::Answer::Cancel;
    bool answerDefaults = false;  // Ok, No and Cancel instead of random answers
    QStringList fieldAnswers;     // with answerDefaults: typed into a dialog's fields in order
    QStringList shownMessages;
    int saveQuestions = 0;

    ui::Answer message(QWidget*, const QString& text, const QString&, ui::Buttons buttons, ui::Icon) override {
        using ui::Answer;
        shownMessages.push_back(text);
        if (answerDefaults) return buttons == ui::Buttons::YesNo || buttons == ui::Buttons::YesNoCancel ? Answer::No : Answer::Ok;
        Answer a = Answer::Ok;
        switch (buttons) {
        case ui::Buttons::Ok: a = Answer::Ok; break;
        case ui::Buttons::OkCancel: a = rng() % 2 ? Answer::Ok : Answer::Cancel; break;
        case ui::Buttons::YesNo: a = rng() % 2 ? Answer::Yes : Answer::No; break;
        case ui::Buttons::YesNoCancel: a = std::array{Answer::Yes, Answer::No, Answer::Cancel}[rng() % 3]; break;
        }
        if (text.contains(QStringLiteral("への変更を保存しますか"))) {
            lastSaveQuestion = a;
            ++saveQuestions;
        }
        return a;
    }
    QString openFile(QWidget*, const ui::FileRequest&) override {
        switch (rng() % 5) {
        case 0: return {};
        case 1: return dir + QStringLiteral("/missing.bmp");
        case 2: return dir + QStringLiteral("/not-a-picture.bmp");
        default: return files.isEmpty() ? QString() : files[int(rng() % files.size())];
        }
    }
    QString saveFile(QWidget*, const ui::FileRequest&) override {
        if (!forcedSavePath.isEmpty()) return lastSavePath = std::exchange(forcedSavePath, QString());
        lastSavePath = pickSavePath();
        return lastSavePath;
    }
    QString pickSavePath() {
        switch (rng() % 4) {
        case 0: return {};
        case 1: return QStringLiteral("/nonexistent/dir/out.bmp");
        default: {
            const QString path = dir + QStringLiteral("/saved%1.bmp").arg(rng() % 4);
            if (!files.contains(path)) files.push_back(path);
            return path;
        }
        }
    }
    std::optional<QColor> chooseColour(QWidget*, const QColor&) override {
        if (rng() % 3 == 0) return std::nullopt;
        return QColor(int(rng() % 256), int(rng() % 256), int(rng() % 256));
    }
    bool choosePrinter(QWidget*, QPrinter&, ui::PrinterDialog) override { return false; }
};

// Answers the program's own modal dialogs: keeps the defaults, types random values, or cancels. A dialog
// that refuses its values three times is cancelled.
class ModalDriver : public QObject {
public:
    explicit ModalDriver(RandomDialogs& dialogs) : dialogs_(dialogs) {
        timer_.setInterval(0);
        connect(&timer_, &QTimer::timeout, this, &ModalDriver::poll);
        timer_.start();
    }

private:
    void poll() {
        auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!d || !d->isVisible() || busy_) return;
        busy_ = true;
        std::mt19937& rng = dialogs_.rng;
        const int tries = ++tries_[d];
        if (tries == 1) ++g_counts.modalDialogs;
        const uint32_t choice = rng() % 8;
        if (tries > 3 || choice < 2) {
            d->reject();
        } else {
            if (choice >= 5) {
                for (QLineEdit* e : d->findChildren<QLineEdit*>())
                    if (e->isEnabled() && !e->isReadOnly() && rng() % 2) e->setText(fieldValue(rng, dialogs_.files));
                for (QCheckBox* c : d->findChildren<QCheckBox*>())
                    if (rng() % 2) c->setChecked(!c->isChecked());
                for (QComboBox* c : d->findChildren<QComboBox*>())
                    if (c->count() > 0 && rng() % 2) c->setCurrentIndex(int(rng() % c->count()));
                const auto radios = d->findChildren<QRadioButton*>();
                if (!radios.isEmpty() && rng() % 2) radios[int(rng() % radios.size())]->setChecked(true);
            }
            d->accept();
        }
        if (!d->isVisible()) tries_.remove(d);
        busy_ = false;
    }

    RandomDialogs& dialogs_;
    QTimer timer_;
    QHash<QDialog*, int> tries_;
    bool busy_ = false;
};

// ---------------------------------------------------------------- pictures

// A picture file of the given depth and size with random pixels and colour table; some indexed pictures
// have a short table, so pixel values point past it.
QString writePicture(const QString& path, int depth, int width, int height, uint32_t seed) {
    std::mt19937 rng(seed);
    int entries = depth == 24 ? 0 : 1 << depth;
    uint32_t clrUsed = 0;
    if (depth == 8 && rng() % 4 == 0) entries = int(clrUsed = 1 + rng() % 255);
    const auto size = uint32_t(strideFor(width, depth) * height);
    std::vector<uint8_t> info = makeInfoBlock(newHeader(width, height, uint16_t(depth), clrUsed, size), entries);
    for (int i = 0; i < entries * 4; ++i)
        if (i % 4 != 3) info[kHeaderSize + i] = uint8_t(rng());
    PixelBytes bits(size);
    const uint32_t style = rng() % 3;  // noise, few values, or stripes (line art for the thinning commands)
    for (size_t i = 0; i < bits.size(); ++i)
        bits[i] = style == 0 ? uint8_t(rng()) : style == 1 ? uint8_t(rng() % 3) : uint8_t((i / 3) % 5 == 0 ? 0 : 255);
    DibImage image;
    image.replace(std::move(info), std::move(bits));
    expect(image.saveFile(path.toStdString()) == ImageError::None, "cannot write the picture " + path.toStdString());
    return path;
}

// ---------------------------------------------------------------- the run

struct Snapshot {
    std::vector<uint8_t> info;
    PixelBytes bits;
    bool operator==(const Snapshot&) const = default;
};

Snapshot snapshotOf(const CQelDoc* d) { return Snapshot{d->image->info, d->image->bits}; }

std::string describe(const CQelDoc* d) {
    const auto h = d->image->header();
    return d->title().toStdString() + " (" + std::to_string(h.biWidth) + "x" + std::to_string(h.biHeight) + "x" +
           std::to_string(h.biBitCount) + ")";
}

class Run {
public:
    explicit Run(bool allowLarge, bool answerDefaults = false) : allowLarge_(allowLarge) {
        auto service = std::make_unique<RandomDialogs>();
        dialogs_ = service.get();
        dialogs_->answerDefaults = answerDefaults;
        previous_ = ui::installDialogService(std::move(service));
        dialogs_->dir = tmp_.path();
        QFile junk(tmp_.path() + QStringLiteral("/not-a-picture.bmp"));
        if (junk.open(QIODevice::WriteOnly)) junk.write("BM not really a picture");
        QSettings().clear();
        QApplication::clipboard()->clear();
        CQelDoc::resetUntitledCounterForTesting();
        frame_ = std::make_unique<CMainFrame>();
        frame_->show();
        if (!answerDefaults) {
            driver_ = std::make_unique<ModalDriver>(*dialogs_);
        } else {
            // Modal dialogs take the given field texts (else their defaults) and OK, or Cancel when refused.
            QObject::connect(&defaultsTimer_, &QTimer::timeout, [this] {
                auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                if (!d) return;
                const auto edits = d->findChildren<QLineEdit*>();
                for (int i = 0; i < edits.size() && i < dialogs_->fieldAnswers.size(); ++i)
                    edits[i]->setText(dialogs_->fieldAnswers[i]);
                d->accept();
                if (d->isVisible()) d->reject();
            });
            defaultsTimer_.start(0);
        }
        processEvents();
    }
    ~Run() {
        driver_.reset();
        // Closing asks about changed pictures: No keeps the teardown quiet.
        for (CChildFrame* c : frame_->childFrames()) c->document()->setModified(false);
        frame_.reset();
        processEvents();
        ui::installDialogService(std::move(previous_));
    }

    // Draws the next step from what the program offers now.
    Step nextStep(std::mt19937& rng) {
        const uint32_t seed = rng() % 100000;
        const bool window = frame_->activeChild() != nullptr;
        CQelView* v = frame_->activeView();
        auto* palette = v ? qobject_cast<CPaletteDlg*>(v->paletteWindow) : nullptr;
        // Undo and redo often follow a change, where their bytes are checked.
        if (change_ && rng() % 2) return Step{Kind::Command, change_->undone ? ID_EDIT_REDO : ID_EDIT_UNDO, seed};
        const uint32_t r = rng() % 100;
        if (!window && r < 60) return Step{Kind::Open, int(rng() % 1000), seed};
        if (palette && palette->isVisible() && r < 30) {
            static const int buttons[] = {CPaletteDlg::IDC_SAVE,   CPaletteDlg::IDC_LOAD,     CPaletteDlg::IDC_ORGANISE,
                                          CPaletteDlg::IDC_REPLACE, CPaletteDlg::IDC_CHECK_COLOUR,
                                          CPaletteDlg::IDC_APPROXIMATE, CPaletteDlg::IDC_ADD, CPaletteDlg::IDC_UNDO,
                                          CPaletteDlg::IDC_MERGE,  CPaletteDlg::IDC_FILL,     CPaletteDlg::IDC_SORT,
                                          CPaletteDlg::IDC_REDO,   CPaletteDlg::IDC_CLOSE};
            return Step{Kind::PaletteButton, buttons[rng() % std::size(buttons)], seed};
        }
        if (r < 5) return Step{Kind::Open, int(rng() % 1000), seed};
        if (window && r < 9) return Step{Kind::Split, int(rng() % 4), seed};
        if (window && r < 12) return Step{Kind::Pane, 0, seed};
        if (window && r < 15) return Step{Kind::Window, int(rng() % 4), seed};
        if (window && r < 18) return Step{Kind::Close, 0, seed};
        if (window && r < 21) return Step{Kind::SaveCheck, 0, seed};
        if (r < 40) {
            for (int id : {ID_EDIT_UNDO, ID_EDIT_REDO})
                if (frame_->isCommandEnabled(id) && rng() % 2) return Step{Kind::Command, id, seed};
        }
        std::vector<int> enabled;
        for (const auto* table : {&documentMenu(), &startMenu()})
            for (const Command& c : *table)
                if (c.id != kSeparator && c.id != ID_APP_EXIT && frame_->isCommandEnabled(c.id)) enabled.push_back(c.id);
        if (enabled.empty()) return Step{Kind::Open, int(rng() % 1000), seed};
        return Step{Kind::Command, enabled[rng() % enabled.size()], seed};
    }

    void perform(const Step& step) {
        dialogs_->rng.seed(step.seed);
        CQelView* view = frame_->activeView();
        QPointer<CQelDoc> doc = frame_->activeDocument();
        const std::optional<Snapshot> before = doc ? std::optional(snapshotOf(doc)) : std::nullopt;
        const bool wasModified = doc && doc->isModified();
        const int questions = dialogs_->saveQuestions;
        const int windowsBefore = doc ? int(windowsOf(doc)) : 0;
        const QString pathBefore = doc ? doc->pathName() : QString();
        std::optional<Change> last = std::exchange(change_, std::nullopt);

        switch (step.kind) {
        case Kind::Open: open(step); break;
        case Kind::Command: frame_->runCommand(step.target); break;
        case Kind::Split:
            if (CChildFrame* c = frame_->activeChild()) {
                if (step.target == 0) c->splitRows();
                else if (step.target == 1) c->splitColumns();
                else if (step.target == 2) c->removeRow(int(step.seed % 2));
                else c->removeColumn(int(step.seed % 2));
            }
            break;
        case Kind::Pane:
            if (CChildFrame* c = frame_->activeChild()) c->activateNextPane(step.seed % 2);
            break;
        case Kind::Window: {
            const auto children = frame_->childFrames();
            if (!children.isEmpty()) frame_->mdiArea()->setActiveSubWindow(children[step.target % children.size()]);
            break;
        }
        case Kind::Close:
            if (CChildFrame* c = frame_->activeChild()) c->close();
            break;
        case Kind::PaletteButton:
            if (view)
                if (auto* p = qobject_cast<CPaletteDlg*>(view->paletteWindow); p && p->isVisible())
                    if (QPushButton* b = p->button(CPaletteDlg::Control(step.target))) b->click();
            break;
        case Kind::SaveCheck: saveCheck(); break;
        }
        processEvents();

        if (!doc && before) {
            // The document went away: a changed picture may only go when the user said No (or it was saved).
            expect(!wasModified || dialogs_->saveQuestions > questions,
                   "a changed picture closed without asking");
            expect(!wasModified || dialogs_->lastSaveQuestion != ui::Answer::Cancel,
                   "Cancel to the save question still closed the picture");
            if (wasModified && dialogs_->lastSaveQuestion == ui::Answer::Yes) {
                // Yes: the file now holds the picture as it was.
                const QString path = pathBefore.isEmpty() ? dialogs_->lastSavePath : pathBefore;
                DibImage saved;
                expect(saved.loadFile(path.toStdString()) && saved.info == before->info && saved.bits == before->bits,
                       "a picture saved on closing reads back different");
            }
            return;
        }
        if (!doc || !before) return;
        if (step.kind == Kind::Close && windowsBefore == 1 && wasModified && dialogs_->saveQuestions > questions &&
            dialogs_->lastSaveQuestion == ui::Answer::No)
            expect(false, "No to the save question kept the picture open");
        const Snapshot after = snapshotOf(doc);
        if (step.kind == Kind::PaletteButton && after != *before) {
            expect(doc->isModified(), "the palette window changed the picture but it is not marked changed");
            ++g_counts.changes;
        }
        if (step.kind != Kind::Command || step.target == ID_FILE_SAVE || step.target == ID_FILE_SAVE_AS) return;
        if (step.target == ID_EDIT_UNDO && last && last->view == view && !last->undone) {
            expect(after == last->before, "undo right after a change did not give back the bytes of before");
            ++g_counts.undoChecks;
            change_ = last;
            change_->undone = true;
        } else if (step.target == ID_EDIT_REDO && last && last->view == view && last->undone) {
            expect(after == last->after, "redo right after undo did not give back the bytes of after");
            ++g_counts.redoChecks;
            change_ = last;
            change_->undone = false;
        } else if (after != *before && step.target != ID_EDIT_UNDO && step.target != ID_EDIT_REDO) {
            expect(doc->isModified(), "the picture changed but is not marked changed");
            ++g_counts.changes;
            if (view && view->document() == doc && view->canUndo())
                change_ = Change{QPointer<CQelView>(view), *before, after, false};
        }
    }

    CMainFrame& frame() { return *frame_; }
    RandomDialogs& dialogs() { return *dialogs_; }

    // Every document, every pane, and the menu enabling.
    void checkInvariants() {
        for (CChildFrame* c : frame_->childFrames()) {
            CQelDoc* d = c->document();
            checkDocument(d);
            expect(d->views().size() == panesOf(d), "a document lists views no window shows");
            for (CQelView* v : c->panes()) {
                expect(v->document() == d, "a pane shows another document");
                expect(std::find(d->views().begin(), d->views().end(), v) != d->views().end(),
                       "a pane is missing from its document's views");
                checkPane(v);
            }
        }
        checkEnabling();
    }

private:
    struct Change {
        QPointer<CQelView> view;
        Snapshot before, after;
        bool undone = false;
    };

    size_t panesOf(CQelDoc* d) const {
        size_t n = 0;
        for (CChildFrame* c : frame_->childFrames()) n += c->document() == d ? size_t(c->panes().size()) : 0;
        return n;
    }

    size_t windowsOf(CQelDoc* d) const {
        size_t n = 0;
        for (CChildFrame* c : frame_->childFrames()) n += c->document() == d;
        return n;
    }

    void open(const Step& step) {
        static const int depths[] = {1, 4, 8, 24};
        const int depth = depths[step.target % 4];
        const int shape = step.target / 4 % 250;
        int w = 1, h = 1;
        if (shape >= 245 && allowLarge_) w = 3000, h = 2000, ++g_counts.largePictures;
        else if (shape >= 200) w = 1 + int(step.seed % 40), h = 1 + int(step.seed / 40 % 40);
        else if (shape >= 20) w = 1 + int(step.seed % 9), h = 1 + int(step.seed / 9 % 9);
        const QString path = dialogs_->dir + QStringLiteral("/p%1.bmp").arg(++opened_);
        writePicture(path, depth, w, h, step.seed);
        dialogs_->files.push_back(path);
        frame_->openDocumentFile(path);
    }

    // Save As to a new file and read it back: the same bytes.
    void saveCheck() {
        CQelDoc* d = frame_->activeDocument();
        if (!d || !d->bitmap) return;
        const QString path = dialogs_->dir + QStringLiteral("/check%1.bmp").arg(++saved_);
        dialogs_->forcedSavePath = path;
        frame_->runCommand(ID_FILE_SAVE_AS);
        dialogs_->forcedSavePath.clear();
        expect(QFile::exists(path), "Save As wrote no file");
        DibImage back;
        ImageError e = ImageError::None;
        expect(back.loadFile(path.toStdString(), &e) != nullptr, "a saved picture cannot be read back");
        expect(back.info == d->image->info && back.bits == d->image->bits,
               "a saved picture reads back different: " + describe(d));
        dialogs_->files.push_back(path);
        ++g_counts.saveChecks;
    }

    void checkDocument(CQelDoc* d) {
        const DibImage& im = *d->image;
        if (!d->bitmap) {
            expect(!im.displayBitmap || im.info.empty(), "a document without a bitmap holds a picture: " + describe(d));
            return;
        }
        const BitmapInfoHeader h = im.header();
        const std::string name = describe(d);
        expect(d->bitmap == im.displayBitmap.get(), "the document's bitmap is not its picture's: " + name);
        expect(h.biWidth >= 1 && h.biHeight >= 1 && h.biWidth <= 65535 && h.biHeight <= 65535, "bad size: " + name);
        expect(h.biBitCount == 1 || h.biBitCount == 4 || h.biBitCount == 8 || h.biBitCount == 24, "bad depth: " + name);
        expect(im.info.size() >= size_t(kHeaderSize + 4 * tableEntries(h)), "colour table cut short: " + name);
        expect(im.bits.size() == size_t(strideFor(h.biWidth, h.biBitCount) * h.biHeight),
               "pixel block does not match the header: " + name);
        expect(d->imageWidth == h.biWidth && d->imageHeight == h.biHeight, "document sizes differ from the header: " + name);
        const DisplayBitmap& bm = *d->bitmap;
        expect(bm.width == h.biWidth && bm.height == h.biHeight && bm.pixels.size() == size_t(bm.width) * bm.height,
               "display bitmap size differs from the header: " + name);
        // Every pixel of small pictures, a grid of them in large ones.
        const int sx = std::max(1, bm.width / 64), sy = std::max(1, bm.height / 64);
        for (int y = 0; y < bm.height; y += sy)
            for (int x = 0; x < bm.width; x += sx)
                if (!(bm.colour(x, y) == im.colourAt(x, y)))
                    throw Failure("display bitmap differs from the pixels at " + std::to_string(x) + "," +
                                  std::to_string(y) + ": " + name);
    }

    // The pane's scroll area is the picture at its zoom, and at zooms of 1 and above it paints the
    // document's pixels.
    void checkPane(CQelView* v) {
        CQelDoc* d = v->document();
        if (!d->bitmap) return;
        const QSize expected(int(std::trunc(d->imageWidth * double(v->zoom))), int(std::trunc(d->imageHeight * double(v->zoom))));
        expect(v->scrollSizes() == expected, "a pane's scroll area does not match the picture at its zoom: " + describe(d));
        if (v->zoom < 1.0f || !v->isVisible() || v->viewport()->width() <= 0) return;
        const QImage shown = v->viewport()->grab().toImage();
        if (shown.devicePixelRatio() != 1.0) return;
        const int z = int(v->zoom);
        const QPoint scroll = v->scrollPosition();
        const DisplayBitmap& bm = *d->bitmap;
        for (int i = 0; i < 16; ++i) {
            const int px = bm.width * i / 16, py = bm.height * ((i * 7) % 16) / 16;
            const int x = px * z + z / 2 - scroll.x(), y = py * z + z / 2 - scroll.y();
            if (x < 0 || y < 0 || x >= shown.width() || y >= shown.height()) continue;
            if ((shown.pixel(x, y) | 0xFF000000u) != bm.pixel(px, py))
                throw Failure("a pane does not show the document's picture at " + std::to_string(px) + "," +
                              std::to_string(py) + ": " + describe(d));
        }
    }

    void checkEnabling() {
        CommandContext ctx;
        CQelView* v = frame_->activeView();
        CQelDoc* d = frame_->activeDocument();
        expect(frame_->showsDocumentMenu() == (frame_->activeChild() != nullptr), "the wrong menu is shown");
        if (d) {
            ctx.documentWindow = true;
            ctx.picture = d->bitmap != nullptr;
            ctx.depth = d->image->bitCount();
        }
        if (v) {
            ctx.thinned = v->thinned != 0;
            ctx.undoEnabled = v->canUndo();
            ctx.redoEnabled = v->canRedo();
        }
        const auto& table = frame_->showsDocumentMenu() ? documentMenu() : startMenu();
        for (const Command& c : table) {
            if (c.id == kSeparator || c.id == ID_FILE_MRU_FILE1 || c.id == ID_APP_ABOUT) continue;
            if (frame_->isCommandEnabled(c.id) != isEnabled(c.rule, ctx))
                throw Failure("enabling of " + std::string(c.text) + " differs from the command table");
        }
    }

    bool allowLarge_;
    QTemporaryDir tmp_;
    RandomDialogs* dialogs_ = nullptr;
    std::unique_ptr<ui::DialogService> previous_;
    std::unique_ptr<CMainFrame> frame_;
    std::unique_ptr<ModalDriver> driver_;
    QTimer defaultsTimer_;
    std::optional<Change> change_;
    int opened_ = 0;
    int saved_ = 0;
};

struct Outcome {
    bool failed = false;
    size_t at = 0;  // the failing step
    std::string what;
};

// The step being run, for the crash report.
std::string g_current;

Outcome play(const std::vector<Step>& steps, bool allowLarge) {
    Run run(allowLarge);
    for (size_t i = 0; i < steps.size(); ++i) {
        try {
            run.perform(steps[i]);
            run.checkInvariants();
        } catch (const Failure& f) {
            return Outcome{true, i, f.what()};
        }
    }
    return {};
}

// A fresh sequence from a seed: each step is drawn from what the program offers after the previous one.
Outcome generate(uint32_t seed, int length, bool allowLarge, std::vector<Step>& steps) {
    std::mt19937 rng(seed);
    Run run(allowLarge);
    for (int i = 0; i < length; ++i) {
        steps.push_back(run.nextStep(rng));
        g_current = "seed " + std::to_string(seed) + ": " + toText(steps);
        try {
            run.perform(steps.back());
            run.checkInvariants();
        } catch (const Failure& f) {
            return Outcome{true, size_t(i), f.what()};
        }
    }
    return {};
}

// Removes steps while the sequence still fails the same way: chunks first, then single steps.
std::vector<Step> shrink(std::vector<Step> steps, const std::string& what, bool allowLarge) {
    for (size_t chunk = std::max<size_t>(1, steps.size() / 2);; chunk /= 2) {
        for (size_t start = 0; start < steps.size();) {
            std::vector<Step> shorter = steps;
            shorter.erase(shorter.begin() + long(start), shorter.begin() + long(std::min(steps.size(), start + chunk)));
            const Outcome o = play(shorter, allowLarge);
            if (o.failed && o.what == what) steps.assign(shorter.begin(), shorter.begin() + long(o.at) + 1);
            else start += chunk;
        }
        if (chunk == 1) break;
    }
    return steps;
}

void report(const char* label, const std::vector<Step>& steps, const Outcome& o, bool allowLarge) {
    std::fprintf(stderr, "%s: FAILED at step %zu: %s\n", label, o.at + 1, o.what.c_str());
    std::vector<Step> failing(steps.begin(), steps.begin() + long(o.at) + 1);
    const std::vector<Step> shortest = shrink(failing, o.what, allowLarge);
    std::fprintf(stderr, "shortest sequence (%zu steps): --replay \"%s\"\n", shortest.size(), toText(shortest).c_str());
}

// The largest resident size since the last reset, in MB (Linux: VmHWM, reset through clear_refs).
long peakMegabytes(bool reset) {
    QFile status(QStringLiteral("/proc/self/status"));
    long kb = -1;
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:")) kb = line.mid(6).trimmed().split(' ').first().toLong();
    if (reset) {
        QFile refs(QStringLiteral("/proc/self/clear_refs"));
        if (refs.open(QIODevice::WriteOnly)) refs.write("5");
    }
    return kb / 1024;
}

// Opens one picture in the window program and runs the given commands on it (dialogs keep their
// defaults), saving at the end; prints the peak resident size of each step and every message shown.
int hugeRun(const QString& path, const std::vector<int>& commands, const QStringList& fields) {
    int status = 0;
    {
        Run run(false, /*answerDefaults=*/true);
        run.dialogs().fieldAnswers = fields;
        CMainFrame& frame = run.frame();
        const auto step = [&](const char* what, const std::function<void()>& act) {
            peakMegabytes(true);
            const auto start = std::chrono::steady_clock::now();
            run.dialogs().shownMessages.clear();
            act();
            processEvents();
            const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::printf("%-28s %6ld MB peak  %6.1f s  %s\n", what, peakMegabytes(false), secs,
                        qPrintable(run.dialogs().shownMessages.join(QStringLiteral(" / "))));
            std::fflush(stdout);
        };
        step("open", [&] { frame.openDocumentFile(path); });
        CQelDoc* d = frame.activeDocument();
        if (!d) return 1;
        for (int id : commands) {
            const Command* c = findCommand(id);
            step(c ? c->text : "?", [&] { frame.runCommand(id); });
        }
        const QString out = path + QStringLiteral(".saved.bmp");
        run.dialogs().forcedSavePath = out;
        step("save as", [&] { frame.runCommand(ID_FILE_SAVE_AS); });
        try {
            run.checkInvariants();
        } catch (const Failure& f) {
            std::fprintf(stderr, "FAILED: %s\n", f.what());
            status = 1;
        }
        QFile::remove(out);
    }
    return status;
}

void onCrash() {
    if (!g_current.empty()) std::fprintf(stderr, "crashed in %s\n", g_current.c_str());
}

}  // namespace

extern "C" void __sanitizer_set_death_callback(void (*)(void)) __attribute__((weak));

// The offscreen platform's notes about window hints it ignores are noise here.
static void quietMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtWarningMsg && text.startsWith(QStringLiteral("This plugin does not support"))) return;
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

int main(int argc, char** argv) {
    qInstallMessageHandler(quietMessages);
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QTemporaryDir config;
    setenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()).constData(), 1);
    CQelApp app(argc, argv);
    if (__sanitizer_set_death_callback) __sanitizer_set_death_callback(onCrash);
    std::set_terminate([] { onCrash(); std::abort(); });

    uint32_t seed = 1;
    long sequences = 100, seconds = 0;
    int length = 40;
    bool allowLarge = true;
    std::string replay, regressions, huge;
    std::vector<int> hugeCommands;
    QStringList hugeFields;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool value = i + 1 < argc;
        if (a == "--seed" && value) seed = uint32_t(std::stoul(argv[++i]));
        else if (a == "--sequences" && value) sequences = std::stol(argv[++i]);
        else if (a == "--seconds" && value) seconds = std::stol(argv[++i]);
        else if (a == "--steps" && value) length = std::stoi(argv[++i]);
        else if (a == "--replay" && value) replay = argv[++i];
        else if (a == "--regressions" && value) regressions = argv[++i];
        else if (a == "--no-large") allowLarge = false;
        else if (a == "--huge" && value) huge = argv[++i];
        else if (a == "--fields" && value) hugeFields = QString::fromLocal8Bit(argv[++i]).split(',');
        else if (a == "--commands" && value) {
            std::istringstream in(argv[++i]);
            for (std::string id; std::getline(in, id, ',');) hugeCommands.push_back(std::stoi(id));
        }
        else {
            std::fprintf(stderr, "usage: qel-sequence [--seed S] [--sequences N | --seconds N] [--steps M] [--no-large]\n"
                                 "                    [--replay STEPS] [--regressions FILE]\n"
                                 "       qel-sequence --huge FILE [--commands ID,ID,...] [--fields TEXT,TEXT,...]\n");
            return 2;
        }
    }

    if (!huge.empty()) return hugeRun(QString::fromStdString(huge), hugeCommands, hugeFields);

    int failures = 0;
    std::vector<std::string> replays;
    if (!replay.empty()) replays.push_back(replay);
    if (!regressions.empty()) {
        QFile f(QString::fromStdString(regressions));
        if (!f.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", regressions.c_str());
            return 2;
        }
        QTextStream in(&f);
        while (!in.atEnd()) {
            const QString line = in.readLine().trimmed();
            if (!line.isEmpty() && !line.startsWith('#')) replays.push_back(line.toStdString());
        }
    }
    for (const std::string& text : replays) {
        const std::vector<Step> steps = fromText(text);
        g_current = "replay: " + text;
        const Outcome o = play(steps, true);
        if (o.failed) {
            ++failures;
            report(("replay " + text.substr(0, 60)).c_str(), steps, o, true);
        }
    }
    if (!replay.empty()) return failures ? 1 : 0;

    const auto start = std::chrono::steady_clock::now();
    long runs = 0, steps = 0;
    for (uint32_t s = seed;; ++s) {
        if (seconds > 0 ? std::chrono::steady_clock::now() - start >= std::chrono::seconds(seconds) : runs >= sequences)
            break;
        std::vector<Step> sequence;
        const Outcome o = generate(s, length, allowLarge, sequence);
        ++runs;
        steps += long(sequence.size());
        if (o.failed) {
            ++failures;
            report(("seed " + std::to_string(s)).c_str(), sequence, o, allowLarge);
        }
    }
    g_current.clear();
    std::printf("%ld sequences, %ld steps, %d failed (seeds %u..%u); checked %ld changes, %ld undos, %ld redos, "
                "%ld saves; %ld dialogs answered, %ld large pictures\n",
                runs, steps, failures, seed, uint32_t(seed + runs - 1), g_counts.changes, g_counts.undoChecks,
                g_counts.redoChecks, g_counts.saveChecks, g_counts.modalDialogs, g_counts.largePictures);
    return failures ? 1 : 0;
}
