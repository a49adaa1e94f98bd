// The output options: format, lossless transform, colour depth, dither,
// transparency, EXIF, comment, tone and colour adjustments and the time-stamp copies.
#pragma once

#include "ui/settings_page.h"

namespace velorin::ui {

class OutputPage : public SettingsPage {
  Q_OBJECT
 public:
  explicit OutputPage(PageHost& host, QWidget* parent = nullptr);
};

}  // namespace velorin::ui
