// The conversion job: a batch of inputs converted one after the other, with the job-level checks
// and messages, progress, cancelling between entries, the follow-up actions and the end report.
//
// The job knows nothing of windows or terminals: it talks to its host through JobHost, which the
// main window implements with widgets and the headless mode with standard error.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

#include "engine/file_list.h"
#include "engine/language.h"
#include "engine/pipeline.h"
#include "settings/conversion_settings.h"

namespace velorin {

enum class MessageIcon { Error, Question, Information };
enum class MessageButtons { Ok, YesNo };

struct JobMessage {
  int id = 0;  // the language id of the text (the main text for combined messages)
  QString caption;
  QString text;
  MessageIcon icon = MessageIcon::Error;
  MessageButtons buttons = MessageButtons::Ok;
};

enum class FolderEvent { Created, Updated, Removed };

// What the job reports about one entry, for hosts that list failures.
struct EntryReport {
  QString source;      // the path, or the member's name inside its archive
  QString outputPath;  // empty when the entry was not converted
  bool converted = false;
  FailureReason failure;  // when the conversion itself failed
  // The step that failed after the conversion ("name", "copy", "own source", "damaged source";
  // "folder name", "folder taken", "folder": its output sub-folder).
  const char* step = "";
  int systemError = 0;    // errno of the failed step, 0 when the system gave none
  bool skipped = false;   // the output name was taken and the run keeps existing outputs
  std::string damage;     // a converted entry's source is damaged: its reader's words
  bool sourceKept = false;  // the job would have removed the source, but kept it as damaged
  QString refusedName;    // step "name": the generated name that failed the name check
  const char* nameFault = "";  // and what is wrong with it
};

// What a job does when an entry's output name is taken.
enum class TakenOutputName {
  NextFree,  // the first free "+n" name
  Skip,      // nothing is written; the entry counts as done and its source stays
  Replace,   // the output replaces the file there in one step (its own source only losslessly)
};

class JobHost {
 public:
  virtual ~JobHost() = default;
  virtual void setProgressRange(qsizetype maximum) = 0;
  virtual void setProgressPosition(qsizetype position) = 0;
  virtual void setTitle(const QString& title) = 0;
  // A list job switches the other command buttons off and shows the convert button's cancel text
  // while it runs; enabled with the button's own text again at the end.
  virtual void setCommandsEnabled(bool enabled, const QString& convertButtonText) = 0;
  // Shows a message; true when the answer is Yes (or OK).
  virtual bool showMessage(const JobMessage& message) = 0;
  // Polled between two entries; never waits.
  virtual bool cancelRequested() = 0;
  // A password for an encrypted RAR member, asked at most once per job; false fails the member.
  virtual bool askPassword(QString& password) { return false; }
  virtual void clearPreview() {}
  // The file manager would want to know; nothing needs it here but a window may refresh.
  virtual void folderChanged(const QString& folder, FolderEvent event) {}
  virtual void entryFinished(const EntryReport& report) {}
  // Around the steps that put one output on disk and act on its source: a host that ends the
  // process early waits until the step is whole.
  virtual void commitStarting() {}
  virtual void commitFinished() {}
};

// The application settings a job reads besides the conversion settings.
struct JobOptions {
  bool EndMes = true;    // end report in a message box, else in the title
  bool FileMes = true;   // tell the user when the list had to be rebuilt
  bool FileBg = true;    // transparency onto the file's own background
  QString SPI;           // image plug-in folder
  QStringList disabledPlugins;  // plug-in files the user switched off (slot 383)
  uint32_t Hidden = 2;   // attribute mask of files left out of lists
  // Conversions running at once. The window's job converts one after the other; the headless mode
  // may run more, and the results are committed in list order so the outputs stay the same.
  int jobs = 1;
  TakenOutputName takenName = TakenOutputName::NextFree;
};

struct JobContext {
  JobHost& host;
  const LanguageModule& language;
  const ConversionSettings& settings;
  JobOptions options;
};

struct JobResult {
  int errorId = 0;  // the message that ended the job before its loop, 0 when it ran
  qsizetype selected = 0;
  qsizetype processed = 0;
  qsizetype converted = 0;
  bool cancelled = false;
  bool tagListFailed = false;
  qsizetype keptDamaged = 0;  // converted entries whose damaged source the job did not remove
};

// Converts the selected entries of list. inputPathText is the input path as the user gave it.
JobResult runListJob(JobContext& context, FileList& list, const QString& inputPathText,
                     const QString& outputFolder);

// Converts files given by their paths.
JobResult runPathJob(JobContext& context, const QStringList& paths, const QString& outputFolder);

// One source of a job over several: a file, or the members of an archive, with the folder below
// the output folder its outputs go to.
struct JobSource {
  QString path;                          // the file, or the archive
  SourceKind kind = SourceKind::Folder;  // Folder: path is one file
  QString subFolder;                     // "a/b/" below the output folder, or empty
  std::vector<FileEntry> members;        // an archive's members to convert, in order
  FileTime archiveTime = 0;              // an archive's last-write time when it was listed
  bool memberFolders = false;            // each member's folder part goes below subFolder too
};

// Converts the files and archive members of sources as one job: one count, one numbering, one tag
// list. Missing output sub-folders are made as each output is committed, and an entry whose
// sub-folder would leave the output folder, or reach through a link, fails.
JobResult runSourcesJob(JobContext& context, const std::vector<JobSource>& sources, const QString& outputFolder);

struct PreviewRow {
  QString source;  // the entry's name as the list shows it
  QString output;  // the output file name without folder
  QString display;     // the entry as the job's reports name it
  QString outputPath;  // the output as the job's reports name it
};

// The name preview of a list job: the same checks (the list is rebuilt silently when it changed),
// then the names the job would give, without writing anything. The sub-folder is not created.
JobResult previewListJob(JobContext& context, FileList& list, const QString& inputPathText,
                         const QString& outputFolder, std::vector<PreviewRow>& rows);

// The same for a path job.
JobResult previewPathJob(JobContext& context, const QStringList& paths, const QString& outputFolder,
                         std::vector<PreviewRow>& rows);

// The same for a job over sources.
JobResult previewSourcesJob(JobContext& context, const std::vector<JobSource>& sources,
                            const QString& outputFolder, std::vector<PreviewRow>& rows);

// The headless mode's report of an input that does not exist: "<path>: <30003>".
QString inputMissingText(const LanguageModule& language, const QString& path);

// The end report's title form: "<20303>    3/5 (<20402>/<20401>)".
QString endReportTitle(const LanguageModule& language, qsizetype converted, qsizetype selected);
// The end report's message form: "<20401>  5\n<20402>  3", and when damaged sources were kept
// instead of removed a third line "<20403>  1".
QString endReportText(const LanguageModule& language, qsizetype converted, qsizetype selected,
                      qsizetype keptDamaged = 0);

// The headless mode's warning for a converted entry whose source is damaged, without the
// program's name: "<source>: damaged source (<why>), kept" (", kept" when the job would have
// removed it); empty for a whole source.
QString damagedSourceText(const EntryReport& report);
// The same for an entry whose generated output name failed the name check:
// "<source>: the output name "<name>" is not a valid file name (<fault>)"; empty otherwise.
QString refusedNameText(const EntryReport& report);

}  // namespace velorin
