#include "platform/folder_watch.h"

#include <QFile>

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>

namespace velorin {

FolderWatch::~FolderWatch() { close(); }

bool FolderWatch::open(const QString& folder) {
  close();
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) return false;
  const uint32_t mask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                        IN_ATTRIB | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
  if (inotify_add_watch(fd_, QFile::encodeName(folder).constData(), mask) < 0) {
    close();
    return false;
  }
  return true;
}

void FolderWatch::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  signalled_ = false;
}

bool FolderWatch::changed() {
  if (fd_ < 0 || signalled_) return signalled_;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // EAGAIN: nothing (more) pending
    for (ssize_t offset = 0; offset < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
      offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      // A sub-folder appearing or going is not a change of the listed files; the folder itself
      // going away (or an overflowed queue) is.
      const bool aboutSubFolder = (event->mask & IN_ISDIR) && event->len > 0;
      if (!aboutSubFolder && !(event->mask & IN_IGNORED)) signalled_ = true;
      if (event->mask & (IN_Q_OVERFLOW | IN_DELETE_SELF | IN_MOVE_SELF)) signalled_ = true;
    }
  }
  return signalled_;
}

}  // namespace velorin
