// qel-batch over many pictures: where outputs go, what is refused, failures, interruption, reports.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "cli/many_files.h"
#include "support/batch_run.h"
#include "support/text_image.h"

namespace qel::batch {
namespace {

namespace fs = std::filesystem;
const auto run = test::runCli;

// in/top.bmp, in/sub/deep/line.bmp (line art) and in/sub/bad.bmp (not a picture).
struct Folder : test::TempDir {
    Folder() {
        fs::create_directories(file("in/sub/deep"));
        EXPECT_EQ(test::make24({"#.", ".#"})->saveFile(file("in/top.bmp")), ImageError::None);
        EXPECT_EQ(test::makeLineArt({"....", ".##.", "...."})->saveFile(file("in/sub/deep/line.bmp")), ImageError::None);
        EXPECT_TRUE(test::writeBytes(file("in/sub/bad.bmp"), {'B', 'M', 1}));
    }
    // What the one-file form writes for input with the given operations.
    std::vector<uint8_t> single(const std::string& input, std::vector<std::string> ops) {
        ops.insert(ops.begin(), file(input));
        ops.insert(ops.end(), {"-o", file("single.bmp")});
        EXPECT_EQ(run(ops).status, kExitOk);
        return test::readBytes(file("single.bmp"));
    }
};

TEST(ManyFiles, OutputsKeepTheirRelativePathsAndMatchTheOneFileForm) {
    Folder d;
    std::ofstream(d.file("list.txt")) << d.file("in/top.bmp") << "\n\n" << d.file("in/sub/deep/line.bmp") << "\n";
    struct Case { std::vector<std::string> args; std::vector<std::string> written; int status; };
    const Case cases[] = {
        {{"--to-16", "-j", "2", "-r", d.file("in")}, {"top.bmp", "sub/deep/line.bmp"}, kExitSomeFailed},
        {{"--to-16", d.file("in")}, {"top.bmp"}, kExitOk},  // no -r: the folder's own pictures
        {{"--to-16", '@' + d.file("list.txt"), "--suffix=_x", "--format=dib"}, {"top_x.dib", "line_x.dib"}, kExitOk},
    };
    for (const auto& c : cases) {
        fs::remove_all(d.file("out"));
        auto args = c.args;
        args.insert(args.begin(), {"--out-dir", d.file("out")});
        auto r = run(args);
        std::vector<std::string> found;
        for (const auto& e : fs::recursive_directory_iterator(d.file("out")))
            if (e.is_regular_file()) found.push_back(e.path().lexically_relative(d.file("out")).string());
        std::sort(found.begin(), found.end());
        auto want = c.written;
        std::sort(want.begin(), want.end());
        EXPECT_EQ(found, want) << r.err;
        EXPECT_EQ(r.status, c.status) << r.err;
        for (const auto& w : c.written) {
            const std::string in = w.find("line") != std::string::npos ? "in/sub/deep/line.bmp" : "in/top.bmp";
            EXPECT_EQ(test::readBytes(d.file("out/" + w)), d.single(in, {"--to-16"})) << w;
        }
    }
    // The 24-bit top.bmp is refused by --to-24bit; the line art is written, the bad file is named.
    auto r = run({"--to-24bit", "--out-dir", d.file("o"), "-r", d.file("in")});
    EXPECT_EQ(r.status, kExitSomeFailed);
    EXPECT_NE(r.err.find("in/sub/bad.bmp: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("qel-batch: 1 done, 2 failed\n"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(d.file("o/sub/deep/line.bmp")));
}

TEST(ManyFiles, RandomFormulasGiveEachPictureItsOneFileBytesAtAnyWorkerCount) {
    test::TempDir d;
    const std::string rand = "--transform=x;y;rand(200);-1,-1,-1";
    fs::create_directories(d.file("in"));
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(test::make24({"#..#", ".##.", "#..."})->saveFile(d.file("in/p" + std::to_string(i) + ".bmp")),
                  ImageError::None);
    for (const char* workers : {"1", "4"}) {
        const std::string out = d.file(std::string("out") + workers);
        ASSERT_EQ(run({rand, "-j", workers, "--out-dir", out, d.file("in")}).status, kExitOk);
        for (int i = 0; i < 6; ++i) {
            const std::string name = "/p" + std::to_string(i) + ".bmp";
            ASSERT_EQ(run({d.file("in") + name, rand, "-o", d.file("single.bmp")}).status, kExitOk);
            EXPECT_EQ(test::readBytes(out + name), test::readBytes(d.file("single.bmp"))) << workers << name;
        }
    }
}

TEST(ManyFiles, ExistingOutputsAndInputsAreKeptUnlessAllowed) {
    struct Case { std::vector<std::string> args; int status; bool replaced; };
    const Case cases[] = {
        {{"--out-dir", "OUT"}, kExitSomeFailed, false},
        {{"--out-dir", "OUT", "--force"}, kExitOk, true},
        {{"--out-dir", "IN"}, kExitSomeFailed, false},  // the output would be the input itself
        {{"--out-dir", "IN", "--force"}, kExitSomeFailed, false},
        {{"--out-dir", "IN", "--in-place"}, kExitOk, true},
        {{"--in-place"}, kExitOk, true},
    };
    for (const auto& c : cases) {
        test::TempDir d;
        fs::create_directories(d.file("out"));
        ASSERT_EQ(test::make24({"rb"}, {{'r', {255, 0, 0}}, {'b', {0, 0, 255}}})->saveFile(d.file("p.bmp")), ImageError::None);
        ASSERT_TRUE(test::writeBytes(d.file("out/p.bmp"), {1, 2, 3}));
        const std::string target = c.args[0] == "--in-place" || c.args[1] == "IN" ? d.file("p.bmp") : d.file("out/p.bmp");
        const auto before = test::readBytes(target);
        std::vector<std::string> args = {"--grey", d.file("p.bmp")};
        for (auto a : c.args) args.push_back(a == "OUT" ? d.file("out") : a == "IN" ? d.path : a);
        auto r = run(args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(test::readBytes(target) != before, c.replaced) << c.args.back() << r.err;
    }
}

TEST(ManyFiles, ReportsEachFileAsJsonAndPrefixesPrintedLines) {
    Folder d;
    auto r = run({"--count-colours", "--json", d.file("in/top.bmp"), d.file("in/sub/bad.bmp"), "-j", "1"});
    EXPECT_EQ(r.status, kExitSomeFailed);
    const std::string out = std::regex_replace(r.out, std::regex("\"milliseconds\":[0-9]+"), "\"milliseconds\":T");
    EXPECT_EQ(out, "{\"path\":\"" + d.file("in/top.bmp") + "\",\"output\":\"\",\"status\":\"ok\",\"milliseconds\":T,"
                   "\"message\":\"\",\"printed\":\"2\\n\"}\n"
                   "{\"path\":\"" + d.file("in/sub/bad.bmp") + "\",\"output\":\"\",\"status\":\"failed\",\"milliseconds\":T,"
                   "\"message\":\"" + d.file("in/sub/bad.bmp") + ": the file ends within its headers, after 3 bytes (Not Bitmap!!)\"}\n");
    r = run({"--count-colours", d.file("in/top.bmp"), d.file("in/sub/deep/line.bmp"), "-j", "1"});
    EXPECT_EQ(r.out, d.file("in/top.bmp") + ": 2\n" + d.file("in/sub/deep/line.bmp") + ": 2\n");
    // Straightening and tidying need a thinned picture: --thinned declares pictures from files so.
    EXPECT_EQ(run({"--tidy", "--out-dir", d.file("t"), d.file("in/sub/deep/line.bmp")}).status, kExitSomeFailed);
    EXPECT_EQ(run({"--thinned", "--tidy", "--out-dir", d.file("t"), d.file("in/sub/deep/line.bmp")}).status, kExitOk);
}

TEST(ManyFiles, AnInterruptedRunStartsNothingMoreAndSaysSo) {
    Folder d;
    requestStop();  // as Ctrl+C would before the first picture
    auto r = run({"--grey", "--out-dir", d.file("out"), "-r", d.file("in")});
    EXPECT_EQ(r.status, kExitInterrupted);
    EXPECT_EQ(r.err, "qel-batch: 0 done, 0 failed, 3 not started (interrupted)\n");
    EXPECT_FALSE(fs::exists(d.file("out")));
    EXPECT_EQ(run({"--grey", "--out-dir", d.file("out"), d.file("in/top.bmp")}).status, kExitOk);  // the next run is not stopped
}

TEST(ManyFiles, APictureLargerThanTheMemoryBoundRunsAlone) {
    MemoryBudget budget(100);
    std::atomic<int> stage{0};
    budget.acquire(60);
    std::thread large([&] { budget.acquire(500); stage = 1; budget.release(500); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(stage.load(), 0);  // waits for the picture in flight
    budget.release(60);
    large.join();
    EXPECT_EQ(stage.load(), 1);
    budget.acquire(500);
    std::thread small([&] { budget.acquire(10); stage = 2; budget.release(10); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(stage.load(), 1);  // nothing joins the large one
    budget.release(500);
    small.join();
    EXPECT_EQ(stage.load(), 2);
    test::TempDir d;
    // Every format counts the size its header declares, not its file's size.
    DibImage wide;
    wide.replace(makeInfoBlock(newHeader(600, 400, 24, 0, uint32_t(strideFor(600, 24) * 400)), 0),
                 PixelBytes(size_t(strideFor(600, 24) * 400)));
    for (const char* name : {"a.bmp", "a.png", "a.jpg", "a.tif", "a.webp"}) {
        ASSERT_EQ(wide.saveFile(d.file(name)), ImageError::None) << name;
        EXPECT_EQ(estimatePictureMemory(d.file(name)), 600u * 400 * 14 + (1u << 20)) << name;
    }
}

}  // namespace
}  // namespace qel::batch
