// The interface every settings tab implements, and what the window offers the pages.
//
// The window owns the settings (a StoredSettings read at start-up) and the file list. A page
// - shows them in showSettings (at start-up, after a preset was applied, after a language switch);
// - writes its lists and check boxes into host().settings() as the user changes them, and calls
//   the host for what reaches beyond the page (rebuild the file list, switch the language...);
// - gives its number and text fields back in giveValues, which the window passes through
//   takeValuesFromPages before a job, a preset save and at shutdown (then corrections() tells
//   the page what was switched off so it can show it);
// - registers the fields that take a dropped path with registerDropTarget;
// - reloads every caption, list text and tooltip in relabel, called after the language changed.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

#include "settings/conversion_settings.h"
#include "settings/settings_store.h"

namespace velorin {
class FileList;
class LanguageModule;
}  // namespace velorin

namespace velorin::ui {

class PageHost {
 public:
  virtual ~PageHost() = default;
  virtual StoredSettings& settings() = 0;
  virtual const LanguageModule& language() const = 0;
  virtual FileList& fileList() = 0;
  // The input format or a file-type filter changed: the list is rebuilt when an input is set,
  // and every page's fileListChanged is called.
  virtual void rebuildFileList() = 0;
  // A setting shown on two pages changed (IFmt, OFmt, JTrans): every page shows it again.
  virtual void settingsChanged() = 0;
  // The language selector closed with a new choice (base name, e.g. "Japanese").
  virtual void switchLanguage(const QString& name) = 0;
  // The preset list (1183): 1..5 apply a preset, 6 saves one.
  virtual void presetChosen(int entry) = 0;
  // The interface font: the page's fonts follow it.
  virtual QFont interfaceFont() const = 0;
  // FHeight or FWeight changed: the window takes the new font and lays itself out again.
  virtual void interfaceFontChanged() {}
  // Where the language files are, for the language selector.
  virtual QString languageFolder() const = 0;
};

class SettingsPage : public QWidget {
  Q_OBJECT
 public:
  // titleId is the language id of the tab's title (20011..20015).
  SettingsPage(PageHost& host, int titleId, QWidget* parent = nullptr);

  int titleId() const { return titleId_; }

  // Sets every control from host().settings().
  virtual void showSettings() {}
  // The page's number and text fields into values; fields of other pages are left alone.
  virtual void giveValues(PageValues& values) const {}
  // The controls takeValuesFromPages switched off are shown switched off.
  virtual void showCorrections(const PageCorrections& corrections) {}
  // Every caption, list text and tooltip from host().language(); the layout may change with the
  // new text widths.
  virtual void relabel() {}
  // The file list was rebuilt or its selection changed outside the page.
  virtual void fileListChanged() {}

  // The drop table: when widget (the control under the drop point) is, or lies inside, a
  // registered field, that field's taker gets the first dropped path and true is returned.
  bool takeDrop(QWidget* widget, const QString& path);
  // A field that takes a dropped path (a folder field, the plug-in folder field).
  void registerDropTarget(QWidget* field, std::function<void(const QString& path)> take);

 protected:
  PageHost& host() const { return host_; }

 private:
  PageHost& host_;
  int titleId_;
  struct DropTarget {
    QPointer<QWidget> field;  // a field the page deletes early simply stops taking drops
    std::function<void(const QString&)> take;
  };
  std::vector<DropTarget> dropTargets_;
};

}  // namespace velorin::ui
