// tqdev capture: one capture in any of the four modes, written to files.
// Single and sequence captures wait for the camera; averaged and live focus
// run asynchronously with a progress record and a bar on standard error.
// Ctrl-C cancels an averaged capture and ends live focus with its last frame.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "capture_geometry.h"
#include "capture_output.h"
#include "capture_wait.h"
#include "commands.h"
#include "image_files.h"
#include "interrupt.h"
#include "numbers.h"
#include "progress_bar.h"
#include "result_names.h"
#include "tool_session.h"
#include "tqdev.h"

namespace {

struct CaptureOptions {
    uint32_t device = 0;
    std::string mode = "single";
    int frames = 0; // averaged: frames to average; live: stop after this many
    bool packed = false;
    bool stamp = false;
    std::string binning;
    std::string window;
    double seconds = 0; // live: stop after this long
    std::string output;
    bool mirror = false;
    bool flip = false;
    uint32_t exposureUs = 0;
};

// The camera a capture runs on and where its frames go.
struct CaptureTarget {
    uint32_t device;
    uint32_t frameSize; // bytes of one frame buffer
    std::string output;
    ImageDimensions image;   // unpacked output: from a probe frame's descriptor
    std::string description; // the settings, for the image file
};

// One frame buffer; 16-bit elements keep unpacked pixels aligned.
using FrameBuffer = std::vector<uint16_t>;

constexpr std::chrono::milliseconds kRedrawPeriod{100};
constexpr int kDefaultAveragedFrames = 4;
constexpr int kRingSize = 3;

uint32_t ModeNumber(const std::string &mode) {
    if (mode == "averaged") {
        return TQDEV_CAPTURE_AVERAGED;
    }
    if (mode == "sequence") {
        return TQDEV_CAPTURE_SEQUENCE;
    }
    if (mode == "live") {
        return TQDEV_CAPTURE_LIVE_FOCUS;
    }
    return TQDEV_CAPTURE_SINGLE;
}

// Options that do not apply to the mode are refused, not ignored.
void CheckModeOptions(const CaptureOptions &capture) {
    const std::string &mode = capture.mode;
    if (capture.frames > 0 && mode != "averaged" && mode != "live") {
        throw CLI::ValidationError("--frames", "applies to --mode averaged and live only");
    }
    if (capture.seconds > 0 && mode != "live") {
        throw CLI::ValidationError("--seconds", "applies to --mode live only");
    }
    if (capture.stamp && mode != "single" && mode != "averaged") {
        throw CLI::ValidationError("--stamp", "applies to --mode single and averaged only");
    }
    if (capture.packed && mode == "averaged") {
        throw CLI::ValidationError("--packed", "averaged frames are delivered unpacked only");
    }
}

// Before any capture: the output must be a name the tool can write, in a
// folder where it can create it.
void CheckOutput(const CaptureOptions &capture) {
    if (!capture.packed && !IsImageFileName(capture.output)) {
        throw CLI::ValidationError("--output", "'" + capture.output +
                                                   "': use a .tiff, .tif or .pgm name "
                                                   "(or --packed to store the container)");
    }
    const bool existed = std::filesystem::exists(capture.output);
    std::FILE *file = std::fopen(capture.output.c_str(), "ab");
    if (file == nullptr) {
        throw CLI::ValidationError("--output", "cannot create '" + capture.output +
                                                   "': " + std::strerror(errno));
    }
    std::fclose(file);
    if (!existed) {
        std::remove(capture.output.c_str());
    }
}

std::string DescribeSettings(const CaptureOptions &capture) {
    std::string text =
        "tqdev capture: camera " + std::to_string(capture.device) + ", mode " + capture.mode;
    if (!capture.binning.empty())
        text += ", binning " + capture.binning;
    if (!capture.window.empty())
        text += ", window " + capture.window;
    if (capture.mirror)
        text += ", mirrored";
    if (capture.flip)
        text += ", flipped";
    if (capture.exposureUs != 0)
        text += ", exposure " + std::to_string(capture.exposureUs) + " us";
    if (capture.mode == "averaged")
        text += ", " +
                std::to_string(capture.frames > 0 ? capture.frames : kDefaultAveragedFrames) +
                " frames";
    if (capture.stamp)
        text += ", calibration stamp";
    return text;
}

CaptureGeometry BuildGeometry(const CaptureOptions &capture) {
    CaptureGeometry geometry;
    if (!capture.binning.empty() && !ParseBinning(capture.binning, geometry)) {
        throw CLI::ValidationError("--binning", "expected H or HxV, each 1 or more");
    }
    if (!capture.window.empty() && !ParseWindow(capture.window, geometry)) {
        throw CLI::ValidationError("--window", "expected L,T,W,H");
    }
    geometry.mirror = capture.mirror;
    geometry.flip = capture.flip;
    geometry.exposureUs = capture.exposureUs;
    return geometry;
}

TQDEV_CAPTURE_PARAMS BuildParams(const CaptureOptions &capture, const CaptureGeometry &geometry) {
    TQDEV_CAPTURE_PARAMS params = {};
    params.mode = ModeNumber(capture.mode);
    params.flags = (capture.packed ? TQDEV_FLAG_PACKED_OUTPUT : 0) |
                   (capture.stamp ? TQDEV_FLAG_CALIBRATION_STAMP : 0);
    ApplyGeometry(geometry, params);
    return params;
}

FrameBuffer AllocateFrame(uint32_t size) {
    return FrameBuffer((size + 1) / 2);
}

void PrintStatusWords(const TQDEV_CAPTURE_PARAMS &params, bool withWord6) {
    // After a capture the record holds status words 2, 1, 3, 4 in setup
    // words 2..5 and word 5 (and 6) in their own fields.
    std::printf("status words 1..%d: 0x%08x 0x%08x 0x%08x 0x%08x 0x%08x", withWord6 ? 6 : 5,
                params.setup_words[3], params.setup_words[2], params.setup_words[4],
                params.setup_words[5], params.status5);
    if (withWord6) {
        std::printf(" 0x%08x", params.status6);
    }
    std::printf("\n");
}

void CheckImageFits(const CaptureTarget &target, const FrameBuffer &buffer) {
    if (uint64_t{target.image.width} * target.image.height > buffer.size()) {
        throw std::runtime_error("the frame descriptor does not match the frame size");
    }
}

// Writes the frame in buffer, packed (a container) or unpacked.
void WriteFrame(const std::string &path, const FrameBuffer &buffer, const CaptureTarget &target,
                const TQDEV_CAPTURE_PARAMS &params) {
    if (params.flags & TQDEV_FLAG_PACKED_OUTPUT) {
        WriteContainer(path, buffer.data(), target.frameSize, target.description);
    } else {
        CheckImageFits(target, buffer);
        WriteImageFile(path, buffer.data(), target.image.width, target.image.height,
                       target.description);
    }
    std::printf("wrote %s\n", path.c_str());
}

void CaptureSingle(const CaptureTarget &target, TQDEV_CAPTURE_PARAMS &params) {
    FrameBuffer buffer = AllocateFrame(target.frameSize);
    params.buffer = buffer.data();
    const uint32_t result = TqdevCaptureImage(target.device, &params, nullptr);
    std::printf("result %s\nticket %u\n", DescribeResult(result).c_str(), params.ticket);
    PrintStatusWords(params, true);
    CheckResult("TqdevCaptureImage", result);
    WriteFrame(target.output, buffer, target, params);
}

void CaptureSequence(const CaptureTarget &target, TQDEV_CAPTURE_PARAMS &params) {
    std::vector<FrameBuffer> buffers(3, AllocateFrame(target.frameSize));
    for (int i = 0; i < 3; ++i) {
        params.sequence_buffers[i] = buffers[i].data();
    }
    const uint32_t result = TqdevCaptureImage(target.device, &params, nullptr);
    std::printf("result %s\nticket %u\n", DescribeResult(result).c_str(), params.ticket);
    PrintStatusWords(params, true);
    CheckResult("TqdevCaptureImage", result);
    // One file: a multi-page image, or the three containers one after the other.
    if (params.flags & TQDEV_FLAG_PACKED_OUTPUT && !IsImageFileName(target.output)) {
        std::vector<uint8_t> all;
        for (const FrameBuffer &buffer : buffers) {
            const auto *bytes = reinterpret_cast<const uint8_t *>(buffer.data());
            all.insert(all.end(), bytes, bytes + target.frameSize);
        }
        WriteContainer(target.output, all.data(), static_cast<uint32_t>(all.size()));
    } else if (params.flags & TQDEV_FLAG_PACKED_OUTPUT) {
        std::vector<std::vector<uint16_t>> images;
        for (const FrameBuffer &buffer : buffers) {
            images.push_back(UnpackContainer(buffer.data()));
        }
        std::vector<const uint16_t *> pages;
        for (const auto &image : images) {
            pages.push_back(image.data());
        }
        TQDEV_IMAGE_HEADER header;
        std::memcpy(&header, buffers[0].data(), sizeof header);
        const ImageDimensions image = ContainerDimensions(header);
        WriteImagePages(target.output, pages, image.width, image.height, target.description);
    } else {
        std::vector<const uint16_t *> pages;
        for (const FrameBuffer &buffer : buffers) {
            CheckImageFits(target, buffer);
            pages.push_back(buffer.data());
        }
        WriteImagePages(target.output, pages, target.image.width, target.image.height,
                        target.description);
    }
    std::printf("wrote %s (3 frames)\n", target.output.c_str());
}

// Reads a field the library writes on a completion thread.
uint32_t LoadShared(uint32_t &field) {
    return std::atomic_ref<uint32_t>(field).load();
}

uint32_t AwaitAveraged(uint32_t device, TQDEV_PROGRESS &progress, CaptureWait &wait) {
    bool cancelled = false;
    for (;;) {
        const CaptureReports reports = WaitForEnd(wait, kRedrawPeriod);
        // A failed capture's record also reads 100 at the end; the bar keeps
        // the progress it had made.
        if (!reports.ended || reports.finalResult == TQDEV_RESULT_OK) {
            DrawPercentBar("averaged", reports.ended ? 100 : LoadShared(progress.Percent));
        }
        if (reports.ended) {
            EndProgressLine();
            return reports.finalResult;
        }
        if (Interrupted() && !cancelled) {
            // The capture goes on writing into our buffers until it ends, so
            // a failed cancel is reported and the wait goes on.
            cancelled = true;
            ReportFailure("TqdevCancelIo", TqdevCancelIo(device));
        }
    }
}

void CaptureAveraged(const CaptureTarget &target, TQDEV_CAPTURE_PARAMS &params, int frames,
                     CaptureWait &wait) {
    FrameBuffer buffer = AllocateFrame(target.frameSize);
    params.buffer = buffer.data();
    params.frame_count = frames > 0 ? frames : kDefaultAveragedFrames;
    const int32_t frameCount = params.frame_count;
    TQDEV_PROGRESS progress;
    AttachProgress(progress, wait);
    CheckResult("TqdevCaptureImage", TqdevCaptureImage(target.device, &params, &progress));
    const uint32_t result = AwaitAveraged(target.device, progress, wait);
    std::printf("result %s\nframe count %d\n", DescribeResult(result).c_str(), frameCount);
    PrintStatusWords(params, false);
    CheckResult("TqdevCaptureImage", result);
    std::printf("mean level %d\n", params.mean_level);
    WriteFrame(target.output, buffer, target, params);
}

struct LiveLimits {
    int frames = 0;     // 0: no limit
    double seconds = 0; // 0: no limit
};

// The frame in flight when live focus is stopped still arrives, with the
// final report: stopping once one frame short of the limit delivers exactly
// the number asked for.
uint32_t StopAtFrames(const LiveLimits &limits) {
    return limits.frames > 0 ? uint32_t(limits.frames) - 1 : 0;
}

// The frame limit is kept by the progress callback (see CaptureWait).
bool LiveShouldStop(const LiveLimits &limits, double elapsed) {
    return Interrupted() || (limits.seconds > 0 && elapsed >= limits.seconds);
}

// The capture writes into our ring until it ends, so the command must not
// leave before; when live focus cannot be stopped, cancelling the camera's
// I/O ends the capture instead.
void StopLiveFocus(uint32_t device) {
    if (ReportFailure("TqdevCancelLiveFocus", TqdevCancelLiveFocus(device))) {
        ReportFailure("TqdevCancelIo", TqdevCancelIo(device));
    }
}

CaptureReports AwaitLive(uint32_t device, CaptureWait &wait, const LiveLimits &limits) {
    const auto start = std::chrono::steady_clock::now();
    bool stopping = false;
    for (;;) {
        const CaptureReports reports = WaitForEnd(wait, kRedrawPeriod);
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // The last report (result 25) also delivered a frame.
        const bool stopped =
            reports.ended && reports.finalResult == TQDEV_RESULT_LIVE_FOCUS_STOPPED;
        DrawFrameRate("live", reports.frames + (stopped ? 1 : 0), elapsed);
        if (reports.ended) {
            EndProgressLine();
            return reports;
        }
        if (!stopping && LiveShouldStop(limits, elapsed)) {
            // The frame in flight still arrives and is reported last.
            stopping = true;
            StopLiveFocus(device);
        }
    }
}

void CaptureLive(const CaptureTarget &target, TQDEV_CAPTURE_PARAMS &params,
                 const LiveLimits &limits, CaptureWait &wait) {
    std::vector<FrameBuffer> ring(kRingSize, AllocateFrame(target.frameSize));
    params.ring_size = kRingSize;
    for (int i = 0; i < kRingSize; ++i) {
        params.ring_buffers[i] = ring[i].data();
    }
    wait.live = true;
    wait.device = target.device;
    wait.stopAtFrame = StopAtFrames(limits);
    TQDEV_PROGRESS progress;
    AttachProgress(progress, wait);
    CheckResult("TqdevCaptureImage", TqdevCaptureImage(target.device, &params, &progress));
    if (limits.frames == 1) {
        StopLiveFocus(target.device); // the first frame is the one in flight
    }
    const CaptureReports reports = AwaitLive(target.device, wait, limits);
    const bool stopped = reports.finalResult == TQDEV_RESULT_LIVE_FOCUS_STOPPED;
    std::printf("result %s\nticket %u\nframes %u\n", DescribeResult(reports.finalResult).c_str(),
                params.ticket, reports.frames + (stopped ? 1 : 0));
    PrintStatusWords(params, true);
    if (reports.finalResult != TQDEV_RESULT_LIVE_FOCUS_STOPPED) {
        FailCommand("TqdevCaptureImage", reports.finalResult);
    }
    std::printf("last frame in ring buffer %u\n", params.ring_index);
    WriteFrame(target.output, ring.at(params.ring_index), target, params);
}

// The library refuses settings with one code; say which option and why where
// the camera's information tells.
[[noreturn]] void ExplainFrameSizeFailure(uint32_t device, const CaptureGeometry &geometry,
                                          uint32_t result) {
    if (result == TQDEV_RESULT_INVALID_PARAMETER) {
        TQDEV_CAMERA_INFO info;
        if (TqdevCameraInfo(device, &info) == TQDEV_RESULT_OK) {
            const std::string why = ExplainRefusal(geometry, DecodeCameraInfo(info));
            if (!why.empty()) {
                std::fprintf(stderr, "tqdev: the camera refuses the settings: %s\n", why.c_str());
                throw CLI::RuntimeError(1);
            }
        }
    }
    FailCommand("TqdevFrameSize", result);
}

void RunCapture(const ToolOptions &options, const CaptureOptions &capture) {
    CheckModeOptions(capture);
    const CaptureGeometry geometry = BuildGeometry(capture);
    CheckOutput(capture);
    TQDEV_CAPTURE_PARAMS params = BuildParams(capture, geometry);
    // Only the asynchronous modes watch for Ctrl-C; a waiting capture keeps
    // the default, which ends the process.
    if (params.mode == TQDEV_CAPTURE_AVERAGED || params.mode == TQDEV_CAPTURE_LIVE_FOCUS) {
        CatchInterrupt();
    }
    // Outlives the session: a progress callback may still be returning when
    // the command's thread goes on; terminating the library waits for it.
    CaptureWait wait;
    ToolSession session(options);
    OpenCamera camera(capture.device);
    CaptureTarget target{capture.device, 0, capture.output, {}, DescribeSettings(capture)};
    const uint32_t sized = TqdevFrameSize(capture.device, &params, &target.frameSize);
    if (sized != TQDEV_RESULT_OK) {
        ExplainFrameSizeFailure(capture.device, geometry, sized);
    }
    std::printf("frame size %u bytes\n", target.frameSize);
    if (!(params.flags & TQDEV_FLAG_PACKED_OUTPUT)) {
        // The image's width and height come from the library's own output; a
        // packed frame carries them in its container.
        target.image = ProbeDimensions(capture.device, params);
    }
    switch (params.mode) {
    case TQDEV_CAPTURE_AVERAGED:
        return CaptureAveraged(target, params, capture.frames, wait);
    case TQDEV_CAPTURE_SEQUENCE:
        return CaptureSequence(target, params);
    case TQDEV_CAPTURE_LIVE_FOCUS:
        return CaptureLive(target, params, {capture.frames, capture.seconds}, wait);
    default:
        return CaptureSingle(target, params);
    }
}

} // namespace

