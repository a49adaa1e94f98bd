// Shared by the libarchive-based plug-ins.
#pragma once

#include <locale.h>

// libarchive converts names through the thread's locale; the host may run in the "C" locale,
// where names outside ASCII would be lost. A UTF-8 locale is made current on this thread for
// the duration of each call only.
class Utf8Locale {
 public:
  Utf8Locale() {
    locale_ = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (locale_) previous_ = uselocale(locale_);
  }
  ~Utf8Locale() {
    if (!locale_) return;
    uselocale(previous_);
    freelocale(locale_);
  }
  Utf8Locale(const Utf8Locale&) = delete;
  Utf8Locale& operator=(const Utf8Locale&) = delete;

 private:
  locale_t locale_ = static_cast<locale_t>(0);
  locale_t previous_ = static_cast<locale_t>(0);
};
