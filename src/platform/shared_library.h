// Shared objects loaded at run time: the image and archive plug-ins and the RAR library.
#pragma once

#include <QString>

namespace velorin {

// The library at path with its symbols bound now and kept to itself; nullptr when it cannot be
// loaded. A name without a slash is searched on the system's library path. Once loaded, a library
// stays mapped until the process ends; closing only gives up the handle.
void* openSharedLibrary(const QString& path);
// nullptr when library has no such symbol.
void* sharedLibrarySymbol(void* library, const char* name);
// Does nothing for nullptr.
void closeSharedLibrary(void* library);

}  // namespace velorin