void AddCaptureCommand(CLI::App &app, const ToolOptions &options) {
    CLI::App *command = app.add_subcommand("capture", "Capture frames and write them to files");
    auto capture = std::make_shared<CaptureOptions>();
    AddDeviceArgument(*command, capture->device);
    command->add_option("--mode", capture->mode, "single, averaged, sequence or live")
        ->check(CLI::IsMember({"single", "averaged", "sequence", "live"}))
        ->capture_default_str();
    command
        ->add_option("--frames", capture->frames,
                     "averaged: frames to average (default 4); live: stop after N frames")
        ->check(CLI::Range(1, 1000000));
    command->add_flag("--packed", capture->packed,
                      "Packed output: store the container, or unpack it for .tiff/.pgm names");
    command->add_flag("--stamp", capture->stamp, "Write the calibration stamp into the image");
    command->add_option("--binning", capture->binning, "Binning H or HxV");
    command->add_option("--window", capture->window, "Sensor window L,T,W,H");
    command->add_flag("--mirror", capture->mirror, "Mirror the columns (width a multiple of 64)");
    command->add_flag("--flip", capture->flip, "Flip the rows");
    command->add_option("--exposure", capture->exposureUs,
                        "Exposure in microseconds (default: the camera's)");
    command->add_option("--seconds", capture->seconds, "live: stop after S seconds")
        ->check(SecondsRange(false));
    command->add_option("-o,--output", capture->output, "Output file (.tiff, .pgm; .tqpk packed)")
        ->required();
    command->callback([&options, capture] { RunCapture(options, *capture); });
}
