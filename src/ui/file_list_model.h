// The file list as the list view shows it: one row per entry with its check box, and the name,
// size and time columns.
#pragma once

#include <QAbstractTableModel>

namespace velorin {
class FileList;
}

namespace velorin::ui {

class FileListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { NameColumn, SizeColumn, TimeColumn, ColumnCount };

  explicit FileListModel(FileList& list, QObject* parent = nullptr);

  // The list was rebuilt: every row is read again.
  void reload();
  // Sets every entry's check box.
  void selectAll(bool selected);
  void setHeaderTexts(const QStringList& texts);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  FileList& list_;
  QStringList headers_;
};

}  // namespace velorin::ui
