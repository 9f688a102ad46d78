// Runs the tqdev binary as a user would and checks its output, its exit code
// and the files it writes.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <tiffio.h>

#include "recorder.h"
#include "tqsim.h"

namespace {

struct ToolRun {
    int exitCode;
    std::string output; // standard output and standard error together
};

ToolRun RunTool(const std::string &arguments) {
    const std::string command = std::string(TQDEV_TOOL_PATH) + " " + arguments + " 2>&1";
    std::FILE *pipe = popen(command.c_str(), "r");
    EXPECT_NE(pipe, nullptr);
    ToolRun run{-1, ""};
    if (pipe == nullptr) {
        return run;
    }
    char chunk[4096];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        run.output.append(chunk, got);
    }
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string TempPath(const std::string &name) {
    const std::filesystem::path dir =
        std::filesystem::path(testing::TempDir()) / ("tqdev_tool_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

std::string ReadText(const std::string &path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Starts the tool, waits until its output shows ready (it has set up its
// Ctrl-C handling by then), sends SIGINT and waits for it to end.
ToolRun InterruptTool(const std::string &arguments, const std::string &ready,
                      const std::string &log) {
    const std::string command =
        "exec " + std::string(TQDEV_TOOL_PATH) + " " + arguments + " >" + log + " 2>&1";
    const char *argv[] = {"sh", "-c", command.c_str(), nullptr};
    pid_t pid = 0;
    ToolRun run{-1, ""};
    if (posix_spawnp(&pid, "sh", nullptr, nullptr, const_cast<char **>(argv), environ) != 0) {
        ADD_FAILURE() << "cannot start " << command;
        return run;
    }
    testsupport::Eventually([&] { return ReadText(log).find(ready) != std::string::npos; },
                            "the tool to be ready");
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.output = ReadText(log);
    return run;
}

struct TiffImage {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bits = 0;
    uint16_t maxSample = 0;
    std::vector<uint16_t> pixels; // row by row
    int pages = 0;
    std::string software;
    std::string dateTime;
    std::string description;
};

std::string TextTag(TIFF *tiff, uint32_t tag) {
    const char *text = nullptr;
    return TIFFGetField(tiff, tag, &text) == 1 && text != nullptr ? text : "";
}

// Reads one page of a 16-bit greyscale TIFF back with libtiff; width 0 if it
// cannot.
TiffImage ReadTiff(const std::string &path, int page = 0) {
    TiffImage image;
    TIFF *tiff = TIFFOpen(path.c_str(), "r");
    if (tiff == nullptr) {
        return image;
    }
    image.pages = TIFFNumberOfDirectories(tiff);
    if (!TIFFSetDirectory(tiff, static_cast<uint16_t>(page))) {
        TIFFClose(tiff);
        return image;
    }
    image.software = TextTag(tiff, TIFFTAG_SOFTWARE);
    image.dateTime = TextTag(tiff, TIFFTAG_DATETIME);
    image.description = TextTag(tiff, TIFFTAG_IMAGEDESCRIPTION);
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &image.width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &image.height);
    TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &image.bits);
    std::vector<uint16_t> row(TIFFScanlineSize(tiff) / 2 + 1);
    for (uint32_t y = 0; y < image.height; ++y) {
        if (TIFFReadScanline(tiff, row.data(), y) < 0) {
            image.width = 0;
            break;
        }
        for (uint32_t x = 0; x < image.width; ++x) {
            image.maxSample = std::max(image.maxSample, row[x]);
            image.pixels.push_back(row[x]);
        }
    }
    TIFFClose(tiff);
    return image;
}

TEST(ToolTest, ListShowsEveryCameraNewestFirstWithTheLibraryVersion) {
    const ToolRun run = RunTool("--sim 2 list");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("library 2.5 \"2.05\""), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("2 cameras"), std::string::npos) << run.output;
    const size_t newest = run.output.find("camera 1\n");
    const size_t oldest = run.output.find("camera 0\n");
    ASSERT_NE(newest, std::string::npos) << run.output;
    ASSERT_NE(oldest, std::string::npos) << run.output;
    EXPECT_LT(newest, oldest);
    EXPECT_NE(run.output.find("serial"), std::string::npos);
}

TEST(ToolTest, InfoPrintsTheThreeRecords) {
    const ToolRun run = RunTool("--sim 1 info 0");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    for (const char *section :
         {"sensor 1024 x 768 samples, 12 bits per sample, binning 1 to 16", "driver version 2.05",
          "firmware version ", "camera information", "capability flags 0x", "extended information",
          "device state", "integration time"}) {
        EXPECT_NE(run.output.find(section), std::string::npos) << section << "\n" << run.output;
    }
}

TEST(ToolTest, RegisterWriteReadsBackTheValue) {
    const ToolRun run = RunTool("--sim 1 regs 0 write 0x1f4 0xBEEF --verify");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("register 0x000001f4 = 0x0000beef"), std::string::npos) << run.output;
}

// Failures of a command exit 1 and name the result code or the reason; usage
// errors exit 2 and name the option. Nothing is captured before the options
// and the output have been checked.
TEST(ToolTest, FailuresExitNonZeroWithTheResultName) {
    struct Case {
        const char *arguments;
        const char *message;
        int exitCode;
    };
    const std::string out = " -o " + TempPath("refused.tiff");
    const Case cases[] = {
        {"--sim 1 info 5", "TqdevOpenDevice: TQDEV_RESULT_INVALID_DEVICE (16)", 1},
        {"--sim 2 regs 7 read 0", "TQDEV_RESULT_INVALID_DEVICE (16)", 1},
        {"list --sim 1 bogus", "bogus", 2},
        {"--sim 1 bogus", "unknown command 'bogus' (commands: list,", 2},
        {"--sim 1", "a command is required (commands: list,", 2},
        {"--sim 1 regs 0 write 0x10", "needs a value", 2},
        {"--sim 1 regs 0 read 12z", "not a 32-bit number", 2},
        {"--sim 1 regs 0 read 0x100000000", "not a 32-bit number", 2},
        {"--sim 1 capture 0 --binning 0 -o x.tiff", "--binning", 2},
        {"--sim 1 capture 0 --window 1,2,3 -o x.tiff", "--window", 2},
        {"--sim 1 capture 0 --frames 0 -o x.tiff", "not in range 1 to 1000000", 2},
        {"--sim 1 capture 0 --mode live --seconds 0 -o x.tiff",
         "--seconds: expected more than 0 and at most 86400 seconds", 2},
        {"--sim 1 capture 0 --frames 2 -o x.tiff", "--frames: applies to --mode averaged", 2},
        {"--sim 1 capture 0 --mode averaged --seconds 1 -o x.tiff", "--seconds: applies", 2},
        {"--sim 1 capture 0 --mode sequence --stamp -o x.tiff", "--stamp: applies", 2},
        {"--sim 1 capture 0 --mode averaged --packed -o x.tqpk", "--packed: averaged", 2},
        {"--sim 1 capture 0 -o /nonexistent-dir/x.tiff", "cannot create '/nonexistent-dir", 2},
        {"--sim 1 capture 0 -o x.png", "use a .tiff, .tif or .pgm name", 2},
        {"--sim 1 capture 0 --window 1000,0,100,10",
         "--window: 1000,0,100,10 does not lie on "
         "the 1024x768 sensor",
         1},
        {"--sim 1 capture 0 --binning 17",
         "--binning: 17x17 is out of range; this camera "
         "bins 1 to 16",
         1},
        {"--sim 1 capture 0 --window 0,0,100,10 --mirror",
         "--mirror: needs a window width "
         "that is a multiple of 64",
         1},
    };
    for (const Case &c : cases) {
        const std::string arguments = c.arguments;
        const ToolRun run = RunTool(arguments + (arguments.find("capture") != std::string::npos &&
                                                         arguments.find(" -o ") == std::string::npos
                                                     ? out
                                                     : ""));
        EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << c.arguments << "\n"
                                                                 << run.output;
        EXPECT_EQ(run.output.find("result TQDEV"), std::string::npos) << c.arguments;
    }
}

TEST(ToolTest, VersionNamesToolAndLibrary) {
    const ToolRun run = RunTool("--version");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output.rfind("tqdev 2.05 (library 2.05, built ", 0), 0u) << run.output;
}

