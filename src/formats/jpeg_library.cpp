#include "formats/jpeg_library.h"

#include <jerror.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "imaging/image.h"

namespace velorin {

namespace {

[[noreturn]] void jumpBack(j_common_ptr cinfo) {
  auto* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, manager->message);
  std::longjmp(manager->jump, 1);
}

// Warnings (level -1) are counted and the first is kept, since a warning means the input is
// damaged; trace messages are dropped. Nothing is printed: the library's own printing would go
// to stderr.
void keepFirstWarning(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  auto* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  if (cinfo->err->num_warnings++ > 0) return;
  char* text = manager->firstWarning;
  (*cinfo->err->format_message)(cinfo, text);
  // "Premature end of JPEG file" -> "premature end of JPEG file"; a leading acronym stays.
  if (text[0] >= 'A' && text[0] <= 'Z' && text[1] >= 'a' && text[1] <= 'z')
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
}

// Memory source.
const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

void initSource(j_decompress_ptr) {}
void termSource(j_decompress_ptr) {}

boolean fillInputBuffer(j_decompress_ptr cinfo) {
  // A whole stream ends with its own EOI, so asking for more means the data were cut short.
  WARNMS(cinfo, JWRN_JPEG_EOF);
  cinfo->src->next_input_byte = kEndOfImage;
  cinfo->src->bytes_in_buffer = 2;
  return TRUE;
}

void skipInputData(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  jpeg_source_mgr* src = cinfo->src;
  const size_t skip = static_cast<size_t>(count);
  if (skip > src->bytes_in_buffer) {
    src->next_input_byte += src->bytes_in_buffer;
    src->bytes_in_buffer = 0;  // the next fill supplies the EOI
    return;
  }
  src->next_input_byte += skip;
  src->bytes_in_buffer -= skip;
}

// Memory destination.
struct MemoryDestination {
  jpeg_destination_mgr library;
  uint8_t* buffer;
  size_t capacity;
  bool spilled;
  JOCTET scratch[4096];
};

void initMemory(j_compress_ptr) {}
void termMemory(j_compress_ptr) {}

boolean emptyMemory(j_compress_ptr cinfo) {
  // The library asks for room as soon as the block is full, even when no byte follows; only a
  // byte that lands in the scratch area makes the stream too long.
  auto* dest = reinterpret_cast<MemoryDestination*>(cinfo->dest);
  if (dest->spilled) ERREXIT(cinfo, JERR_BUFFER_SIZE);
  dest->spilled = true;
  dest->library.next_output_byte = dest->scratch;
  dest->library.free_in_buffer = sizeof dest->scratch;
  return TRUE;
}

// File destination.
constexpr size_t kFileBufferSize = 1 << 20;

struct FileDestination {
  jpeg_destination_mgr library;
  std::FILE* file;
  JOCTET* buffer;
};

void initFile(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<FileDestination*>(cinfo->dest);
  dest->buffer = static_cast<JOCTET*>(
      (*cinfo->mem->alloc_large)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, kFileBufferSize));
  dest->library.next_output_byte = dest->buffer;
  dest->library.free_in_buffer = kFileBufferSize;
}

boolean emptyFile(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<FileDestination*>(cinfo->dest);
  if (std::fwrite(dest->buffer, 1, kFileBufferSize, dest->file) != kFileBufferSize)
    ERREXIT(cinfo, JERR_FILE_WRITE);
  dest->library.next_output_byte = dest->buffer;
  dest->library.free_in_buffer = kFileBufferSize;
  return TRUE;
}

void termFile(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<FileDestination*>(cinfo->dest);
  const size_t used = kFileBufferSize - dest->library.free_in_buffer;
  if (used > 0 && std::fwrite(dest->buffer, 1, used, dest->file) != used)
    ERREXIT(cinfo, JERR_FILE_WRITE);
  // A full disk may only show when the stream's buffer is flushed.
  if (std::fflush(dest->file) != 0) ERREXIT(cinfo, JERR_FILE_WRITE);
}

}  // namespace

jpeg_error_mgr* installJpegErrorManager(JpegErrorManager& manager) {
  jpeg_std_error(&manager.library);
  manager.library.error_exit = jumpBack;
  manager.library.emit_message = keepFirstWarning;
  manager.message[0] = 0;
  manager.firstWarning[0] = 0;
  return &manager.library;
}

