#include "ui/path_field.h"

#include <QFileInfo>
#include <QLineEdit>

#include "settings/application_settings.h"
#include "ui/controls.h"

namespace velorin::ui {

QStringList rememberPath(const QStringList& history, const QString& path, int limit) {
  QStringList result;
  if (!path.isEmpty()) result << path;
  for (const QString& entry : history) {
    if (result.size() >= limit) break;
    if (!entry.isEmpty() && entry != path) result << entry;
  }
  return result;
}

PathField::PathField(int id, QColor editBackground, QWidget* parent) : QComboBox(parent) {
  nameControl(this, id);
  setEditable(true);
  setInsertPolicy(QComboBox::NoInsert);
  setMaxVisibleItems(16);
  QPalette colours = palette();
  colours.setColor(QPalette::Base, editBackground);
  colours.setColor(QPalette::Text, Qt::black);
  setPalette(colours);
  lineEdit()->setPalette(colours);
  connect(this, &QComboBox::textActivated, this, [this](const QString& text) {
    lastEntered_ = text;
    emit pathEntered(text);
  });
  // Leaving the field with unchanged text is not a new entry.
  connect(lineEdit(), &QLineEdit::editingFinished, this, [this] {
    const QString text = currentText();
    if (text == lastEntered_) return;
    lastEntered_ = text;
    emit pathEntered(text);
  });
}

void PathField::setHistory(const QStringList& history) {
  const QString text = currentText();
  const QSignalBlocker quiet(this);
  clear();
  for (const QString& path : history)
    if (!path.isEmpty() && (foldersOnly_ ? QFileInfo(path).isDir() : QFileInfo::exists(path))) addItem(path);
  setEditText(text);
}

void PathField::remember(const QString& path) {
  const QString text = currentText();
  const QStringList paths = rememberPath(history(), path, kHistoryLength);
  const QSignalBlocker quiet(this);
  clear();
  addItems(paths);
  setEditText(text);
}

QStringList PathField::history() const {
  QStringList paths;
  for (int i = 0; i < count(); ++i) paths << itemText(i);
  return paths;
}

void PathField::setPath(const QString& path) {
  const QSignalBlocker quiet(this);
  setEditText(path);
  lastEntered_ = path;
}

}  // namespace velorin::ui
