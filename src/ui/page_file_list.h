// The file list of the input: the input format, the checked entries, the
// file-type filters and the preview of the selected file.
#pragma once

#include "ui/settings_page.h"

namespace velorin::ui {

class FileListPage : public SettingsPage {
  Q_OBJECT
 public:
  explicit FileListPage(PageHost& host, QWidget* parent = nullptr);
};

}  // namespace velorin::ui