void setJpegMemorySource(j_decompress_ptr cinfo, const uint8_t* data, size_t length) {
  if (!cinfo->src) {
    cinfo->src = static_cast<jpeg_source_mgr*>((*cinfo->mem->alloc_small)(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(jpeg_source_mgr)));
  }
  jpeg_source_mgr* src = cinfo->src;
  src->init_source = initSource;
  src->fill_input_buffer = fillInputBuffer;
  src->skip_input_data = skipInputData;
  src->resync_to_restart = jpeg_resync_to_restart;
  src->term_source = termSource;
  src->next_input_byte = data;
  src->bytes_in_buffer = data ? length : 0;
}

void setJpegMemoryDestination(j_compress_ptr cinfo, uint8_t* buffer, size_t capacity) {
  auto* dest = static_cast<MemoryDestination*>((*cinfo->mem->alloc_small)(
      reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(MemoryDestination)));
  dest->library.init_destination = initMemory;
  dest->library.empty_output_buffer = emptyMemory;
  dest->library.term_destination = termMemory;
  dest->library.next_output_byte = buffer;
  dest->library.free_in_buffer = capacity;
  dest->buffer = buffer;
  dest->capacity = capacity;
  dest->spilled = false;
  cinfo->dest = &dest->library;
}

size_t jpegMemoryBytesWritten(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<MemoryDestination*>(cinfo->dest);
  return dest->spilled ? dest->capacity : dest->capacity - dest->library.free_in_buffer;
}

bool jpegMemoryOverflowed(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<MemoryDestination*>(cinfo->dest);
  return dest->spilled && dest->library.free_in_buffer != sizeof dest->scratch;
}

void setJpegFileDestination(j_compress_ptr cinfo, std::FILE* file) {
  auto* dest = static_cast<FileDestination*>((*cinfo->mem->alloc_small)(
      reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(FileDestination)));
  dest->library.init_destination = initFile;
  dest->library.empty_output_buffer = emptyFile;
  dest->library.term_destination = termFile;
  dest->file = file;
  dest->buffer = nullptr;
  cinfo->dest = &dest->library;
}

void setJpegDestination(j_compress_ptr cinfo, const JpegOutputTarget& target) {
  if (target.buffer) setJpegMemoryDestination(cinfo, target.buffer, target.capacity);
  else setJpegFileDestination(cinfo, target.file);
}

bool finishJpegOutput(j_compress_ptr cinfo, JpegOutputTarget& target) {
  if (!target.buffer) return true;
  target.written = jpegMemoryBytesWritten(cinfo);
  return !jpegMemoryOverflowed(cinfo);
}

}  // namespace velorin

// The library takes its large buffers (a whole image of coefficients when Huffman tables are
// optimised or a file is progressive, several megabytes) through these two functions. Defined
// here, they hand the big ones to the image core's large-block allocator, which reuses them from
// file to file instead of faulting fresh memory in for every file. A header in front of each
// block says where it came from and how big it is.
namespace {
constexpr size_t kLargeHeader = 64;  // keeps the library's 32-byte alignment
// The coefficients of a 2-megapixel output are about 4 MB for luma and just under 1 MB for each
// chroma component.
constexpr size_t kLibraryLargeBlock = size_t{512} << 10;
struct LargeHeader {
  size_t bytes;
  bool fromAllocator;
};
}  // namespace

extern "C" void* jpeg_get_large(j_common_ptr, size_t sizeofobject) {
  if (sizeofobject > SIZE_MAX - kLargeHeader) return nullptr;
  const size_t bytes = sizeofobject + kLargeHeader;
  bool fromAllocator = false;
  void* block = nullptr;
  if (bytes >= kLibraryLargeBlock) {
    block = velorin::takeLargeBlock(bytes);
    fromAllocator = block != nullptr;
  }
  if (!block) block = std::malloc(bytes);
  if (!block) return nullptr;
  new (block) LargeHeader{bytes, fromAllocator};
  return static_cast<uint8_t*>(block) + kLargeHeader;
}

extern "C" void jpeg_free_large(j_common_ptr, void* object, size_t) {
  if (!object) return;
  void* block = static_cast<uint8_t*>(object) - kLargeHeader;
  const LargeHeader header = *static_cast<LargeHeader*>(block);
  if (header.fromAllocator) velorin::releaseLargeBlock(block, header.bytes);
  else std::free(block);
}