TEST(ToolTest, WatchReportsCamerasComingAndGoing) {
    const ToolRun run = RunTool("--sim 2 watch --seconds 1 --plug-every 200");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("added camera 2"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("removed camera 0"), std::string::npos) << run.output;
}

// Every mode writes 16-bit images of the window over the binning, with
// 12-bit samples (a packed frame left undecoded would show larger values).
TEST(ToolTest, CaptureWritesImagesOfTheRequestedSize) {
    struct Case {
        const char *name;
        const char *arguments;
        int pages;
        uint32_t width;
        uint32_t height;
        const char *printed; // in the tool's output
    };
    const Case cases[] = {
        {"single", "--mode single", 1, 1024, 768, "mode single"},
        {"binned", "--mode single --binning 2x4", 1, 512, 192, "binning 2x4"},
        {"window", "--mode single --window 8,16,320,200 --binning 2", 1, 160, 100, "window"},
        {"packed", "--mode single --packed --stamp", 1, 1024, 768, "calibration stamp"},
        {"averaged", "--mode averaged --frames 3", 1, 1024, 768, "3 frames"},
        {"sequence", "--mode sequence --packed", 3, 1024, 768, "mode sequence"},
        {"unpacked-sequence", "--mode sequence --binning 4", 3, 256, 192, "binning 4"},
        {"live", "--mode live --frames 5", 1, 1024, 768, "mode live"},
        {"live-packed", "--mode live --packed --seconds 0.3", 1, 1024, 768, "mode live"},
    };
    for (const Case &c : cases) {
        const std::string output = TempPath(std::string(c.name) + ".tiff");
        const ToolRun run =
            RunTool(std::string("--sim 1 capture 0 ") + c.arguments + " -o " + output);
        ASSERT_EQ(run.exitCode, 0) << c.name << "\n" << run.output;
        for (int page = 0; page < c.pages; ++page) {
            const TiffImage image = ReadTiff(output, page);
            EXPECT_EQ(image.pages, c.pages) << c.name;
            EXPECT_EQ(image.width, c.width) << c.name << " " << page;
            EXPECT_EQ(image.height, c.height) << c.name << " " << page;
            EXPECT_EQ(image.bits, 16) << c.name << " " << page;
            EXPECT_GT(image.maxSample, 0) << c.name << " " << page;
            EXPECT_LE(image.maxSample, 4095) << c.name << " " << page;
            EXPECT_EQ(image.software, "tqdev 2.05") << c.name;
            EXPECT_EQ(image.dateTime.size(), 19u) << c.name;
            EXPECT_NE(image.description.find(c.printed), std::string::npos)
                << c.name << ": " << image.description;
        }
    }
    // Live focus delivers exactly the frames asked for.
    const ToolRun live =
        RunTool("--sim 1 capture 0 --mode live --frames 4 -o " + TempPath("counted.tiff"));
    EXPECT_NE(live.output.find("\nframes 4\n"), std::string::npos) << live.output;
}

