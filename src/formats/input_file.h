// The mapped input file and the fields every reader state starts with.
//
// Readers work straight on the mapped view (file route) or on the caller's block (memory route);
// the input is never copied. The file itself is never changed, even through the copy-on-write
// form, whose changes stay private to the process.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "imaging/image.h"

namespace velorin {

class MappedFile {
 public:
  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile() { close(); }

  // Maps the whole file read-only, or as a private writable copy. False for a missing, empty,
  // unmappable file or one of 4 GiB or more.
  bool open(const std::filesystem::path& path, bool copyOnWrite = false);
  void close();
  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  FileTime lastWriteTime() const { return lastWriteTime_; }

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  FileTime lastWriteTime_ = 0;
};

struct ReaderContext {
  MappedFile file;
  const uint8_t* dataStart = nullptr;
  const uint8_t* cursor = nullptr;
  const uint8_t* dataEnd = nullptr;
  ImageRecord* image = nullptr;
  Status status = Status::Ok;
  // Set by a read that succeeded although its input is damaged (cut short, corrupt data): what
  // was wrong, in a few lower-case words. The picture is whole in size, but parts of it may be
  // missing; such a source is the only complete copy left and must be kept. Empty otherwise.
  std::string damage;

  size_t available() const { return static_cast<size_t>(dataEnd - cursor); }
  size_t length() const { return static_cast<size_t>(dataEnd - dataStart); }
};

// Little-endian and big-endian loads from unaligned bytes.
inline uint16_t loadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t loadLe32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint16_t loadBe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t loadBe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

// The shared reader contract: status Ok, palette cleared, input set up, decode, and on failure
// the pixel block released. The mapping never outlives the call.
template <class State>
bool readFromFile(State& state, const std::filesystem::path& path, ImageRecord& record,
                  bool (*decode)(State&)) {
  ReaderContext& context = state;
  context.status = Status::Ok;
  context.damage.clear();
  context.image = &record;
  for (auto& entry : record.palette) entry = {};
  if (!context.file.open(path)) {
    context.status = Status::Truncated;
    return false;
  }
  context.dataStart = context.cursor = context.file.data();
  context.dataEnd = context.dataStart + context.file.size();
  record.sourceFileSize = static_cast<uint32_t>(context.file.size());
  record.sourceFileTime = context.file.lastWriteTime();
  const bool ok = decode(state);
  context.file.close();
  context.dataStart = context.cursor = context.dataEnd = nullptr;
  if (!ok) record.pixels.reset();
  return ok;
}

template <class State>
bool readFromMemory(State& state, const uint8_t* bytes, size_t length, ImageRecord& record,
                    bool (*decode)(State&)) {
  ReaderContext& context = state;
  context.status = Status::Ok;
  context.damage.clear();
  context.image = &record;
  for (auto& entry : record.palette) entry = {};
  context.dataStart = context.cursor = bytes;
  context.dataEnd = bytes + length;
  record.sourceFileSize = static_cast<uint32_t>(length);
  const bool ok = decode(state);
  context.dataStart = context.cursor = context.dataEnd = nullptr;
  if (!ok) record.pixels.reset();
  return ok;
}

}  // namespace velorin
