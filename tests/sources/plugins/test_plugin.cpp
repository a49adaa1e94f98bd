// Plug-ins for the host's tests. Their answers come from the test files themselves:
//
// Image files: "TSTI", width i32, height i32, bit count u16, picture depth u16, compression u32,
// info block size u32, palette entries u32 and their bytes, bits block size u32 and the bytes
// the file has of it (the rest stays zero). The header is recognised at the start of the header
// buffer only, so a file with a 128-byte prefix is taken on the second call.
// Archive files: "TSTA", count u32, then per member: name length u8, name, time i64, size u32,
// bytes.
// Every load appends the plug-in's name to the file VELORIN_TEST_PLUGIN_LOG names.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "velorin_spi.h"

namespace {

__attribute__((constructor)) void noteLoad() {
  if (const char* log = std::getenv("VELORIN_TEST_PLUGIN_LOG")) {
    if (FILE* f = std::fopen(log, "a")) {
      std::fprintf(f, "%s\n", TEST_PLUGIN_NAME);
      std::fclose(f);
    }
  }
}

#if defined(TEST_PLUGIN_VARIANT_archive)
const char* const kTexts[] = {"00AM", "test archive plug-in", "*.tsta;*.zip", "Test archives"};
const char kMagic[4] = {'T', 'S', 'T', 'A'};
#elif defined(TEST_PLUGIN_VARIANT_wrongkind)
const char* const kTexts[] = {"00XX", "test plug-in of no kind", "*.tstw", "Nothing"};
const char kMagic[4] = {'T', 'S', 'T', 'I'};
#else
const char* const kTexts[] = {"00IN", "test image plug-in", "*.tsti;*.PNG;", "Test images", "*.tst2", "More test images"};
const char kMagic[4] = {'T', 'S', 'T', 'I'};
#endif

std::vector<uint8_t> source(const char* buf, intptr_t len, unsigned flag) {
  if ((flag & 7) == SPI_SOURCE_MEMORY) return {reinterpret_cast<const uint8_t*>(buf), reinterpret_cast<const uint8_t*>(buf) + len};
  std::ifstream in(buf, std::ios::binary);
  in.seekg(len);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Reader {
  const std::vector<uint8_t>& bytes;
  size_t at = 0;
  bool ok = true;
  uint64_t take(size_t n) {
    uint64_t v = 0;
    if (at + n > bytes.size()) {
      ok = false;
      return 0;
    }
    for (size_t i = 0; i < n; ++i) v |= uint64_t{bytes[at + i]} << (8 * i);
    at += n;
    return v;
  }
};

}  // namespace

SPI_EXPORT int GetPluginInfo(int index, char* buffer, int size) {
  if (index < 0 || index >= static_cast<int>(sizeof kTexts / sizeof kTexts[0]) || size <= 0) return 0;
  const int n = std::min(static_cast<int>(std::strlen(kTexts[index])), size - 1);
  std::memcpy(buffer, kTexts[index], n);
  buffer[n] = 0;
  return n;
}

SPI_EXPORT int IsSupported(const char*, const void* header) {
  return std::memcmp(header, kMagic, 4) == 0 ? 1 : 0;
}

SPI_EXPORT int GetPictureInfo(const char* buf, intptr_t len, unsigned int flag, SpiPictureInfo* info) {
  const auto bytes = source(buf, len, flag);
  Reader r{bytes, 4};
  info->width = static_cast<int32_t>(r.take(4));
  info->height = static_cast<int32_t>(r.take(4));
  r.take(2);
  info->colorDepth = static_cast<int16_t>(r.take(2));
  info->hInfo = spiLocalAlloc(16);  // a text block the host must free
  return r.ok && std::memcmp(bytes.data(), kMagic, 4) == 0 ? SPI_SUCCESS : SPI_UNKNOWN_FORMAT;
}

SPI_EXPORT int GetPicture(const char* buf, intptr_t len, unsigned int flag, HLOCAL* infoOut, HLOCAL* bitsOut,
                          SpiProgressCallback progress, intptr_t data) {
  const auto bytes = source(buf, len, flag);
  if (bytes.size() < 4 || std::memcmp(bytes.data(), kMagic, 4) != 0) return SPI_UNKNOWN_FORMAT;
  if (progress && progress(0, 1, data)) return SPI_CANCELLED;
  Reader r{bytes, 4};
  BITMAPINFOHEADER header{};
  header.biSize = 40;
  header.biWidth = static_cast<int32_t>(r.take(4));
  header.biHeight = static_cast<int32_t>(r.take(4));
  header.biPlanes = 1;
  header.biBitCount = static_cast<uint16_t>(r.take(2));
  r.take(2);
  header.biCompression = static_cast<uint32_t>(r.take(4));
  const size_t infoSize = static_cast<size_t>(r.take(4));
  const size_t entries = static_cast<size_t>(r.take(4));
  std::vector<uint8_t> info(std::max<size_t>(infoSize, 40 + 4 * entries), 0);
  std::memcpy(info.data(), &header, 40);
  for (size_t i = 0; i < 4 * entries; ++i) info[40 + i] = static_cast<uint8_t>(r.take(1));
  const size_t bitsSize = static_cast<size_t>(r.take(4));
  if (!r.ok) return SPI_BROKEN_DATA;
  HLOCAL infoHandle = spiLocalAlloc(infoSize);
  HLOCAL bitsHandle = spiLocalAlloc(bitsSize);
  std::memcpy(spiLocalLock(infoHandle), info.data(), infoSize);
  if (bitsSize) std::memcpy(spiLocalLock(bitsHandle), bytes.data() + r.at, std::min(bitsSize, bytes.size() - r.at));
  *infoOut = infoHandle;
  *bitsOut = bitsHandle;
  return SPI_SUCCESS;
}

SPI_EXPORT int GetArchiveInfo(const char* buf, intptr_t len, unsigned int flag, HLOCAL* table) {
  const auto bytes = source(buf, len, flag);
  Reader r{bytes, 4};
  const auto count = static_cast<size_t>(r.take(4));
  std::vector<SpiFileInfo> members;
  for (size_t i = 0; i < count && r.ok; ++i) {
    SpiFileInfo m{};
    std::memcpy(m.method, "test", 4);
    m.position = r.at;  // the member's record in the file
    const auto nameLength = static_cast<size_t>(r.take(1));
    std::string name;
    for (size_t k = 0; k < nameLength; ++k) name += static_cast<char>(r.take(1));
    const size_t slash = name.rfind('/');
    std::strncpy(m.path, slash == std::string::npos ? "" : name.substr(0, slash).c_str(), sizeof m.path - 1);
    std::strncpy(m.filename, slash == std::string::npos ? name.c_str() : name.substr(slash + 1).c_str(), sizeof m.filename - 1);
    m.timestamp = static_cast<int64_t>(r.take(8));
    m.filesize = r.take(4);
    r.at += m.filesize;
    members.push_back(m);
  }
  *table = spiLocalAlloc(members.size() * sizeof(SpiFileInfo));  // no end record: the size ends it
  if (!members.empty()) std::memcpy(spiLocalLock(*table), members.data(), members.size() * sizeof(SpiFileInfo));
  return SPI_SUCCESS;
}

SPI_EXPORT int GetFile(const char* buf, intptr_t len, char* dest, unsigned int flag, SpiProgressCallback, intptr_t) {
  const auto bytes = source(buf, 0, flag & 7);
  Reader r{bytes, static_cast<size_t>(len)};
  const auto nameLength = static_cast<size_t>(r.take(1));
  r.at += nameLength;
  r.take(8);
  const auto size = static_cast<size_t>(r.take(4));
  if (!r.ok || r.at + size > bytes.size()) return SPI_BROKEN_DATA;
  HLOCAL handle = spiLocalAlloc(size);
  if (size) std::memcpy(spiLocalLock(handle), bytes.data() + r.at, size);
  *reinterpret_cast<HLOCAL*>(dest) = handle;
  return SPI_SUCCESS;
}

SPI_EXPORT int ConfigurationDlg(void*, int function) {
  noteLoad();  // the tests see the call in the log
  return function == 1 ? SPI_SUCCESS : SPI_NOT_IMPLEMENTED;
}
