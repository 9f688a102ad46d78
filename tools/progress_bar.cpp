#include "progress_bar.h"

#include <algorithm>
#include <cstdio>

// Results printed so far go out first, so that the bar follows them.
void DrawPercentBar(const char *label, uint32_t percent) {
    std::fflush(stdout);
    constexpr uint32_t kWidth = 30;
    percent = std::min<uint32_t>(percent, 100);
    const uint32_t filled = percent * kWidth / 100;
    char bar[kWidth + 1];
    for (uint32_t i = 0; i < kWidth; ++i) {
        bar[i] = i < filled ? '#' : ' ';
    }
    bar[kWidth] = '\0';
    std::fprintf(stderr, "\r%s [%s] %3u%%", label, bar, percent);
    std::fflush(stderr);
}

void DrawFrameRate(const char *label, uint32_t frames, double seconds) {
    std::fflush(stdout);
    const double fps = seconds > 0 ? frames / seconds : 0.0;
    std::fprintf(stderr, "\r%s %6u frames %8.1f fps", label, frames, fps);
    std::fflush(stderr);
}

void EndProgressLine() {
    std::fprintf(stderr, "\n");
    std::fflush(stderr);
}
