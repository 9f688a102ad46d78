// 16-bit greyscale images on disk: uncompressed TIFF (through libtiff) and
// binary PGM, chosen by the file name's extension (.tif, .tiff, .pgm).
// Failures throw std::runtime_error with a message naming the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct GreyImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint16_t> pixels; // row by row, width x height
};

// True for the names WriteImageFile and ReadImageFile understand.
bool IsImageFileName(const std::string &path);

// TIFFs also carry Software, DateTime and, when given, the description.
void WriteImageFile(const std::string &path, const uint16_t *pixels, uint32_t width,
                    uint32_t height, const std::string &description = "");

// Several images of one size in one file: a multi-page TIFF, or PGM images
// one after the other.
void WriteImagePages(const std::string &path, const std::vector<const uint16_t *> &pages,
                     uint32_t width, uint32_t height, const std::string &description);

// Reads 16-bit (or 8-bit, widened) single-channel images.
GreyImage ReadImageFile(const std::string &path);
