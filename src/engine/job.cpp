#include "engine/job.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <map>
#include <set>
#include <cerrno>
#include <cstring>


#include "engine/actions.h"
#include "engine/job_run.h"
#include "engine/naming.h"
#include "formats/exif.h"
#include "formats/input_file.h"
#include "platform/atomic_file.h"
#include "platform/directory.h"
#include "platform/files.h"

namespace velorin {

namespace {

constexpr qsizetype kMaxOutputTextInCombinedMessage = 63;

JobMessage errorMessage(const LanguageModule& language, int id, const QString& text) {
  return {id, language.text(text_id::kErrorCaption), text, MessageIcon::Error, MessageButtons::Ok};
}

JobResult endWith(JobContext& context, JobResult result, int id, bool show = true) {
  result.errorId = id;
  if (show) context.host.showMessage(errorMessage(context.language, id, context.language.text(id)));
  return result;
}

bool isFolder(const QString& path) { return !path.isEmpty() && QFileInfo(path).isDir(); }

bool sameFolder(const QString& a, const QString& b) {
  const QString canonicalA = QFileInfo(a).canonicalFilePath();
  return !canonicalA.isEmpty() && canonicalA == QFileInfo(b).canonicalFilePath();
}

// The input and output checks of a list job and its preview; 0 when both pass.
int checkListPaths(JobContext& context, const QString& inputPathText, const QString& outputFolder) {
  const bool inputMissing = inputPathText.isEmpty() || !QFileInfo::exists(inputPathText);
  const bool outputBad = !isFolder(outputFolder);
  const LanguageModule& language = context.language;
  if (inputMissing && outputBad) {
    const QString text = language.text(text_id::kInputMissing) + QLatin1Char('\n') +
                         language.text(text_id::kOutputNotFolder).left(kMaxOutputTextInCombinedMessage);
    context.host.showMessage(errorMessage(language, text_id::kInputMissing, text));
    return text_id::kInputMissing;
  }
  const int id = inputMissing ? text_id::kInputMissing : outputBad ? text_id::kOutputNotFolder : 0;
  if (id) context.host.showMessage(errorMessage(language, id, language.text(id)));
  return id;
}

QString jobOutputFolder(const ConversionSettings& s, const QString& outputFolder) {
  return s.MkDirAdd && !s.MkDirStr.isEmpty() && subFolderNameAllowed(s.MkDirStr)
             ? joinPath(outputFolder, s.MkDirStr)
             : outputFolder;
}

// Everything between the checks and the entry loop; false ends the job (result.errorId set).
bool startRun(JobRun& run, const QString& outputFolder, const QString& archivePath) {
  JobContext& context = run.context;
  const ConversionSettings& s = context.settings;
  JobHost& host = context.host;
  host.setProgressRange(run.result.selected);
  if (run.listJob) host.clearPreview();

  run.outputFolder = outputFolder;
  // Settings that reach the job past every read (a caller's own record) are held here too; a bad
  // prefix or suffix fails each entry at its name check instead.
  if (s.MkDirAdd && !subFolderNameAllowed(s.MkDirStr)) {
    run.result = endWith(context, run.result, text_id::kCannotCreateSubFolder);
    return false;
  }
  if (s.MkDirAdd && !s.MkDirStr.isEmpty()) {
    run.outputFolder = joinPath(outputFolder, s.MkDirStr);
    if (!isFolder(run.outputFolder)) {
      if (!QDir().mkdir(run.outputFolder)) {
        run.result = endWith(context, run.result, text_id::kCannotCreateSubFolder);
        return false;
      }
      run.createdSubFolder = true;
      host.folderChanged(run.outputFolder, FolderEvent::Created);
    }
  }
  if (s.HtmlTag) run.htmlRecords.reserve(static_cast<size_t>(run.result.selected));
  run.workspace = createJobWorkspace(s);
  if (!run.workspace) {
    if (run.createdSubFolder) QDir().rmdir(run.outputFolder);
    run.result = endWith(context, run.result, text_id::kNoMemory);
    return false;
  }
  run.archivePath = archivePath;
  prepareWorkspace(run, *run.workspace);
  if (run.readsRar)
    keepRarForJob(*run.workspace, [&host](QString& password) { return host.askPassword(password); });
  run.rules = NamingRules::from(s, run.workspace->plan.extension);
  // Archive members are never deleted, whatever IFileDel says.
  run.deleteSources = s.IFileDel && run.kind == SourceKind::Folder;

  if (run.listJob) host.setCommandsEnabled(false, context.language.text(text_id::kJobCancelButton));
  host.setTitle(context.language.text(text_id::kJobRunningTitle));
  return true;
}

}  // namespace

void prepareWorkspace(const JobRun& run, JobWorkspace& ws) {
  prepareWorkspace(ws, run.kind, run.archivePath, run.context.options);
}

void prepareWorkspace(JobWorkspace& ws, SourceKind kind, const QString& archivePath, const JobOptions& options) {
  ws.sourceKind = kind;
  ws.archivePath = archivePath;
  ws.fileBackground = options.FileBg;
  ws.pluginFolder = options.SPI;
  ws.pluginHost.disabledPlugins = options.disabledPlugins;
}

void keepRarForJob(JobWorkspace& ws, PasswordPrompt prompt) {
  // Freed with the workspace.
  ws.rarContext.pluginFolder = ws.pluginFolder;
  ws.rarContext.askPassword = std::move(prompt);
  keepRarLibrary(ws.rarContext);
}

void useSourceOf(JobWorkspace& ws, const JobInput& input) {
  const QString archive = input.kind == SourceKind::Folder ? QString() : input.sourcePath;
  if (ws.sourceKind == input.kind && ws.archivePath == archive) return;
  if (ws.sourceKind == SourceKind::Rar) {
    // Another archive: its own password, asked when it needs one.
    ws.rarContext.keptArchive.close();
    ws.rarContext.password.clear();
    ws.rarContext.passwordGiven = false;
  }
  ws.sourceKind = input.kind;
  ws.archivePath = archive;
}

ConvertedEntry convertEntry(JobWorkspace& ws, const JobInput& input) {
  ConvertedEntry converted;
  useSourceOf(ws, input);
  converted.converted = convertFile(ws, input.entry, input.sourcePath, converted.temporary);
  if (!converted.converted) {
    converted.failure = ws.failure;
    return converted;
  }
  converted.hasExifDateTime = ws.image.hasExifDateTime;
  if (converted.hasExifDateTime)
    std::memcpy(converted.exifDateTime, ws.image.exifDateTime, sizeof converted.exifDateTime);
  converted.width = ws.image.workWidth;
  converted.height = ws.image.workHeight;
  converted.damage = ws.damage;
  return converted;
}

namespace {

// How placing one output went.
struct Placement {
  const char* step = "";  // "" when the output is in place (or skipped), else the failed step
  int error = 0;          // the system's reason for the failed step
  bool skipped = false;
  bool replacedSource = false;
  QString refusedName;  // the generated name, when the name check refused it
  const char* nameFault = "";
};

// The folder an input's output goes to.
QString outputFolderOf(const QString& outputFolder, const JobInput& input) {
  return input.subFolder.isEmpty() ? outputFolder : joinPath(outputFolder, input.subFolder.chopped(1));
}

// Makes the missing parts of an input's output sub-folder, outermost first, adding each made to
// made. False with the failed step when a part is no usable name, is taken by anything but a
// folder (a link too: the outputs stay inside the output folder), or cannot be made.
bool makeOutputSubFolder(const QString& outputFolder, const QString& subFolder, QStringList& made,
                         Placement& placed) {
  if (subFolder.isEmpty()) return true;
  if (!isUsableOutputFolderPath(outputFolder, subFolder)) {
    placed.step = "folder name";
    return false;
  }
  QString folder = outputFolder;
  for (const QString& part : subFolder.chopped(1).split(QLatin1Char('/'))) {
    folder = joinPath(folder, part);
    FolderState state = folderStateOf(folder);
    if (state == FolderState::Missing) {
      if (makeFolder(folder, placed.error)) {
        made << folder;
        continue;
      }
      state = placed.error == EEXIST ? folderStateOf(folder) : FolderState::Missing;
      if (state == FolderState::Missing) {
        placed.step = "folder";
        return false;
      }
      placed.error = 0;
    }
    if (state == FolderState::Other) {
      placed.step = "folder taken";
      return false;
    }
  }
  return true;
}

bool sameFile(const QString& a, const QString& b) {
  FileIdentity first, second;
  return fileIdentity(a, first) && fileIdentity(b, second) && !(first < second) && !(second < first);
}

// Gives the finished file the name target through a hidden name of this process, replacing what
// is there in one step.
bool replaceWith(PendingFile& output, const QString& folder, const QString& target, int64_t serial,
                 int& error) {
  const QString hidden =
      joinPath(folder, QStringLiteral(".velorin-%1-%2.part").arg(QCoreApplication::applicationPid()).arg(serial));
  return output.replace(target, hidden, error);
}

// Copies the converted file into the output folder as a file without a name, then links it to the
// first free output name: nothing is replaced, a reader never sees a part, and a name another
// writer took in the meantime moves the entry on to the next "+n". A run that keeps or replaces
// taken names looks at the plain name only.
Placement placeOutputIn(JobRun& run, const QString& folder, const JobInput& input, ConvertedEntry& converted,
                        const char* exif, QString& target) {
  Placement placed;
  const TakenOutputName taken = run.context.options.takenName;
  bool replace = false;
  const QString name = outputFileName(run.rules, input.name, run.result.processed, exif);
  if (const char* fault = outputNameFault(folder, name)) {
    placed.step = "name";
    placed.refusedName = name;
    placed.nameFault = fault;
    return placed;
  }
  if (taken == TakenOutputName::NextFree) {
    target = makeOutputPath(run.rules, folder, input.name, run.result.processed, exif);
  } else {
    target = joinPath(folder, name);
    if (pathEntryExists(target)) {
      if (taken == TakenOutputName::Skip) {
        placed.skipped = true;
        return placed;
      }
      // Only the lossless route may take its source's place: anything else would lose the original.
      placed.replacedSource = sameFile(target, input.sourcePath);
      if (placed.replacedSource && !run.context.settings.JTrans) {
        placed.step = "own source";
        return placed;
      }
      // Not even losslessly: what a damaged source holds past its damage would be lost.
      if (placed.replacedSource && !converted.damage.empty()) {
        placed.step = "damaged source";
        return placed;
      }
      replace = true;
    }
  }
  if (target.isEmpty()) {
    placed.step = "name";
    return placed;
  }
  PendingFile output;
  if (!output.create(folder) || !copyFileContents(converted.temporary.path(), output.path())) {
    placed.error = errno;
    placed.step = "copy";
    return placed;
  }
  if (replace) {
    if (!replaceWith(output, folder, target, run.result.processed, placed.error)) placed.step = "copy";
    return placed;
  }
  for (int attempt = 0; attempt <= kMaxCollisionNumber; ++attempt) {
    int error = 0;
    if (output.linkTo(target, error)) return placed;
    if (error != EEXIST) {
      placed.error = error;
      placed.step = "copy";
      return placed;
    }
    if (taken == TakenOutputName::Skip) {
      placed.skipped = true;
      return placed;
    }
    if (taken == TakenOutputName::Replace) {
      if (!replaceWith(output, folder, target, run.result.processed, placed.error)) placed.step = "copy";
      return placed;
    }
    target = makeOutputPath(run.rules, folder, input.name, run.result.processed, exif);
    if (target.isEmpty()) break;
  }
  placed.step = "name";
  return placed;
}

// placeOutputIn the input's output folder, made as far as needed; what was made for an output that
// then failed goes again.
Placement placeOutput(JobRun& run, const JobInput& input, ConvertedEntry& converted, const char* exif,
                      QString& target) {
  Placement placed;
  QStringList made;
  if (!makeOutputSubFolder(run.outputFolder, input.subFolder, made, placed)) {
    target.clear();
  } else {
    placed = placeOutputIn(run, outputFolderOf(run.outputFolder, input), input, converted, exif, target);
    if (!placed.step[0]) made.clear();
  }
  for (qsizetype i = made.size() - 1; i >= 0; --i) QDir().rmdir(made[i]);
  return placed;
}

}  // namespace

// The per-entry sequence after the conversion: name, copy, follow-up actions, clean up.
void commitEntry(JobRun& run, const JobInput& input, ConvertedEntry& converted) {
  const ConversionSettings& s = run.context.settings;
  EntryReport report;
  report.source = input.display;
  if (converted.converted) {
    const char* exif = converted.hasExifDateTime ? converted.exifDateTime : nullptr;
    QString target;
    run.context.host.commitStarting();
    const Placement placed = placeOutput(run, input, converted, exif, target);
    report.step = placed.step;
    report.systemError = placed.error;
    report.refusedName = placed.refusedName;
    report.nameFault = placed.nameFault;
    if (placed.skipped) {
      // The taken name stands for this entry's output: it counts as done, its source stays.
      ++run.result.converted;
      report.converted = true;
      report.skipped = true;
      report.outputPath = target;
    } else if (!report.step[0]) {
      // The output is in place: only now may anything happen to the source.
      if (s.WrTimeCopy || s.CrTimeCopy) {
        if (!input.entry) {
          copyTimeStampsFrom(input.sourcePath, target, s.WrTimeCopy, s.CrTimeCopy);
        } else if (input.kind == SourceKind::Folder) {
          applyTimeStamps(target, input.entry->lastWriteTime, input.entry->creationTime, s.WrTimeCopy,
                          s.CrTimeCopy);
        } else {
          applyTimeStamps(target, input.entry->lastWriteTime, input.archiveTime, s.WrTimeCopy, s.CrTimeCopy);
        }
      }
      // A damaged source may be the only complete copy of the picture: it is never removed. A
      // member's source is its archive, which stays.
      report.damage = converted.damage;
      if (run.deleteSources && input.kind == SourceKind::Folder && !placed.replacedSource) {
        if (converted.damage.empty()) {
          removeSource(input.sourcePath, s.Recycle);
        } else {
          report.sourceKept = true;
          ++run.result.keptDamaged;
        }
      }
      ++run.result.converted;
      report.converted = true;
      report.outputPath = target;
      // The tag list lies in the job's output folder: a mirrored output is named by its path from there.
      if (s.HtmlTag)
        run.htmlRecords.push_back({input.subFolder + QFileInfo(target).fileName(), converted.width, converted.height});
    }
    converted.temporary.discard();
    run.context.host.commitFinished();
  } else {
    report.failure = converted.failure;
  }
  ++run.result.processed;
  run.context.host.setProgressPosition(run.result.processed);
  run.context.host.entryFinished(report);
}

bool confirmCancel(JobRun& run) {
  JobHost& host = run.context.host;
  if (!host.cancelRequested()) return false;
  const JobMessage question{text_id::kCancelQuestion, QStringLiteral("Velorin"),
                            run.context.language.text(text_id::kCancelQuestion), MessageIcon::Question,
                            MessageButtons::YesNo};
  return host.showMessage(question);
}

namespace {

void runLoop(JobRun& run, const std::vector<JobInput>& inputs) {
  const int workers = static_cast<int>(std::min<qsizetype>(run.context.options.jobs, run.result.selected));
  // A RAR job shares one loaded library and may ask its host for a password, which only the
  // committing thread may do: it runs one entry at a time.
  if (workers > 1 && !run.readsRar) {
    runParallelLoop(run, inputs, workers);
    return;
  }
  for (const JobInput& input : inputs) {
    if (run.result.processed >= run.result.selected) break;
    ConvertedEntry converted = convertEntry(*run.workspace, input);
    commitEntry(run, input, converted);
    if (confirmCancel(run)) {
      run.result.cancelled = true;
      break;
    }
  }
}

void finishJob(JobRun& run) {
  JobContext& context = run.context;
  const ConversionSettings& s = context.settings;
  JobHost& host = context.host;
  const LanguageModule& language = context.language;
  if (s.HtmlTag && run.result.converted > 0 && !writeHtmlTagList(run.outputFolder, run.htmlRecords)) {
    run.result.tagListFailed = true;
    host.showMessage(errorMessage(language, text_id::kCannotWriteTagList,
                                  language.text(text_id::kCannotWriteTagList)));
  }
  run.htmlRecords.clear();
  run.workspace.reset();
  host.setProgressPosition(0);
  if (run.listJob) host.setCommandsEnabled(true, language.text(1023));
  host.setTitle(QStringLiteral("Velorin"));

  if (run.result.converted > 0) {
    host.folderChanged(run.outputFolder, FolderEvent::Updated);
    if (run.listJob && run.deleteSources && !s.Recycle && !sameFolder(run.inputFolder, run.outputFolder))
      host.folderChanged(run.inputFolder, FolderEvent::Updated);
  } else if (run.createdSubFolder && QDir().rmdir(run.outputFolder)) {
    host.folderChanged(run.outputFolder, FolderEvent::Removed);
  }

  const qsizetype converted = run.result.converted, selected = run.result.selected;
  if (context.options.EndMes) {
    host.showMessage({text_id::kEndReportCaption, language.text(text_id::kEndReportCaption),
                      endReportText(language, converted, selected, run.result.keptDamaged),
                      MessageIcon::Information,
                      MessageButtons::Ok});
  } else {
    host.setTitle(endReportTitle(language, converted, selected));
  }
}

std::vector<JobInput> listInputs(const FileList& list) {
  std::vector<JobInput> inputs;
  for (const FileEntry& entry : list.entries()) {
    if (!entry.selected) continue;
    JobInput input;
    input.entry = &entry;
    input.name = entry.name;
    input.kind = list.kind();
    if (list.kind() == SourceKind::Folder) {
      input.sourcePath = joinPath(list.inputPath(), entry.name);
      input.display = input.sourcePath;
    } else {
      input.sourcePath = list.inputPath();
      input.display = list.inputPath() + QLatin1Char(':') + entry.displayName();
      input.archiveTime = list.archiveTime();
    }
    inputs.push_back(std::move(input));
  }
  return inputs;
}

JobInput fileInput(const QString& path, const QString& subFolder) {
  JobInput input;
  input.sourcePath = path;
  input.name = QFileInfo(path).fileName();
  input.display = path;
  input.subFolder = subFolder;
  return input;
}

std::vector<JobInput> pathInputs(const QStringList& paths) {
  std::vector<JobInput> inputs;
  for (const QString& path : paths) inputs.push_back(fileInput(path, QString()));
  return inputs;
}

std::vector<JobInput> sourceInputs(const std::vector<JobSource>& sources) {
  std::vector<JobInput> inputs;
  for (const JobSource& source : sources) {
    if (source.kind == SourceKind::Folder) {
      inputs.push_back(fileInput(source.path, source.subFolder));
      continue;
    }
    for (const FileEntry& entry : source.members) {
      JobInput input;
      input.entry = &entry;
      input.kind = source.kind;
      input.sourcePath = source.path;
      input.name = entry.name;
      input.display = source.path + QLatin1Char(':') + entry.displayName();
      input.subFolder = source.memberFolders ? source.subFolder + entry.folder : source.subFolder;
      input.archiveTime = source.archiveTime;
      inputs.push_back(std::move(input));
    }
  }
  return inputs;
}

// One file given twice (the same path, or two names of one inode, or one archive member twice) is
// converted once: converting it twice would give two outputs, or, with IFileDel, start an entry
// whose source another deletes.
std::vector<JobInput> withoutDuplicates(std::vector<JobInput> inputs) {
  std::set<std::pair<FileIdentity, int64_t>> seen;
  std::vector<JobInput> unique;
  unique.reserve(inputs.size());
  for (JobInput& input : inputs) {
    FileIdentity identity;
    const int64_t member = input.kind == SourceKind::Folder || !input.entry ? -1 : input.entry->memberPosition;
    if (fileIdentity(input.sourcePath, identity) && !seen.insert({identity, member}).second) continue;
    unique.push_back(std::move(input));
  }
  return unique;
}

// The list job's checks; 0 when the job may start.
int checkList(JobContext& context, FileList& list, const QString& inputPathText,
              const QString& outputFolder, bool showChange) {
  if (const int id = checkListPaths(context, inputPathText, outputFolder)) return id;
  if (!list.keepInStep()) {
    if (showChange && context.options.FileMes)
      context.host.showMessage(errorMessage(context.language, text_id::kListChanged,
                                            context.language.text(text_id::kListChanged)));
    return text_id::kListChanged;
  }
  if (list.selectedCount() == 0) {
    context.host.showMessage(errorMessage(context.language, text_id::kNothingSelected,
                                          context.language.text(text_id::kNothingSelected)));
    return text_id::kNothingSelected;
  }
  return 0;
}

// A workspace that reads inputs for the preview the way the job's will, or null without memory.
std::unique_ptr<JobWorkspace> previewWorkspace(const JobRun& run) {
  std::unique_ptr<JobWorkspace> ws = createJobWorkspace(run.context.settings);
  if (!ws) return nullptr;
  prepareWorkspace(run, *ws);
  JobHost& host = run.context.host;
  ws->rarContext.askPassword = [&host](QString& password) { return host.askPassword(password); };
  return ws;
}

// Whether the job could put an output into subFolder without making a part of it through a file
// or a link, as makeOutputSubFolder checks.
bool subFolderUsable(const QString& outputFolder, const QString& subFolder) {
  if (subFolder.isEmpty()) return true;
  if (!isUsableOutputFolderPath(outputFolder, subFolder)) return false;
  QString folder = outputFolder;
  for (const QString& part : subFolder.chopped(1).split(QLatin1Char('/'))) {
    folder = joinPath(folder, part);
    const FolderState state = folderStateOf(folder);
    if (state != FolderState::Folder) return state == FolderState::Missing;
  }
  return true;
}

// Names every input against the table of names its output folder holds.
void previewInputs(JobContext& context, const std::vector<JobInput>& inputs, const QString& outputFolder,
                   JobRun& run, std::vector<PreviewRow>& rows) {
  const ConversionSettings& s = context.settings;
  const NamingRules rules = NamingRules::from(s, prepareJob(s).extension);
  std::map<QString, QStringList> tables;  // by sub-folder
  // EXIF-date names read the inputs (members through the archive readers), as the job will.
  std::unique_ptr<JobWorkspace> reader = rules.NameSet == 1 ? previewWorkspace(run) : nullptr;
  int64_t processed = 0;
  for (const JobInput& input : inputs) {
    char dateTime[20] = {};
    if (reader) useSourceOf(*reader, input);
    const bool hasDate = reader && readInputExifDate(*reader, input.entry, input.sourcePath, dateTime);
    const int64_t position = processed++;
    if (!subFolderUsable(outputFolder, input.subFolder)) continue;
    const QString folder = outputFolderOf(outputFolder, input);
    auto [found, fresh] = tables.try_emplace(input.subFolder);
    QStringList& table = found->second;
    if (fresh) table = existingOutputNames(folder, rules.extension);
    const QString name = previewOutputName(rules, folder, input.name, position, hasDate ? dateTime : nullptr, table);
    if (name.isEmpty()) continue;
    rows.push_back({input.entry ? input.entry->displayName() : input.display, name, input.display,
                    joinPath(folder, name)});
    // The source will be deleted during the job, so its own name becomes free again.
    if (s.IFileDel && input.kind == SourceKind::Folder && sameFolder(QFileInfo(input.sourcePath).absolutePath(), folder))
      table.removeOne(input.name);
  }
}

}  // namespace

QString inputMissingText(const LanguageModule& language, const QString& path) {
  return path + QStringLiteral(": ") + language.text(text_id::kInputMissing);
}

QString endReportTitle(const LanguageModule& language, qsizetype converted, qsizetype selected) {
  return language.text(text_id::kEndReportCaption) + QStringLiteral("    ") + QString::number(converted) +
         QLatin1Char('/') + QString::number(selected) + QStringLiteral(" (") +
         language.text(text_id::kConvertedLabel) + QLatin1Char('/') + language.text(text_id::kSelectedLabel) +
         QLatin1Char(')');
}

QString endReportText(const LanguageModule& language, qsizetype converted, qsizetype selected,
                      qsizetype keptDamaged) {
  QString text = language.text(text_id::kSelectedLabel) + QStringLiteral("  ") + QString::number(selected) +
                 QLatin1Char('\n') + language.text(text_id::kConvertedLabel) + QStringLiteral("  ") +
                 QString::number(converted);
  if (keptDamaged > 0)
    text += QLatin1Char('\n') + language.text(text_id::kKeptDamagedLabel) + QStringLiteral("  ") +
            QString::number(keptDamaged);
  return text;
}

QString damagedSourceText(const EntryReport& report) {
  if (!report.converted || report.damage.empty()) return {};
  return report.source + QStringLiteral(": damaged source (") + QString::fromStdString(report.damage) +
         (report.sourceKept ? QStringLiteral("), kept") : QStringLiteral(")"));
}

QString refusedNameText(const EntryReport& report) {
  if (report.refusedName.isEmpty()) return {};
  // The name comes from the source's name and the settings: control characters are shown, not sent.
  QString shown;
  for (const QChar c : report.refusedName) {
    if (c.unicode() < 0x20 || c.unicode() == 0x7F)
      shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
    else
      shown += c;
  }
  return report.source + QStringLiteral(": the output name \"") + shown +
         QStringLiteral("\" is not a valid file name (") + QLatin1String(report.nameFault) + QLatin1Char(')');
}

JobResult runListJob(JobContext& context, FileList& list, const QString& inputPathText,
                     const QString& outputFolder) {
  JobResult result;
  if (const int id = checkList(context, list, inputPathText, outputFolder, true)) {
    result.errorId = id;
    return result;
  }
  JobRun run(context);
  run.listJob = true;
  run.kind = list.kind();
  run.readsRar = run.kind == SourceKind::Rar;
  run.inputFolder = list.kind() == SourceKind::Folder ? list.inputPath() : QString();
  run.result.selected = list.selectedCount();
  if (!startRun(run, outputFolder, list.kind() == SourceKind::Folder ? QString() : list.inputPath()))
    return run.result;
  runLoop(run, listInputs(list));
  finishJob(run);
  return run.result;
}

namespace {

bool readsRar(const std::vector<JobInput>& inputs) {
  return std::any_of(inputs.begin(), inputs.end(), [](const JobInput& input) { return input.kind == SourceKind::Rar; });
}

// A job over inputs of their own kinds (files, members of several archives).
JobResult runInputsJob(JobContext& context, const std::vector<JobInput>& inputs, const QString& outputFolder) {
  JobResult result;
  if (!isFolder(outputFolder)) return endWith(context, result, text_id::kOutputNotFolder);
  // Folders without images leave nothing to convert, as a list job over one of them finds.
  if (inputs.empty()) return endWith(context, result, text_id::kNothingSelected);
  JobRun run(context);
  run.kind = SourceKind::Folder;
  run.readsRar = readsRar(inputs);
  run.result.selected = static_cast<qsizetype>(inputs.size());
  if (!startRun(run, outputFolder, QString())) return run.result;
  runLoop(run, inputs);
  finishJob(run);
  return run.result;
}

JobResult previewInputsJob(JobContext& context, const std::vector<JobInput>& inputs, const QString& outputFolder,
                           std::vector<PreviewRow>& rows) {
  JobResult result;
  if (!isFolder(outputFolder)) return endWith(context, result, text_id::kOutputNotFolder);
  if (inputs.empty()) return endWith(context, result, text_id::kNothingSelected);
  result.selected = static_cast<qsizetype>(inputs.size());
  JobRun run(context);
  run.kind = SourceKind::Folder;
  previewInputs(context, inputs, jobOutputFolder(context.settings, outputFolder), run, rows);
  return result;
}

}  // namespace

JobResult runPathJob(JobContext& context, const QStringList& paths, const QString& outputFolder) {
  return runInputsJob(context, withoutDuplicates(pathInputs(paths)), outputFolder);
}

JobResult runSourcesJob(JobContext& context, const std::vector<JobSource>& sources, const QString& outputFolder) {
  return runInputsJob(context, withoutDuplicates(sourceInputs(sources)), outputFolder);
}

JobResult previewListJob(JobContext& context, FileList& list, const QString& inputPathText,
                         const QString& outputFolder, std::vector<PreviewRow>& rows) {
  JobResult result;
  if (const int id = checkList(context, list, inputPathText, outputFolder, false)) {
    result.errorId = id;
    return result;
  }
  std::vector<JobInput> inputs = listInputs(list);
  result.selected = static_cast<qsizetype>(inputs.size());
  JobRun run(context);
  run.kind = list.kind();
  run.archivePath = list.kind() == SourceKind::Folder ? QString() : list.inputPath();
  previewInputs(context, inputs, jobOutputFolder(context.settings, outputFolder), run, rows);
  return result;
}

JobResult previewPathJob(JobContext& context, const QStringList& paths, const QString& outputFolder,
                         std::vector<PreviewRow>& rows) {
  return previewInputsJob(context, withoutDuplicates(pathInputs(paths)), outputFolder, rows);
}

JobResult previewSourcesJob(JobContext& context, const std::vector<JobSource>& sources,
                            const QString& outputFolder, std::vector<PreviewRow>& rows) {
  return previewInputsJob(context, withoutDuplicates(sourceInputs(sources)), outputFolder, rows);
}

}  // namespace velorin
