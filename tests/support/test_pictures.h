#pragma once
// Picture files for tests.

#include <string>

// Writes a w x h bitmap of `bits` (24 or 32, or 8 for a palette picture) to `fileName`
// (format from the extension, e.g. ".bmp", ".png"); `seed` varies the pixels so that two
// seeds give different files. Raises std::runtime_error when it cannot be written.
void WriteTestPicture(const std::string& fileName, int w, int h, int seed = 0, int bits = 24);
// The bytes of a file ("" when missing).
std::string ReadWholeFile(const std::string& fileName);
void WriteWholeFile(const std::string& fileName, const std::string& bytes);
