#include "ui/file_list_model.h"

#include "engine/file_list.h"

namespace velorin::ui {

FileListModel::FileListModel(FileList& list, QObject* parent) : QAbstractTableModel(parent), list_(list) {}

void FileListModel::reload() {
  beginResetModel();
  endResetModel();
}

void FileListModel::selectAll(bool selected) {
  for (FileEntry& entry : list_.entries()) entry.selected = selected;
  if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::CheckStateRole});
}

void FileListModel::setHeaderTexts(const QStringList& texts) {
  headers_ = texts;
  emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
}

int FileListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(list_.entries().size());
}

int FileListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant FileListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const FileEntry& entry = list_.entries()[static_cast<size_t>(index.row())];
  if (role == Qt::CheckStateRole && index.column() == NameColumn)
    return entry.selected ? Qt::Checked : Qt::Unchecked;
  if (role == Qt::TextAlignmentRole && index.column() == SizeColumn)
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case NameColumn: return entry.displayName();
    case SizeColumn: return formatSizeInKb(entry.sizeInKb());
    case TimeColumn: return formatListTime(entry.lastWriteTime);
    default: return {};
  }
}

bool FileListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || index.column() != NameColumn || index.row() >= rowCount()) return false;
  list_.entries()[static_cast<size_t>(index.row())].selected =
      static_cast<Qt::CheckState>(value.toInt()) == Qt::Checked;
  emit dataChanged(index, index, {Qt::CheckStateRole});
  return true;
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.column() == NameColumn) f |= Qt::ItemIsUserCheckable;
  return f;
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section >= headers_.size()) return {};
  return headers_[section];
}

}  // namespace velorin::ui
