// TIFF reader. Returns false with the reason in reader.status.
#pragma once

#include <filesystem>

#include "formats/input_file.h"

namespace velorin {

struct TiffReader : ReaderContext {
};

bool readTiffFile(TiffReader& reader, const std::filesystem::path& path, ImageRecord& record);
bool readTiffMemory(TiffReader& reader, const uint8_t* bytes, size_t length, ImageRecord& record);

}  // namespace velorin
