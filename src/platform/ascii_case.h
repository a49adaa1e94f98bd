// The one case rule for names, extensions, patterns and keys: the letters A to Z match their
// lower-case forms and every other character only itself, whatever the locale, so no other
// letter (a dotless I, a Kelvin sign) ever joins two names.
#pragma once

#include <QLatin1String>
#include <QStringView>

namespace velorin {

constexpr char16_t foldAsciiLetter(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
}

namespace detail {
template <class A, class B>
bool sameIgnoringAsciiCase(const A& a, const B& b) {
  if (a.size() != b.size()) return false;
  for (qsizetype i = 0; i < a.size(); ++i)
    if (foldAsciiLetter(QChar(a[i]).unicode()) != foldAsciiLetter(QChar(b[i]).unicode())) return false;
  return true;
}
}  // namespace detail

inline bool sameNameIgnoringAsciiCase(QStringView a, QStringView b) { return detail::sameIgnoringAsciiCase(a, b); }
inline bool sameNameIgnoringAsciiCase(QStringView a, QLatin1String b) { return detail::sameIgnoringAsciiCase(a, b); }

}  // namespace velorin
