// The window's speed on a 10000 x 10000 24-bit picture, offscreen: reading the file into memory (the
// yardstick), opening it as a document up to the first paint of a 1920 x 1080 pane, and one full
// repaint of that pane at zooms 1/16, 1/2, 1, 4 and 64 (scrolled to the middle). Goals: the open
// within 1.5 times the read; every repaint within 8 ms, whatever the picture's size.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/formats/bmp_file.h"
#include "core/image/dib_image.h"
#include "gui/docview/qel_doc.h"
#include "gui/docview/qel_view.h"

namespace {

constexpr int kSide = 10000;
const QSize kViewport(1920, 1080);

// The picture, written once and removed when the program ends.
struct PictureFile {
    std::string path = "/tmp/qel-bench-window-" + std::to_string(::getpid()) + ".bmp";
    PictureFile() {
        const int64_t stride = qel::strideFor(kSide, 24);
        qel::PixelBytes bits(static_cast<size_t>(stride * kSide));
        for (int y = 0; y < kSide; ++y) {
            uint8_t* row = bits.data() + int64_t(y) * stride;
            for (int x = 0; x < kSide; ++x) {
                row[3 * x] = uint8_t(x);
                row[3 * x + 1] = uint8_t(y);
                row[3 * x + 2] = uint8_t((x ^ y) >> 4);
            }
        }
        qel::DibImage image;
        image.replace(qel::makeInfoBlock(qel::newHeader(kSide, kSide, 24, 0, uint32_t(bits.size())), 0), std::move(bits));
        image.saveFile(path);
    }
    ~PictureFile() { std::remove(path.c_str()); }
};

const std::string& picturePath() {
    static const PictureFile file;
    return file.path;
}

// A view whose viewport is exactly 1920 x 1080.
void sizeViewport(CQelView& view) {
    view.resize(kViewport);
    view.resize(kViewport * 2 - view.viewport()->size());
}

void paintOnce(CQelView& view, QImage& target) {
    target.fill(Qt::black);
    view.viewport()->render(&target);
}

void BM_ReadFileIntoMemory(benchmark::State& state) {
    const std::string& path = picturePath();
    for (auto _ : state) {
        std::ifstream in(path, std::ios::binary | std::ios::ate);
        std::vector<char> bytes(static_cast<size_t>(in.tellg()));
        in.seekg(0);
        in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        benchmark::DoNotOptimize(bytes.data());
    }
}

// The picture record alone, its display bitmap included: the part of the open that is no window work.
void BM_LoadPictureRecord(benchmark::State& state) {
    const std::string& path = picturePath();
    for (auto _ : state) {
        qel::DibImage image;
        benchmark::DoNotOptimize(image.loadFile(path));
        state.PauseTiming();
        image.clear();
        state.ResumeTiming();
    }
}

void BM_OpenToFirstPaint(benchmark::State& state) {
    const std::string& path = picturePath();
    QImage target(kViewport, QImage::Format_RGB32);
    for (auto _ : state) {
        auto document = std::make_unique<CQelDoc>();
        if (!document->onOpenDocument(QString::fromStdString(path))) {
            state.SkipWithError("the picture could not be opened");
            return;
        }
        CQelView view(document.get());
        sizeViewport(view);
        paintOnce(view, target);
        state.PauseTiming();
        document.reset();  // the view goes first, at the end of this scope
        state.ResumeTiming();
    }
}

// state.range(0): zoom as a power of two (-4 is 1/16).
void BM_Repaint1920x1080(benchmark::State& state) {
    static std::unique_ptr<CQelDoc> document;
    if (!document) {
        document = std::make_unique<CQelDoc>();
        document->onOpenDocument(QString::fromStdString(picturePath()));
    }
    CQelView view(document.get());
    sizeViewport(view);
    for (int i = 0; i < std::abs(state.range(0)); ++i) state.range(0) < 0 ? view.zoomOut() : view.zoomIn();
    const QSize scroll = view.scrollSizes();
    view.setScrollPosition(QPoint(scroll.width() / 2, scroll.height() / 2));
    QImage target(kViewport, QImage::Format_RGB32);
    for (auto _ : state) paintOnce(view, target);
    state.SetLabel("zoom " + std::to_string(view.zoom));
}

BENCHMARK(BM_ReadFileIntoMemory)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LoadPictureRecord)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_OpenToFirstPaint)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Repaint1920x1080)->Arg(-4)->Arg(-1)->Arg(0)->Arg(2)->Arg(6)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
