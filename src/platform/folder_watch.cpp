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

namespace velorin {

namespace {
constexpr uint32_t kEntryEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR;
}

FolderEvents::FolderEvents() { fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC); }

FolderEvents::~FolderEvents() {
  if (fd_ >= 0) ::close(fd_);
}

bool FolderEvents::watch(const QString& folder) {
  for (Watch& w : watches_) {
    if (w.folder == folder) {
      ++w.uses;
      return true;
    }
  }
  if (fd_ < 0) return false;
  const int descriptor = inotify_add_watch(fd_, QFile::encodeName(folder).constData(), kEntryEvents);
  if (descriptor < 0) return false;
  // Two names of one folder (a link) share one descriptor: count it under the first name only.
  for (Watch& w : watches_) {
    if (w.descriptor == descriptor) {
      ++w.uses;
      return true;
    }
  }
  watches_.push_back({descriptor, folder, 1});
  return true;
}

void FolderEvents::unwatch(const QString& folder) {
  for (auto it = watches_.begin(); it != watches_.end(); ++it) {
    if (it->folder != folder) continue;
    if (--it->uses == 0) {
      inotify_rm_watch(fd_, it->descriptor);
      watches_.erase(it);
    }
    return;
  }
}

bool FolderEvents::isWatched(const QString& folder) const {
  for (const Watch& w : watches_)
    if (w.folder == folder) return true;
  return false;
}

std::vector<FolderEvents::Event> FolderEvents::read() {
  std::vector<Event> events;
  if (fd_ < 0) return events;
  alignas(inotify_event) char buffer[16384];
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    for (ssize_t offset = 0; offset + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
      offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) {
        events.push_back({Kind::Overflow, {}, {}, false});
        continue;
      }
      if (event->mask & IN_IGNORED) {
        // The folder itself went away; its descriptor is gone, so forget it.
        std::erase_if(watches_, [&](const Watch& w) { return w.descriptor == event->wd; });
        continue;
      }
      if (event->len == 0) continue;
      const QString* folder = nullptr;
      for (const Watch& w : watches_)
        if (w.descriptor == event->wd) folder = &w.folder;
      if (!folder) continue;  // unwatched while the event was queued
      const Kind kind = (event->mask & (IN_CREATE | IN_MOVED_TO)) ? Kind::Arrived : Kind::Left;
      events.push_back({kind, *folder, QFile::decodeName(event->name), (event->mask & IN_ISDIR) != 0});
    }
  }
  return events;
}

}  // namespace velorin
