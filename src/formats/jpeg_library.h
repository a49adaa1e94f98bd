// The pieces every libjpeg-turbo call of the JPEG codec shares: the fatal-error handler, the
// memory source, and the memory and file destinations.
//
// A fatal library error ends the running operation with a longjmp back to the setjmp that sits
// beside the error manager in the operation's own stack frame. The functions that call setjmp
// are kept free of C++ objects with destructors between setjmp and their last library call, so
// the jump never skips a destructor.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <jpeglib.h>

namespace velorin {

struct JpegErrorManager {
  jpeg_error_mgr library;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  // The first warning of the operation (corrupt data, a premature end), its first letter made
  // lower-case; empty when the library gave none.
  char firstWarning[JMSG_LENGTH_MAX];
};

// Installs the defaults with error_exit replaced by the jump back; warnings stay non-fatal but
// the first one is kept in firstWarning.
jpeg_error_mgr* installJpegErrorManager(JpegErrorManager& manager);

// Reads a whole in-memory stream without copying it. Running out of data supplies an EOI, so a
// truncated file ends as if the image stopped there, with the library's warning of a premature
// end; a skip past the end stops at the end.
void setJpegMemorySource(j_decompress_ptr cinfo, const uint8_t* data, size_t length);

// Writes into a fixed block that is never grown. An encode that needs more room spills into a
// scratch area instead of past the block; jpegMemoryOverflowed then reports it as a failure.
void setJpegMemoryDestination(j_compress_ptr cinfo, uint8_t* buffer, size_t capacity);
size_t jpegMemoryBytesWritten(j_compress_ptr cinfo);
bool jpegMemoryOverflowed(j_compress_ptr cinfo);

// Writes through a 1 MiB buffer to an open file; a short write is a fatal library error.
void setJpegFileDestination(j_compress_ptr cinfo, std::FILE* file);

// Where one compression writes: an open file, or a fixed block when buffer is set.
struct JpegOutputTarget {
  std::FILE* file = nullptr;
  uint8_t* buffer = nullptr;
  size_t capacity = 0;
  size_t written = 0;  // what the block holds, once finishJpegOutput has run
};
void setJpegDestination(j_compress_ptr cinfo, const JpegOutputTarget& target);
// After jpeg_finish_compress: notes what a block holds; false when the stream did not fit.
bool finishJpegOutput(j_compress_ptr cinfo, JpegOutputTarget& target);

}  // namespace velorin
