// Feeds arbitrary bytes to one photo plug-in's GetPicture, as the host does for an archive
// member, after its IsSupported. A picture that comes back must be a bitmap the host accepts:
// 24 bits, upright rows, and exactly as many bytes as the header promises.
#include <cstring>
#include <vector>

#include "velorin_spi.h"

// libheif's AV1 decoding keeps the data block it made with dav1d_data_create when the stream
// fails to decode; the plug-in frees everything libheif hands it, so only that library's
// allocations are let pass.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdav1d.so\n"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> header(SPI_HEADER_BYTES, 0);
  std::memcpy(header.data(), data, size < header.size() ? size : header.size());
  (void)IsSupported(VELORIN_FUZZ_MEMBER_NAME, header.data());
  HLOCAL info = nullptr, bits = nullptr;
  if (GetPicture(reinterpret_cast<const char*>(data), static_cast<intptr_t>(size), SPI_SOURCE_MEMORY, &info, &bits,
                 nullptr, 0) == SPI_SUCCESS) {
    const auto* h = static_cast<const BITMAPINFOHEADER*>(spiLocalLock(info));
    if (!h || spiLocalSize(info) < sizeof *h || h->biSize != 40 || h->biBitCount != 24 || h->biCompression != 0 ||
        h->biWidth <= 0 || h->biHeight <= 0)
      __builtin_trap();
    const size_t stride = (size_t(h->biWidth) * 3 + 3) & ~size_t{3};
    if (spiLocalSize(bits) != stride * size_t(h->biHeight)) __builtin_trap();
    const auto* p = static_cast<const uint8_t*>(spiLocalLock(bits));
    volatile uint8_t sink = p[spiLocalSize(bits) - 1];
    (void)sink;
  }
  spiLocalFree(info);
  spiLocalFree(bits);
  return 0;
}
