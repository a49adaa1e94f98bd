#include "platform/shared_library.h"

#include <QFile>

#include <dlfcn.h>

namespace velorin {

// RTLD_NODELETE: a plug-in's decoding libraries keep process-wide state (decoder registries, thread
// pools, caches) that must not be unmapped under it, and leak checkers can only name the owner of
// memory whose module is still mapped.
void* openSharedLibrary(const QString& path) {
  return dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}

void* sharedLibrarySymbol(void* library, const char* name) { return library ? dlsym(library, name) : nullptr; }

void closeSharedLibrary(void* library) {
  if (library) dlclose(library);
}

}  // namespace velorin