// The options reach the camera as the window, binning and readout they name:
// the written image is the camera's frame for those settings, pixel for
// pixel, through the library's in-place unpacking and through a container.
TEST(ToolTest, CapturedPixelsAreTheCamerasFrame) {
    struct Case {
        const char *name;
        const char *arguments;
        uint32_t origin;
        uint32_t size;
        uint32_t readout;
    };
    const Case cases[] = {
        {"full", "", 0, 0, TQSIM_READOUT_BINNING(1, 1)},
        {"window", "--window 8,16,320,200 --binning 2x3", TQSIM_SETUP_ORIGIN(8, 16),
         TQSIM_SETUP_SIZE(320, 200), TQSIM_READOUT_BINNING(2, 3)},
        {"packed", "--packed --window 100,50,64,40", TQSIM_SETUP_ORIGIN(100, 50),
         TQSIM_SETUP_SIZE(64, 40), TQSIM_READOUT_BINNING(1, 1)},
        {"mirror", "--window 0,0,128,64 --mirror --flip", 0, TQSIM_SETUP_SIZE(128, 64),
         TQSIM_READOUT_BINNING(1, 1) | TQSIM_READOUT_MIRROR | TQSIM_READOUT_FLIP},
    };
    TQSIM_CAMERA_CONFIG config;
    TqsimDefaultCamera(&config);
    for (const Case &c : cases) {
        const std::string output = TempPath(std::string("pixels-") + c.name + ".tiff");
        const ToolRun run =
            RunTool(std::string("--sim 1 capture 0 ") + c.arguments + " -o " + output);
        ASSERT_EQ(run.exitCode, 0) << c.name << "\n" << run.output;
        TQDEV_CAPTURE_SETTINGS settings = {};
        settings.setup_words[0] = c.origin;
        settings.setup_words[1] = c.size;
        settings.extra_words[0] = c.readout;
        const TiffImage image = ReadTiff(output);
        ASSERT_GT(image.width, 0u) << c.name;
        // Unpacked output first takes one packed frame to learn the image's
        // geometry from its container, so the image is the second frame.
        const uint32_t frame = std::string(c.arguments).find("--packed") == std::string::npos;
        size_t mismatches = 0;
        for (uint32_t row = 0; row < image.height; ++row) {
            for (uint32_t column = 0; column < image.width; ++column) {
                const uint16_t expected =
                    TqsimExpectedPixel(&config, &settings, frame, row, column);
                mismatches += image.pixels[size_t{row} * image.width + column] != expected;
            }
        }
        EXPECT_EQ(mismatches, 0u) << c.name;
    }
}

