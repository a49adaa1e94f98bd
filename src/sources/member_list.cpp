#include "sources/member_list.h"

#include <QDateTime>

namespace velorin {

void splitMemberPath(const QString& path, MemberEntry& entry) {
  QString normalised = path;
  normalised.replace(QLatin1Char('\\'), QLatin1Char('/'));
  const qsizetype slash = normalised.lastIndexOf(QLatin1Char('/'));
  entry.folder = slash < 0 ? QString() : normalised.left(slash + 1);
  entry.fileName = normalised.mid(slash + 1);
}

FileTime dosTimeToFileTime(uint16_t dosDate, uint16_t dosTime) {
  const QDate date(1980 + (dosDate >> 9), (dosDate >> 5) & 15, dosDate & 31);
  const QTime time(dosTime >> 11, (dosTime >> 5) & 63, (dosTime & 31) * 2);
  if (!date.isValid() || !time.isValid()) return 0;
  const QDateTime local(date, time, Qt::LocalTime);
  return fileTimeFromUnixMilliseconds(local.toMSecsSinceEpoch());
}

}  // namespace velorin
