#include "image_files.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <stdexcept>

#include <tiffio.h>

#include "tqdev_version.h"

namespace {

bool EndsWith(const std::string &text, const char *suffix) {
    const size_t length = std::strlen(suffix);
    if (text.size() < length)
        return false;
    return std::equal(text.end() - static_cast<std::ptrdiff_t>(length), text.end(), suffix,
                      [](char a, char b) { return std::tolower(a) == b; });
}

bool IsPgmName(const std::string &path) {
    return EndsWith(path, ".pgm");
}

[[noreturn]] void Fail(const std::string &what, const std::string &path) {
    throw std::runtime_error(what + " " + path);
}

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

struct TiffCloser {
    void operator()(TIFF *tiff) const { TIFFClose(tiff); }
};
using Tiff = std::unique_ptr<TIFF, TiffCloser>;

// 12-bit frames keep 4095 as their white; anything larger needs the full range.
bool WritePgmPage(std::FILE *file, const uint16_t *pixels, uint32_t width, uint32_t height) {
    const size_t count = size_t{width} * height;
    const uint16_t brightest = count == 0 ? 0 : *std::max_element(pixels, pixels + count);
    const unsigned white = brightest <= 4095 ? 4095 : 65535;
    std::vector<uint8_t> bytes(count * 2);
    for (size_t i = 0; i < count; ++i) {
        bytes[2 * i] = static_cast<uint8_t>(pixels[i] >> 8);
        bytes[2 * i + 1] = static_cast<uint8_t>(pixels[i]);
    }
    return std::fprintf(file, "P5\n%u %u\n%u\n", width, height, white) > 0 &&
           std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

// Several pages follow each other in one file, as the format allows.
void WritePgm(const std::string &path, const std::vector<const uint16_t *> &pages, uint32_t width,
              uint32_t height) {
    File file(std::fopen(path.c_str(), "wb"));
    if (!file)
        Fail("cannot create", path);
    for (const uint16_t *pixels : pages) {
        if (!WritePgmPage(file.get(), pixels, width, height))
            Fail("cannot write", path);
    }
    if (std::fclose(file.release()) != 0)
        Fail("cannot write", path);
}

std::string TiffDateTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[20];
    std::strftime(text, sizeof text, "%Y:%m:%d %H:%M:%S", &local);
    return text;
}

// One directory per page; every page names the tool, the time and the
// capture settings.
void WriteTiff(const std::string &path, const std::vector<const uint16_t *> &pages, uint32_t width,
               uint32_t height, const std::string &description) {
    Tiff tiff(TIFFOpen(path.c_str(), "w"));
    if (!tiff)
        Fail("cannot create", path);
    TIFF *t = tiff.get();
    const std::string software = "tqdev " TQDEV_VERSION_STRING;
    const std::string dateTime = TiffDateTime();
    std::vector<uint16_t> row(width);
    for (size_t page = 0; page < pages.size(); ++page) {
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
        TIFFSetField(t, TIFFTAG_SOFTWARE, software.c_str());
        TIFFSetField(t, TIFFTAG_DATETIME, dateTime.c_str());
        if (!description.empty())
            TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, description.c_str());
        if (pages.size() > 1) {
            TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
            TIFFSetField(t, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(page),
                         static_cast<uint16_t>(pages.size()));
        }
        for (uint32_t y = 0; y < height; ++y) {
            std::copy_n(pages[page] + size_t{y} * width, width, row.begin());
            if (TIFFWriteScanline(t, row.data(), y, 0) < 0)
                Fail("cannot write", path);
        }
        if (!TIFFWriteDirectory(t))
            Fail("cannot write", path);
    }
}

