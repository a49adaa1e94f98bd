/* Velorin plug-in SDK: the one header a plug-in author compiles against.
 *
 * A plug-in is a shared object with the extension ".spi" (or ".sph") placed in the plug-in
 * folder. It exports the functions below with C linkage; the host looks them up by name, loads
 * the plug-in for one operation and unloads it again, so a plug-in keeps no state between calls.
 *
 * Kinds: GetPluginInfo(0) names the kind. "00IN" is an image plug-in (it decodes pictures into
 * device-independent bitmaps), "00AM" an archive plug-in (it lists and extracts members).
 *
 * Texts are in the character set of the user's locale (UTF-8 on a normal desktop).
 *
 * Memory handles: results are handed over in blocks the plug-in allocates with
 * spiLocalAlloc(); the host reads their size with spiLocalSize(), their bytes with
 * spiLocalLock() and releases them with spiLocalFree(). Host and plug-in share the process's
 * allocator, so a block may be freed by either side. A handle is never a raw pointer into the
 * plug-in's own data.
 *
 * Example (an image plug-in's GetPicture, error handling shortened):
 *
 *   int GetPicture(const char* buf, intptr_t len, unsigned int flag, HLOCAL* info, HLOCAL* bits,
 *                  SpiProgressCallback progress, intptr_t data) {
 *     HLOCAL h = spiLocalAlloc(sizeof(BITMAPINFOHEADER));
 *     BITMAPINFOHEADER* header = (BITMAPINFOHEADER*)spiLocalLock(h);
 *     ... fill header: biSize 40, width, height > 0 (rows bottom-up), biBitCount 1/4/8/24,
 *         biCompression 0; for 1, 4 and 8 bits allocate room for the palette after it ...
 *     *info = h;
 *     *bits = spiLocalAlloc(stride * height);   rows padded to 4 bytes
 *     return SPI_SUCCESS;
 *   }
 */
#ifndef VELORIN_SPI_H
#define VELORIN_SPI_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define SPI_EXPORT __attribute__((visibility("default")))
#else
#define SPI_EXPORT
#endif

/* Results of every function but GetPluginInfo and IsSupported. */
#define SPI_SUCCESS 0
#define SPI_NOT_IMPLEMENTED (-1)
#define SPI_CANCELLED 1
#define SPI_UNKNOWN_FORMAT 2
#define SPI_BROKEN_DATA 3
#define SPI_NO_MEMORY 4
#define SPI_MEMORY_ERROR 5
#define SPI_FILE_READ_ERROR 6
#define SPI_INTERNAL_ERROR 8

/* The low bits of the flag argument: where the source is. */
#define SPI_SOURCE_FILE 0   /* buf is a path, len the offset of the data in that file */
#define SPI_SOURCE_MEMORY 1 /* buf is the data, len its length */
/* GetFile's flag bits 8..10: where the member goes. */
#define SPI_DEST_FILE 0
#define SPI_DEST_MEMORY 0x100 /* dest is a HLOCAL* that receives the member's bytes */

/* How many bytes of a file's beginning IsSupported gets at least. */
#define SPI_HEADER_BYTES 2048

/* ---- memory handles ---- */

typedef struct SpiBlockHeader {
  uint64_t magic; /* SPI_BLOCK_MAGIC while the block is alive */
  uint64_t size;  /* usable bytes after the header */
} SpiBlockHeader;

typedef SpiBlockHeader* HLOCAL;

#define SPI_BLOCK_MAGIC 0x4B4C42495053564CULL /* "LVSPIBLK" */

/* A zero-filled block of size bytes; NULL when memory runs out. */
static inline HLOCAL spiLocalAlloc(size_t size) {
  if (size > SIZE_MAX - sizeof(SpiBlockHeader)) return NULL;
  HLOCAL block = (HLOCAL)calloc(1, sizeof(SpiBlockHeader) + size);
  if (!block) return NULL;
  block->magic = SPI_BLOCK_MAGIC;
  block->size = size;
  return block;
}

static inline int spiLocalValid(HLOCAL block) { return block && block->magic == SPI_BLOCK_MAGIC; }

/* Usable size; 0 for an invalid handle. */
static inline size_t spiLocalSize(HLOCAL block) { return spiLocalValid(block) ? (size_t)block->size : 0; }

/* The block's bytes; NULL for an invalid handle. */
static inline void* spiLocalLock(HLOCAL block) { return spiLocalValid(block) ? (void*)(block + 1) : NULL; }

static inline void spiLocalUnlock(HLOCAL block) { (void)block; }

static inline void spiLocalFree(HLOCAL block) {
  if (!spiLocalValid(block)) return;
  block->magic = 0;
  free(block);
}

/* ---- records ---- */

#pragma pack(push, 1)

typedef struct BITMAPINFOHEADER {
  uint32_t biSize; /* 40 */
  int32_t biWidth;
  int32_t biHeight; /* positive: rows bottom-up */
  uint16_t biPlanes;
  uint16_t biBitCount; /* 1, 4, 8 or 24 */
  uint32_t biCompression; /* 0: uncompressed */
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
} BITMAPINFOHEADER;

