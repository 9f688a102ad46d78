// A one-line progress display on standard error, redrawn in place, so that
// standard output keeps only the command's results.
#pragma once

#include <cstdint>

// "averaged [##########          ]  50%"
void DrawPercentBar(const char *label, uint32_t percent);

// "live   120 frames   59.8 fps"
void DrawFrameRate(const char *label, uint32_t frames, double seconds);

// Ends the line the bar was drawn on.
void EndProgressLine();
