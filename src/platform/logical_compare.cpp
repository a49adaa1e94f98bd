#include "platform/logical_compare.h"

namespace velorin {

namespace {

bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }

QChar folded(QChar c) { return c.toCaseFolded(); }

}  // namespace

int compareLogical(QStringView a, QStringView b) {
  qsizetype i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      // Compare the runs as numbers without converting them, so any length works.
      qsizetype endA = i, endB = j;
      while (endA < a.size() && isDigit(a[endA])) ++endA;
      while (endB < b.size() && isDigit(b[endB])) ++endB;
      qsizetype startA = i, startB = j;
      while (startA + 1 < endA && a[startA] == u'0') ++startA;
      while (startB + 1 < endB && b[startB] == u'0') ++startB;
      const qsizetype lengthA = endA - startA, lengthB = endB - startB;
      if (lengthA != lengthB) return lengthA < lengthB ? -1 : 1;
      for (qsizetype k = 0; k < lengthA; ++k)
        if (a[startA + k] != b[startB + k]) return a[startA + k] < b[startB + k] ? -1 : 1;
      i = endA;
      j = endB;
      continue;
    }
    const QChar ca = folded(a[i]), cb = folded(b[j]);
    if (ca != cb) return ca < cb ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  const int plain = a.compare(b);
  return plain < 0 ? -1 : plain > 0 ? 1 : 0;
}

}  // namespace velorin
