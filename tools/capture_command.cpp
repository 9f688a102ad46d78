// tqdev capture: one capture in any of the four modes, written to files.
// Single and sequence captures wait for the camera; averaged and live focus
// run asynchronously with a progress record and a bar on standard error.
// Ctrl-C cancels an averaged capture and ends live focus with its last frame.
#include <atomic>
#include <chrono>
#include <cstdio>
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
    std::optional<uint32_t> simulatedCamera;
    uint32_t frameSize; // bytes of one frame buffer
    std::string output;
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

TQDEV_CAPTURE_PARAMS BuildParams(const CaptureOptions &capture) {
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

// Writes the frame in buffer, packed (a container) or unpacked.
void WriteFrame(const std::string &path, const FrameBuffer &buffer, const CaptureTarget &target,
                const TQDEV_CAPTURE_PARAMS &params) {
    if (params.flags & TQDEV_FLAG_PACKED_OUTPUT) {
        WriteContainer(path, buffer.data(), target.frameSize);
    } else {
        const std::optional<ImageDimensions> dimensions =
            target.simulatedCamera ? UnpackedDimensions(*target.simulatedCamera, params)
                                   : std::nullopt;
        if (!dimensions ||
            uint64_t{dimensions->width} * dimensions->height * 2 > buffer.size() * 2) {
            throw std::runtime_error("cannot tell the image's width and height");
        }
        WriteImageFile(path, buffer.data(), dimensions->width, dimensions->height);
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
    for (int i = 0; i < 3; ++i) {
        WriteFrame(NumberedName(target.output, i + 1), buffers[i], target, params);
    }
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

bool LiveShouldStop(const CaptureReports &reports, const LiveLimits &limits, double elapsed) {
    return Interrupted() || (limits.frames > 0 && reports.frames >= uint32_t(limits.frames)) ||
           (limits.seconds > 0 && elapsed >= limits.seconds);
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
        // Until stopping, also wake as soon as the frame limit is reached.
        const uint32_t wakeAtFrames = stopping ? 0 : uint32_t(limits.frames);
        const CaptureReports reports = WaitForEnd(wait, kRedrawPeriod, wakeAtFrames);
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
        if (!stopping && LiveShouldStop(reports, limits, elapsed)) {
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
    TQDEV_PROGRESS progress;
    AttachProgress(progress, wait);
    CheckResult("TqdevCaptureImage", TqdevCaptureImage(target.device, &params, &progress));
    const CaptureReports reports = AwaitLive(target.device, wait, limits);
    std::printf("result %s\nticket %u\nframes %u\n", DescribeResult(reports.finalResult).c_str(),
                params.ticket, reports.frames + 1);
    PrintStatusWords(params, true);
    if (reports.finalResult != TQDEV_RESULT_LIVE_FOCUS_STOPPED) {
        FailCommand("TqdevCaptureImage", reports.finalResult);
    }
    std::printf("last frame in ring buffer %u\n", params.ring_index);
    WriteFrame(target.output, ring.at(params.ring_index), target, params);
}

void RunCapture(const ToolOptions &options, const CaptureOptions &capture) {
    TQDEV_CAPTURE_PARAMS params = BuildParams(capture);
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
    CaptureTarget target{capture.device, session.SimulatedCamera(capture.device), 0,
                         capture.output};
    CheckResult("TqdevFrameSize", TqdevFrameSize(capture.device, &params, &target.frameSize));
    std::printf("frame size %u bytes\n", target.frameSize);
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
        ->check(CLI::PositiveNumber);
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
        ->check(CLI::PositiveNumber);
    command->add_option("-o,--output", capture->output, "Output file (.tiff, .pgm; .tqpk packed)")
        ->required();
    command->callback([&options, capture] { RunCapture(options, *capture); });
}
