/* Preloaded into the program by the stopping tests: every JPEG row written takes 10 ms longer,
   so that a conversion of a few thousand rows takes half a minute while the program's own
   stop checks between rows stay what they are. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <time.h>

typedef unsigned int (*WriteScanlines)(void*, void*, unsigned int);

unsigned int jpeg_write_scanlines(void* cinfo, void* scanlines, unsigned int lines) {
  static WriteScanlines real;
  if (!real) real = (WriteScanlines)dlsym(RTLD_NEXT, "jpeg_write_scanlines");
  const struct timespec pause = {0, 10 * 1000 * 1000};
  nanosleep(&pause, 0);
  return real(cinfo, scanlines, lines);
}
