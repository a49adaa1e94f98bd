#include "platform/shared_library.h"

#include <QFile>

#include <dlfcn.h>

namespace velorin {

void* openSharedLibrary(const QString& path) {
  return dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
}

void* sharedLibrarySymbol(void* library, const char* name) { return library ? dlsym(library, name) : nullptr; }

void closeSharedLibrary(void* library) {
  if (library) dlclose(library);
}

}  // namespace velorin
