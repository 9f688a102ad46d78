// tqdev pack IMAGE -o OUT: the inverse of unpack, for tests and demos. The
// image is taken as the unpacked frame; the options give the stream geometry
// around it. Every pixel goes into the one sample of its bin that unpacking
// reads back (the others stay 0), so unpacking OUT gives the image again.
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "commands.h"
#include "image_files.h"
#include "packed_container.h"
#include "result_names.h"
#include "tqdev.h"

namespace {

struct PackOptions {
    std::string input;
    std::string output;
    int32_t lineWidth = 0; // 0: left + window width
    int32_t lineCount = 0; // 0: just enough lines for the window
    int32_t left = 0;
    int32_t top = 0;
    std::string binning = "1";
    bool mirror = false, flip = false, subsample = false, phase1 = false;
};

void ParseFactors(const std::string &text, uint32_t &h, uint32_t &v) {
    unsigned a = 0, b = 0;
    char extra = 0;
    const int got = std::sscanf(text.c_str(), "%u%*[xX]%u%c", &a, &b, &extra);
    if (got == 1 && text.find_first_not_of("0123456789") == std::string::npos)
        b = a;
    else if (got != 2)
        throw std::runtime_error("--binning takes H or HxV, not " + text);
    if (a < 1 || b < 1 || a > 4096 || b > 4096)
        throw std::runtime_error("binning factors run from 1 to 4096");
    h = a;
    v = b;
}

TQDEV_FRAME_INFO DescribeFrame(const PackOptions &options, const GreyImage &image) {
    TQDEV_FRAME_INFO info{};
    ParseFactors(options.binning, info.h_binning, info.v_binning);
    const uint64_t width = uint64_t{image.width} * info.h_binning;
    const uint64_t height = uint64_t{image.height} * info.v_binning;
    if (width > INT32_MAX / 2 || height > INT32_MAX / 2 || options.left < 0 || options.top < 0)
        throw std::runtime_error("window out of range");
    info.width = static_cast<uint32_t>(width);
    info.height = static_cast<uint32_t>(height);
    info.left = options.left;
    info.top = options.top;
    info.line_width =
        options.lineWidth != 0 ? options.lineWidth : options.left + static_cast<int32_t>(width);
    const auto vb = static_cast<int32_t>(info.v_binning);
    info.line_count = options.lineCount != 0
                          ? options.lineCount
                          : (options.top / vb + static_cast<int32_t>(image.height)) * vb;
    info.flags = (options.mirror ? TQDEV_FRAME_MIRROR : 0) | (options.flip ? TQDEV_FRAME_FLIP : 0);
    info.ext_flags = (options.subsample ? TQDEV_FRAME_EXT_SUBSAMPLE : 0) |
                     (options.phase1 ? TQDEV_FRAME_EXT_PHASE1 : 0);
    const StreamLayout layout = DescribeStream(info);
    info.image_size = static_cast<uint32_t>(uint64_t{image.width} * image.height * 2);
    if (layout.samples / 8 * 12 > UINT32_MAX)
        throw std::runtime_error("stream too large for a container");
    info.packed_size = static_cast<uint32_t>(layout.samples / 8 * 12);
    if (!StreamHoldsWindow(info))
        throw std::runtime_error("the window does not fit the stream: check --line-width, "
                                 "--line-count, --left and --top");
    return info;
}

// Stream samples that unpack into `image` under `info`.
std::vector<uint16_t> StreamSamples(const TQDEV_FRAME_INFO &info, const GreyImage &image) {
    const StreamLayout layout = DescribeStream(info);
    const bool mirror = (info.flags & TQDEV_FRAME_MIRROR) != 0;
    const bool flip = (info.flags & TQDEV_FRAME_FLIP) != 0;
    // Summing reads every sample of a bin; the others are 0. Sub-sampling
    // reads the kept phase only.
    const int64_t phase = (info.ext_flags & TQDEV_FRAME_EXT_SUBSAMPLE) != 0 &&
                                  (info.ext_flags & TQDEV_FRAME_EXT_PHASE1) != 0
                              ? 1 % layout.hBinning
                              : 0;
    std::vector<uint16_t> samples(static_cast<size_t>(layout.samples));
    for (int64_t i = 0; i < layout.rows; ++i) {
        const int64_t row = flip ? layout.rows - 1 - i : i;
        const int64_t line = (layout.firstLine + i) * layout.paddedWidth + info.left;
        for (int64_t k = 0; k < layout.columns; ++k) {
            const uint16_t pixel = image.pixels[static_cast<size_t>(row * layout.columns + k)];
            if (pixel > 4095)
                throw std::runtime_error("pixel " + std::to_string(pixel) + " at column " +
                                         std::to_string(k) + ", row " + std::to_string(row) +
                                         " does not fit in 12 bits");
            const int64_t x = k * layout.hBinning + phase;
            samples[static_cast<size_t>(line + (mirror ? info.width - 1 - x : x))] = pixel;
        }
    }
    return samples;
}

void RunPack(const PackOptions &options) {
    const GreyImage image = ReadImageFile(options.input);
    const TQDEV_FRAME_INFO info = DescribeFrame(options, image);
    const std::vector<uint16_t> samples = StreamSamples(info, image);
    const std::vector<uint8_t> container = BuildContainer(info, samples);
    std::FILE *file = std::fopen(options.output.c_str(), "wb");
    if (file == nullptr)
        throw std::runtime_error("cannot create " + options.output);
    const bool written =
        std::fwrite(container.data(), 1, container.size(), file) == container.size();
    if (std::fclose(file) != 0 || !written)
        throw std::runtime_error("cannot write " + options.output);
    std::printf("wrote %s: %u x %u pixels in a %d x %d sample stream, %zu bytes\n",
                options.output.c_str(), image.width, image.height, info.line_width, info.line_count,
                container.size());
}

} // namespace

void AddPackCommand(CLI::App &app) {
    auto options = std::make_shared<PackOptions>();
    CLI::App *command =
        app.add_subcommand("pack", "Pack a 16-bit image into a container that unpacks back to it");
    command->add_option("image", options->input, "Image to pack: .tiff, .tif or .pgm")
        ->required()
        ->check(CLI::ExistingFile);
    command->add_option("-o,--output", options->output, "Container file to write")->required();
    command->add_option("--line-width", options->lineWidth,
                        "Samples per stream line (default: left + window width)");
    command->add_option("--line-count", options->lineCount,
                        "Stream lines before vertical binning (default: enough for the window)");
    command->add_option("--left", options->left, "Samples left of the window");
    command->add_option("--top", options->top, "Lines above the window, before vertical binning");
    command->add_option("--binning", options->binning,
                        "Binning factors H or HxV; the window is the image times the factors");
    command->add_flag("--mirror", options->mirror, "Mark the frame mirrored");
    command->add_flag("--flip", options->flip, "Mark the frame flipped");
    command->add_flag("--subsample", options->subsample,
                      "Horizontal binning keeps one sample per bin");
    command->add_flag("--phase1", options->phase1, "Sub-sampling keeps each bin's second sample");
    command->callback([options] { RunPack(*options); });
}
