// The language module: every text the program shows, looked up by its id.
//
// A language file sits beside the program and is named after its language ("English.lng",
// "Japanese.lng"). It starts with the 8-byte signature "Velorin" plus a zero byte, so that no
// other file in that folder is ever taken for a language. Then follow UTF-8 lines of the form
// "ID<tab>TEXT"; empty lines and lines starting with "#" are comments. In TEXT, "\n", "\t" and
// "\\" stand for a line break, a tab and a backslash.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace velorin {

// The message and caption ids the engine and the headless mode use.
namespace text_id {
constexpr int kJobCancelButton = 20010;
constexpr int kPreviewSourceColumn = 20301;
constexpr int kPreviewOutputColumn = 20302;
constexpr int kEndReportCaption = 20303;
constexpr int kCancelQuestion = 20304;
constexpr int kJobRunningTitle = 20400;
constexpr int kSelectedLabel = 20401;
constexpr int kConvertedLabel = 20402;
constexpr int kKeptDamagedLabel = 20403;
constexpr int kErrorCaption = 30000;
constexpr int kNoMemory = 30001;
constexpr int kInputMissing = 30003;
constexpr int kOutputNotFolder = 30004;
constexpr int kCannotCreateSubFolder = 30005;
constexpr int kNothingSelected = 30006;
constexpr int kListChanged = 30008;
constexpr int kCannotWriteTagList = 30009;
constexpr int kCannotConvertFile = 30010;
constexpr int kSettingsTrouble = 30011;
}  // namespace text_id

// Texts are at most this many characters, as the window's controls expect.
constexpr qsizetype kMaxTextLength = 259;

class LanguageModule {
 public:
  // Reads a language file; false (and the module left empty) when it cannot be read or lacks the
  // signature.
  bool load(const QString& path);
  bool isLoaded() const { return loaded_; }
  const QString& path() const { return path_; }

  // The text of id; empty when the module has none.
  QString text(int id) const { return texts_.value(id); }
  bool has(int id) const { return texts_.contains(id); }
  qsizetype size() const { return texts_.size(); }

 private:
  QHash<int, QString> texts_;
  QString path_;
  bool loaded_ = false;
};

// The file extension of language files, with its dot.
QString languageFileExtension();

// True when the file carries the language signature.
bool isLanguageModule(const QString& path);

// Loads the language named by langFile from folder. An empty langFile becomes "Japanese" when the
// user's interface language is Japanese (id 1041), else "English". When that language cannot be
// loaded, "English" and then "Japanese" are tried, and the one that loads is written back to
// langFile. False when none loads.
bool loadLanguageModule(LanguageModule& module, QString& langFile, const QString& folder,
                        int userLanguageId);

// The languages in folder, in directory order: every signed language file, and the current one
// (named by langFile) without checking its signature. currentIndex is its position, or -1.
QStringList listLanguages(const QString& folder, const QString& langFile, int& currentIndex);

// The interface language of the user's locale as a language id (1041 Japanese, 1033 otherwise).
int userInterfaceLanguageId();

}  // namespace velorin
