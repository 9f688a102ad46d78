// tqdev pack then tqdev unpack gives back the image, through PGM and TIFF.
#include <sys/wait.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <tiffio.h>

namespace {

int RunTqdev(const std::string &arguments, std::string *output) {
    const std::string command = std::string(TQDEV_TOOL_PATH) + " " + arguments + " 2>&1";
    std::FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return -1;
    char chunk[1024];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        output->append(chunk, got);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Temp(const std::string &name) {
    const auto dir =
        std::filesystem::path(testing::TempDir()) / ("tqdev_pack_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

constexpr uint32_t kWidth = 10, kHeight = 4;

std::vector<uint16_t> Pattern() {
    std::vector<uint16_t> pixels(kWidth * kHeight);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<uint16_t>((i * 397 + 11) % 4096);
    return pixels;
}

void WritePgm(const std::string &path, const std::vector<uint16_t> &pixels) {
    std::ofstream out(path, std::ios::binary);
    out << "P5\n" << kWidth << " " << kHeight << "\n4095\n";
    for (uint16_t p : pixels)
        out.put(static_cast<char>(p >> 8)).put(static_cast<char>(p & 0xFF));
}

std::vector<uint16_t> ReadPgmPixels(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    unsigned width = 0, height = 0, white = 0;
    in >> magic >> width >> height >> white;
    in.get();
    std::vector<uint16_t> pixels(size_t{width} * height);
    for (auto &p : pixels) {
        const int high = in.get(), low = in.get();
        p = static_cast<uint16_t>(high << 8 | low);
    }
    return in ? pixels : std::vector<uint16_t>{};
}

std::vector<uint16_t> ReadTiffPixels(const std::string &path) {
    TIFF *tiff = TIFFOpen(path.c_str(), "r");
    if (tiff == nullptr)
        return {};
    uint32_t width = 0, height = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    std::vector<uint16_t> pixels(size_t{width} * height);
    for (uint32_t y = 0; y < height; ++y)
        TIFFReadScanline(tiff, pixels.data() + size_t{y} * width, y, 0);
    TIFFClose(tiff);
    return pixels;
}

TEST(PackUnpack, GivesBackTheImageForEveryLayout) {
    const std::vector<uint16_t> pattern = Pattern();
    const std::string input = Temp("in.pgm");
    WritePgm(input, pattern);
    const char *layouts[] = {
        "",
        "--left 3 --top 2 --line-width 40",
        "--binning 2x2 --mirror --flip --left 5 --top 3",
        "--binning 3 --subsample --phase1 --line-count 20",
    };
    for (const char *layout : layouts) {
        SCOPED_TRACE(layout);
        const std::string container = Temp("frame.bin");
        std::string output;
        ASSERT_EQ(0, RunTqdev("pack " + input + " -o " + container + " " + layout, &output))
            << output;
        for (const char *name : {"out.pgm", "out.tiff"}) {
            const std::string image = Temp(name);
            std::string printed;
            ASSERT_EQ(0, RunTqdev("unpack " + container + " -o " + image, &printed)) << printed;
            EXPECT_NE(std::string::npos, printed.find("10 x 4 pixels")) << printed;
            EXPECT_EQ(pattern, std::string(name) == "out.pgm" ? ReadPgmPixels(image)
                                                              : ReadTiffPixels(image));
        }
    }
}

TEST(PackUnpack, RefusesTruncatedContainersAndWideSamples) {
    const std::string input = Temp("in.pgm");
    WritePgm(input, Pattern());
    const std::string container = Temp("cut.bin");
    std::string output;
    ASSERT_EQ(0, RunTqdev("pack " + input + " -o " + container, &output)) << output;
    std::filesystem::resize_file(container, std::filesystem::file_size(container) - 1);
    output.clear();
    EXPECT_EQ(1, RunTqdev("unpack " + container + " -o " + Temp("x.pgm"), &output));
    EXPECT_NE(std::string::npos, output.find("shorter than its header says")) << output;

    std::vector<uint16_t> wide = Pattern();
    wide[5] = 4096;
    WritePgm(input, wide);
    output.clear();
    EXPECT_EQ(1, RunTqdev("pack " + input + " -o " + container, &output));
    EXPECT_NE(std::string::npos, output.find("does not fit in 12 bits")) << output;
}

} // namespace
