// Where a capture's frames go: 16-bit images (TIFF or PGM, by the output
// name, written by image_files.h) or, for packed output, the container as it
// came from the camera.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes a packed container of size bytes: as an image (unpacked with the
// library) when the name asks for one, else byte for byte.
void WriteContainer(const std::string &path, const void *container, uint32_t size,
                    const std::string &description = "");

// The pixels of a packed container, unpacked by the library; fails the
// command when the library refuses it.
std::vector<uint16_t> UnpackContainer(const void *container);