GreyImage ReadTiff(const std::string &path) {
    Tiff tiff(TIFFOpen(path.c_str(), "r"));
    if (!tiff)
        Fail("cannot read TIFF", path);
    TIFF *t = tiff.get();
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, samples = 1;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
    if ((bits != 8 && bits != 16) || samples != 1 || TIFFIsTiled(t))
        Fail("not an 8- or 16-bit greyscale strip TIFF:", path);
    if (uint64_t{width} * height > (uint64_t{1} << 31))
        Fail("image too large:", path);
    GreyImage image{width, height, std::vector<uint16_t>(size_t{width} * height)};
    std::vector<uint8_t> line(static_cast<size_t>(TIFFScanlineSize(t)));
    if (line.size() < size_t{width} * bits / 8)
        Fail("unexpected TIFF line size in", path);
    for (uint32_t y = 0; y < height; ++y) {
        if (TIFFReadScanline(t, line.data(), y, 0) < 0)
            Fail("cannot read TIFF line of", path);
        uint16_t *out = image.pixels.data() + size_t{y} * width;
        if (bits == 16)
            std::memcpy(out, line.data(), size_t{width} * 2);
        else
            std::copy_n(line.data(), width, out);
    }
    return image;
}

// One number of a PGM header, skipping white space and comments.
bool ReadPgmNumber(std::FILE *file, uint32_t &value) {
    int c = std::fgetc(file);
    while (c == '#' || std::isspace(c)) {
        if (c == '#')
            while (c != '\n' && c != EOF)
                c = std::fgetc(file);
        c = std::fgetc(file);
    }
    if (!std::isdigit(c))
        return false;
    uint64_t number = 0;
    while (std::isdigit(c) && number <= UINT32_MAX) {
        number = number * 10 + static_cast<uint64_t>(c - '0');
        c = std::fgetc(file);
    }
    value = static_cast<uint32_t>(number);
    // Exactly one white-space character ends the header's last number.
    return number <= UINT32_MAX && std::isspace(c);
}

GreyImage ReadPgm(const std::string &path) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file)
        Fail("cannot open", path);
    char magic[2] = {};
    uint32_t width = 0, height = 0, white = 0;
    if (std::fread(magic, 1, 2, file.get()) != 2 || magic[0] != 'P' || magic[1] != '5' ||
        !ReadPgmNumber(file.get(), width) || !ReadPgmNumber(file.get(), height) ||
        !ReadPgmNumber(file.get(), white) || white == 0 || white > 65535)
        Fail("not a binary PGM:", path);
    const size_t bytesPerPixel = white > 255 ? 2 : 1;
    if (uint64_t{width} * height > (uint64_t{1} << 31))
        Fail("image too large:", path);
    GreyImage image{width, height, std::vector<uint16_t>(size_t{width} * height)};
    std::vector<uint8_t> bytes(image.pixels.size() * bytesPerPixel);
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
        Fail("truncated PGM:", path);
    for (size_t i = 0; i < image.pixels.size(); ++i)
        image.pixels[i] = bytesPerPixel == 2
                              ? static_cast<uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1])
                              : bytes[i];
    return image;
}

} // namespace

bool IsImageFileName(const std::string &path) {
    return IsPgmName(path) || EndsWith(path, ".tif") || EndsWith(path, ".tiff");
}

void WriteImagePages(const std::string &path, const std::vector<const uint16_t *> &pages,
                     uint32_t width, uint32_t height, const std::string &description) {
    if (IsPgmName(path))
        WritePgm(path, pages, width, height);
    else if (IsImageFileName(path))
        WriteTiff(path, pages, width, height, description);
    else
        Fail("not a .tif, .tiff or .pgm name:", path);
}

void WriteImageFile(const std::string &path, const uint16_t *pixels, uint32_t width,
                    uint32_t height, const std::string &description) {
    WriteImagePages(path, {pixels}, width, height, description);
}

GreyImage ReadImageFile(const std::string &path) {
    if (IsPgmName(path))
        return ReadPgm(path);
    if (IsImageFileName(path))
        return ReadTiff(path);
    Fail("not a .tif, .tiff or .pgm name:", path);
}