// Ctrl-C ends watching and live focus cleanly: exit code 0, and live focus
// still writes its last frame.
TEST(ToolTest, InterruptEndsCleanly) {
    const ToolRun watch =
        InterruptTool("--sim 1 watch --plug-every 0", "watching;", TempPath("watch.log"));
    EXPECT_EQ(watch.exitCode, 0) << watch.output;
    EXPECT_NE(watch.output.find("stopped"), std::string::npos) << watch.output;

    const std::string output = TempPath("interrupted.tiff");
    const ToolRun live =
        InterruptTool("--sim 1 capture 0 --mode live -o " + output, " fps", TempPath("live.log"));
    EXPECT_EQ(live.exitCode, 0) << live.output;
    EXPECT_NE(live.output.find("TQDEV_RESULT_LIVE_FOCUS_STOPPED"), std::string::npos)
        << live.output;
    EXPECT_EQ(ReadTiff(output).width, 1024u) << live.output;
}

TEST(ToolTest, AveragedCaptureReportsItsMeanLevel) {
    const ToolRun run =
        RunTool("--sim 1 capture 0 --mode averaged --frames 2 -o " + TempPath("mean.tiff"));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("mean level "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("100%"), std::string::npos) << run.output;
}

TEST(ToolTest, PackedCaptureStoresTheContainerAsIs) {
    const std::string output = TempPath("frame.tqpk");
    const ToolRun run = RunTool("--sim 1 capture 0 --packed -o " + output);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    std::FILE *file = std::fopen(output.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    unsigned char magic[4] = {};
    EXPECT_EQ(std::fread(magic, 1, 4, file), 4u);
    std::fclose(file);
    EXPECT_EQ(magic[0], 0x69);
    EXPECT_EQ(magic[1], 0x70);
    EXPECT_EQ(magic[2], 0x51);
    EXPECT_EQ(magic[3], 0x54);
    EXPECT_NE(run.output.find("frame size "), std::string::npos);
}

} // namespace
