#include "ui/page_file_list.h"

namespace velorin::ui {

FileListPage::FileListPage(PageHost& host, QWidget* parent) : SettingsPage(host, 20012, parent) {}

}  // namespace velorin::ui
