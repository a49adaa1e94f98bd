// The two editable drop-down path fields above the tabs (input path and output folder): a
// coloured edit part and a list of the remembered paths that still exist.
#pragma once

#include <QColor>
#include <QComboBox>
#include <QStringList>

namespace velorin::ui {

// The history after path was used: path first, no other copy of it, at most limit entries.
QStringList rememberPath(const QStringList& history, const QString& path, int limit);

class PathField : public QComboBox {
  Q_OBJECT
 public:
  PathField(int id, QColor editBackground, QWidget* parent = nullptr);

  // The list: the entries of history that exist on disk, in order; the edit text is kept.
  void setHistory(const QStringList& history);
  // Only entries that are folders are listed (the output folder field).
  void setFoldersOnly(bool foldersOnly) { foldersOnly_ = foldersOnly; }
  // Puts path at the top of the list (at most 16 entries, no duplicates).
  void remember(const QString& path);
  // The remembered paths as the list holds them.
  QStringList history() const;
  // Shows path in the edit part without emitting pathEntered.
  void setPath(const QString& path);
  QString path() const { return currentText(); }

 signals:
  // A path was chosen from the list, or the typed text was confirmed with Return or by leaving
  // the field.
  void pathEntered(const QString& path);

 private:
  QString lastEntered_;
  bool foldersOnly_ = false;
};

}  // namespace velorin::ui