typedef struct RGBQUAD {
  uint8_t rgbBlue;
  uint8_t rgbGreen;
  uint8_t rgbRed;
  uint8_t rgbReserved;
} RGBQUAD;

/* A member of an archive; GetArchiveInfo returns an array of them in one handle, ended by a
 * record whose method is all zero (or by the end of the handle). */
typedef struct SpiFileInfo {
  uint8_t method[8];   /* compression method text, e.g. "-lh5-"; never all zero */
  uint64_t position;   /* what GetFile needs to find the member (added to the offset) */
  uint64_t compsize;
  uint64_t filesize;
  int64_t timestamp;   /* seconds since 1970-01-01 UTC */
  char path[200];      /* folder inside the archive, zero-terminated ("" or "a/b/") */
  char filename[200];  /* file name, zero-terminated */
  uint32_t crc;
} SpiFileInfo;

#pragma pack(pop)

/* Filled by GetPictureInfo. Natural alignment: 32 bytes. */
typedef struct SpiPictureInfo {
  int32_t left, top;
  int32_t width, height;
  uint16_t x_density, y_density;
  int16_t colorDepth; /* bits per pixel of the source, 0 when unknown */
  uint8_t padding[2];
  HLOCAL hInfo; /* text information, or NULL; the host frees it */
} SpiPictureInfo;

#ifdef __cplusplus
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes");
static_assert(sizeof(SpiFileInfo) == 444, "the member record is 444 bytes");
static_assert(sizeof(SpiPictureInfo) == 32, "the picture info record is 32 bytes");
#else
_Static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes");
_Static_assert(sizeof(SpiFileInfo) == 444, "the member record is 444 bytes");
_Static_assert(sizeof(SpiPictureInfo) == 32, "the picture info record is 32 bytes");
#endif

/* Progress: called with the work done and the whole; return non-zero to cancel. The host's
 * callback always returns 0. */
typedef int (*SpiProgressCallback)(int done, int total, intptr_t data);

/* ---- the exported functions ----
 *
 * GetPluginInfo: writes text number index into buffer (at most size bytes, zero-terminated when
 *   room is left) and returns the number of characters written, 0 when there is no such text.
 *   0: kind ("00IN" or "00AM"), 1: the plug-in's name and version; 2, 4, 6, ...: file patterns
 *   ("*.ppm;*.pgm"), 3, 5, 7, ...: the description of the patterns before them.
 * IsSupported: non-zero when the plug-in reads this file. name is the path (or for a member in
 *   memory its name); header points at the first SPI_HEADER_BYTES bytes, zero-padded.
 * GetPictureInfo / GetPicture (image plug-ins): source as the flag says. GetPicture returns the
 *   BITMAPINFOHEADER (plus the palette for 1, 4 and 8 bits) in *info and the pixel rows in
 *   *bits; both handles become the host's.
 * GetArchiveInfo (archive plug-ins): the member table in *table.
 * GetFile (archive plug-ins): the member at position len of archive buf; with
 *   SPI_DEST_MEMORY, dest is a HLOCAL* receiving its bytes.
 * ConfigurationDlg: shows the plug-in's settings (function 1); parent may be NULL. */
SPI_EXPORT int GetPluginInfo(int index, char* buffer, int size);
SPI_EXPORT int IsSupported(const char* name, const void* header);
SPI_EXPORT int GetPictureInfo(const char* buf, intptr_t len, unsigned int flag, SpiPictureInfo* info);
SPI_EXPORT int GetPicture(const char* buf, intptr_t len, unsigned int flag, HLOCAL* info, HLOCAL* bits,
                          SpiProgressCallback progress, intptr_t data);
SPI_EXPORT int GetArchiveInfo(const char* buf, intptr_t len, unsigned int flag, HLOCAL* table);
SPI_EXPORT int GetFile(const char* buf, intptr_t len, char* dest, unsigned int flag,
                       SpiProgressCallback progress, intptr_t data);
SPI_EXPORT int ConfigurationDlg(void* parent, int function);

typedef int (*GetPluginInfoFunction)(int, char*, int);
typedef int (*IsSupportedFunction)(const char*, const void*);
typedef int (*GetPictureInfoFunction)(const char*, intptr_t, unsigned int, SpiPictureInfo*);
typedef int (*GetPictureFunction)(const char*, intptr_t, unsigned int, HLOCAL*, HLOCAL*, SpiProgressCallback, intptr_t);
typedef int (*GetArchiveInfoFunction)(const char*, intptr_t, unsigned int, HLOCAL*);
typedef int (*GetFileFunction)(const char*, intptr_t, char*, unsigned int, SpiProgressCallback, intptr_t);
typedef int (*ConfigurationDlgFunction)(void*, int);

#ifdef __cplusplus
}
#endif

#endif
