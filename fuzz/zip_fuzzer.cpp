// Feeds arbitrary bytes to the ZIP listing and extracts every listed member; any crash,
// out-of-bounds access or runaway allocation is a bug.
#include "formats/zip_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const velorin::MemoryArchiveSource source(data, size);
  std::vector<velorin::ZipRecord> records;
  uint32_t skipped = 0;
  if (!velorin::listZipRecords(source, records, skipped)) return 0;
  for (const velorin::ZipRecord& record : records) {
    velorin::PixelBuffer block;
    if (velorin::extractZipMember(source, record.localHeaderOffset, block) && block.size() > 0) {
      volatile uint8_t sink = block.data()[block.size() - 1];
      (void)sink;
    }
  }
  return 0;
}
