// tqdev unpack FILE -o OUT: a stored packed image container to a 16-bit
// image, through the library's TqdevUnpackImage.
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "commands.h"
#include "image_files.h"
#include "packed_container.h"
#include "result_names.h"
#include "tqdev.h"

namespace {

struct UnpackOptions {
    std::string input;
    std::string output;
};

std::vector<uint8_t> ReadWholeFile(const std::string &path) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        throw std::runtime_error("cannot open " + path);
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        throw std::runtime_error("cannot read " + path);
    return bytes;
}

void PrintGeometry(const TQDEV_FRAME_INFO &info) {
    const StreamLayout layout = DescribeStream(info);
    std::printf("stream:  %d lines of %d samples (line_width %d, line_count %d)\n", layout.lines,
                layout.paddedWidth, info.line_width, info.line_count);
    std::printf("window:  left %d, top %d, width %u, height %u\n", info.left, info.top, info.width,
                info.height);
    const bool subsample = (info.flags & TQDEV_FRAME_SUBSAMPLE) != 0 ||
                           (info.ext_flags & TQDEV_FRAME_EXT_SUBSAMPLE) != 0;
    std::printf("binning: %d x %d, %s", layout.hBinning, layout.vBinning,
                subsample ? "sub-sampling" : "summing");
    if (subsample)
        std::printf(" phase %d",
                    (info.ext_flags & TQDEV_FRAME_EXT_PHASE1) != 0 ? 1 % layout.hBinning : 0);
    std::printf("\nrows:    %s, columns %s\n",
                (info.flags & TQDEV_FRAME_FLIP) != 0 ? "flipped" : "in order",
                (info.flags & TQDEV_FRAME_MIRROR) != 0 ? "mirrored" : "in order");
    std::printf("image:   %d x %d pixels (image_size %u, packed_size %u bytes)\n", layout.columns,
                layout.rows, info.image_size, info.packed_size);
}

void RunUnpack(const UnpackOptions &options) {
    const std::vector<uint8_t> container = ReadWholeFile(options.input);
    TQDEV_IMAGE_HEADER header;
    if (container.size() < sizeof header)
        throw std::runtime_error(options.input + " is too short for a packed image container");
    std::memcpy(&header, container.data(), sizeof header);
    if (header.magic != TQDEV_IMAGE_MAGIC)
        throw std::runtime_error(options.input + " is not a packed image container");
    // The library trusts the header; the file's own length is known here.
    if (uint64_t{header.header_size} + header.frame_info.packed_size > container.size())
        throw std::runtime_error(options.input + " is shorter than its header says");
    PrintGeometry(header.frame_info);
    uint32_t imageSize = 0;
    CheckResult("TqdevUnpackImage", TqdevUnpackImage(container.data(), nullptr, &imageSize, 0));
    std::vector<uint16_t> pixels((imageSize + 1) / 2);
    CheckResult("TqdevUnpackImage",
                TqdevUnpackImage(container.data(), pixels.data(), &imageSize, 0));
    // The library accepted the descriptor, so these are the pixels it wrote.
    WriteImageFile(options.output, pixels.data(), TqdevUnpackedWidth(&header.frame_info),
                   TqdevUnpackedHeight(&header.frame_info));
    std::printf("wrote %s\n", options.output.c_str());
}

} // namespace

void AddUnpackCommand(CLI::App &app) {
    auto options = std::make_shared<UnpackOptions>();
    CLI::App *command =
        app.add_subcommand("unpack", "Turn a stored packed image container into a 16-bit image");
    command->add_option("file", options->input, "Packed image container")
        ->required()
        ->check(CLI::ExistingFile);
    command->add_option("-o,--output", options->output, "Image to write: .tiff, .tif or .pgm")
        ->required();
    command->callback([options] { RunUnpack(*options); });
}
