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
  if (const auto known = descriptors_.constFind(folder); known != descriptors_.cend()) {
    ++namesAndUses_[*known][folder];
    return true;
  }
  if (fd_ < 0) return false;
  // A second name of a watched folder gets the same descriptor back; it keeps a count of its own.
  const int descriptor = inotify_add_watch(fd_, QFile::encodeName(folder).constData(), kEntryEvents);
  if (descriptor < 0) return false;
  descriptors_.insert(folder, descriptor);
  namesAndUses_[descriptor].insert(folder, 1);
  return true;
}

void FolderEvents::unwatch(const QString& folder) {
  const auto known = descriptors_.find(folder);
  if (known == descriptors_.end()) return;
  const int descriptor = *known;
  QHash<QString, int>& names = namesAndUses_[descriptor];
  if (--names[folder] > 0) return;
  names.remove(folder);
  descriptors_.erase(known);
  if (names.isEmpty()) {
    namesAndUses_.remove(descriptor);
    inotify_rm_watch(fd_, descriptor);
  }
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
        // The folder itself went away; its descriptor is gone, so forget every name of it.
        for (const QString& name : namesAndUses_.value(event->wd).keys()) descriptors_.remove(name);
        namesAndUses_.remove(event->wd);
        continue;
      }
      if (event->len == 0) continue;
      const auto names = namesAndUses_.constFind(event->wd);
      if (names == namesAndUses_.cend()) continue;  // unwatched while the event was queued
      const Kind kind = (event->mask & (IN_CREATE | IN_MOVED_TO)) ? Kind::Arrived : Kind::Left;
      const QString name = QFile::decodeName(event->name);
      for (auto it = names->cbegin(); it != names->cend(); ++it)
        events.push_back({kind, it.key(), name, (event->mask & IN_ISDIR) != 0});
    }
  }
  return events;
}

}  // namespace velorin
