// The file list: the input format, the listed files with their check boxes,
// the file-type filters and the preview of the chosen file.
#pragma once

#include <array>

#include "engine/preview.h"
#include "ui/page_controls.h"
#include "ui/settings_page.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QTreeView;

namespace velorin::ui {

class FileListModel;
class PreviewPane;

class FileListPage : public SettingsPage {
  Q_OBJECT
 public:
  explicit FileListPage(PageHost& host, QWidget* parent = nullptr);
  ~FileListPage() override;

  void showSettings() override;
  void relabel() override;
  void fileListChanged() override;

  // Loads entry row into the preview pane.
  void showPreview(int row);
  // A job starts: the preview's pixels are released.
  void clearPreview();
  const PreviewImage& preview() const { return preview_; }

 private:
  void updateFilterControls();
  void updateCount();
  void openPreviewed(const QString& path);
  ConversionSettings& conversion() const { return host().settings().conversion; }

  Captions captions_;
  QComboBox* inputFormat_ = nullptr;  // 1221
  QTreeView* view_ = nullptr;         // 1201
  FileListModel* model_ = nullptr;
  QLabel* count_ = nullptr;           // 1231
  std::array<QCheckBox*, 4> filterOn_{};      // 1240..1243
  std::array<QLineEdit*, 4> filterText_{};    // 1250..1253
  PreviewPane* pane_ = nullptr;       // 1260
  QLabel* previewName_ = nullptr;     // 1261
  QLabel* previewSize_ = nullptr;     // 1262
  PreviewImage preview_;
};

}  // namespace velorin::ui
