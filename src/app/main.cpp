// velorin: the batch image converter. `velorin --convert` runs a job without a display.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <thread>
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/command_line.h"
#include "app/window_mode.h"
#include "engine/archive_members.h"
#include "engine/file_list.h"
#include "engine/input_paths.h"
#include "engine/job.h"
#include "engine/job_setup.h"
#include "engine/language.h"
#include "engine/memory_budget.h"
#include "engine/naming.h"
#include "engine/pipeline.h"
#include "imaging/image.h"
#include "platform/huge_pages.h"
#include "platform/paths.h"
#include "platform/terminal.h"
#include "settings/run_settings.h"
#include "sources/plugin_host.h"

namespace {

const char kInterruptNote[] = "\nvelorin: stopping after the files being converted\n";

struct Options {
  velorin::ConversionSettings settings;
  velorin::JobOptions jobOptions;
  QString outputFolder;
  QString SdToPath;  // the command-line output folder of the settings file
  QString LangFile;  // the language the settings file names
  QStringList inputs;
  bool dryRun = false;
  bool quiet = false;
  bool verbose = false;
  bool makeOutputFolder = false;
  bool recursive = false;
};

// The job's host on a terminal: progress on standard error, messages as text.
class HeadlessHost : public velorin::JobHost {
 public:
  HeadlessHost(bool quiet, bool verbose) : quiet_(quiet), verbose_(verbose), drawProgress_(!quiet && velorin::standardErrorIsTerminal()) {}

  void setProgressRange(qsizetype maximum) override { maximum_ = maximum; }
  void setProgressPosition(qsizetype position) override {
    if (!drawProgress_) return;
    if (position == 0) {
      std::fputs("\r\033[K", stderr);
      return;
    }
    constexpr int kWidth = 30;
    const int filled = maximum_ > 0 ? static_cast<int>(position * kWidth / maximum_) : kWidth;
    std::fprintf(stderr, "\r[%.*s%*s] %lld/%lld", filled, "##############################",
                 kWidth - filled, "", static_cast<long long>(position), static_cast<long long>(maximum_));
    std::fflush(stderr);
  }
  void setTitle(const QString& title) override { title_ = title; }
  void setCommandsEnabled(bool, const QString&) override {}
  bool showMessage(const velorin::JobMessage& message) override {
    switch (message.icon) {
      case velorin::MessageIcon::Error:
        clearProgressLine();
        std::fprintf(stderr, "velorin: %s\n", qPrintable(message.text));
        return true;
      case velorin::MessageIcon::Question:
        return true;  // the only question is whether to stop after Ctrl-C: yes
      case velorin::MessageIcon::Information:
        if (!quiet_) std::printf("%s\n", qPrintable(message.text));
        return true;
    }
    return true;
  }
  bool cancelRequested() override { return velorin::interruptRequested(); }
  // Asked on the terminal without echo; without a terminal to ask on, the member fails.
  bool askPassword(QString& password) override {
    if (!velorin::standardInputIsTerminal()) return false;
    clearProgressLine();
    std::fputs("Password: ", stderr);
    std::fflush(stderr);
    QByteArray text;
    const bool typed = velorin::readLineWithoutEcho(text);
    std::fputs("\n", stderr);
    if (!typed) return false;
    password = QString::fromLocal8Bit(text);
    return true;
  }
  void entryFinished(const velorin::EntryReport& report) override {
    const QByteArray source = QFile::encodeName(report.source);
    if (const QString damaged = velorin::damagedSourceText(report); !damaged.isEmpty()) {
      clearProgressLine();
      std::fprintf(stderr, "velorin: %s\n", QFile::encodeName(damaged).constData());
    }
    if (report.converted) {
      if (!verbose_) return;
      clearProgressLine();
      std::printf("%s -> %s%s\n", source.constData(), QFile::encodeName(report.outputPath).constData(),
                  report.skipped ? " (exists, skipped)" : "");
      return;
    }
    clearProgressLine();
    if (const QString refused = velorin::refusedNameText(report); !refused.isEmpty()) {
      std::fprintf(stderr, "velorin: %s\n", QFile::encodeName(refused).constData());
      return;
    }
    const std::string_view step = report.step;
    const char* what = step == "name"             ? "no free output name"
                       : step == "own source"     ? "the output would replace its source; only --lossless may"
                       : step == "damaged source" ? "the source is damaged, so its output does not replace it"
                       : step == "folder name"    ? "its folder cannot be made inside the output folder"
                       : step == "folder taken"   ? "its output folder's name is taken by a file or a link"
                       : step == "folder"         ? "cannot create its output folder"
                       : step.empty()             ? nullptr
                                                  : "cannot write the output";
    if (what && report.systemError)
      std::fprintf(stderr, "velorin: %s: %s: %s\n", source.constData(), what, std::strerror(report.systemError));
    else if (what)
      std::fprintf(stderr, "velorin: %s: %s\n", source.constData(), what);
    else
      std::fprintf(stderr, "velorin: %s: %s\n", source.constData(), velorin::failureText(report.failure).c_str());
  }

  const QString& title() const { return title_; }

 private:
  void clearProgressLine() {
    if (drawProgress_) std::fputs("\r\033[K", stderr);
  }

  bool quiet_;
  bool verbose_;
  bool drawProgress_;
  qsizetype maximum_ = 0;
  QString title_;
};

// --set KEY=VALUE for the application settings a job reads; false when KEY is not one of them.
bool setApplicationOption(Options& options, const QString& key, const QString& value, bool& valid) {
  auto is = [&](const char* name) { return key.compare(QLatin1String(name), Qt::CaseInsensitive) == 0; };
  valid = true;
  if (is("Hidden")) options.jobOptions.Hidden = value.toUInt(&valid);
  else if (is("FileBg")) options.jobOptions.FileBg = (value.toInt(&valid) & 1) != 0;
  else if (is("SPI")) options.jobOptions.SPI = value;
  else if (is("SdToPath")) options.SdToPath = value;
  else return false;
  return true;
}

int usageError(const QString& message) {
  std::fprintf(stderr, "velorin: %s\nTry 'velorin --help'.\n", qPrintable(message));
  return 2;
}

int exitStatusOf(const velorin::JobResult& result, bool someInputsMissing) {
  if (result.errorId != 0) return 2;
  if (someInputsMissing || result.tagListFailed || result.cancelled || result.converted < result.selected)
    return 1;
  return 0;
}

int runConvert(Options& options) {
  velorin::LanguageModule language;
  QString langFile = options.LangFile;
  if (!velorin::loadLanguageModule(language, langFile, velorin::languageFolder(velorin::programFolder()),
                                   velorin::userInterfaceLanguageId())) {
    std::fprintf(stderr, "velorin: %s\n", velorin::kLanguageFileMissingMessage);
    return 2;
  }
  velorin::ArchiveAccess archives = velorin::archiveAccessFor(options.jobOptions);
  const velorin::ListOptions listOptions =
      velorin::listOptionsFor(options.settings, options.jobOptions, archives);

  bool someInputsMissing = false;
  std::vector<velorin::ClassifiedInput> existing;
  for (velorin::ClassifiedInput& input : velorin::classifyInputs(options.inputs, archives)) {
    if (input.kind != velorin::InputKind::Missing) {
      existing.push_back(std::move(input));
    } else {
      std::fprintf(stderr, "velorin: %s\n", qPrintable(velorin::inputMissingText(language, input.path)));
      someInputsMissing = true;
    }
  }
  if (existing.empty()) return 2;

  // A terminal gets the one-line form of the end report, the one the window shows in its title.
  options.jobOptions.EndMes = false;
  HeadlessHost host(options.quiet, options.verbose);
  velorin::JobContext context{host, language, options.settings, options.jobOptions};
  if (options.makeOutputFolder && !options.outputFolder.isEmpty() && !QFileInfo(options.outputFolder).isDir() &&
      !QDir().mkpath(options.outputFolder)) {
    std::fprintf(stderr, "velorin: %s: cannot create the output folder: %s\n",
                 QFile::encodeName(options.outputFolder).constData(), std::strerror(errno));
    return 2;
  }
  // A single folder or archive is a list job over its files or members; anything else, or a walk
  // through sub-folders, one job over every file and member.
  const bool listJob = !options.recursive && existing.size() == 1 && velorin::isListSource(existing[0].kind);
  const QString listInput = existing[0].path;
  const QString outputFolder = !options.outputFolder.isEmpty()
                                   ? options.outputFolder
                                   : velorin::defaultOutputFolder(existing, options.SdToPath);

  archives.askPassword = [&host](QString& password) { return host.askPassword(password); };
  velorin::FileList list;
  list.setMemberLister(velorin::memberListerFor(archives));
  velorin::CollectedSources collected;
  if (listJob) list.setInputPath(listInput, listOptions);
  // A single archive is listed by its list alone: a RAR listing may ask for a password.
  if (!listJob || existing[0].kind == velorin::InputKind::Folder) {
    const velorin::ConversionSettings& s = options.settings;
    const QStringList outputs{outputFolder, s.MkDirAdd ? velorin::joinPath(outputFolder, s.MkDirStr) : outputFolder};
    collected = velorin::collectJobSources(existing, listOptions, archives, options.recursive, outputs);
    for (const QString& archive : collected.unreadableArchives) {
      std::fprintf(stderr, "velorin: %s: cannot read the archive\n", QFile::encodeName(archive).constData());
      someInputsMissing = true;
    }
  }
  if (collected.skippedFolders > 0 && !options.quiet)
    std::fprintf(stderr, "velorin: %lld sub-folder%s skipped; -r converts them too\n",
                 static_cast<long long>(collected.skippedFolders), collected.skippedFolders == 1 ? "" : "s");

  if (options.dryRun) {
    std::vector<velorin::PreviewRow> rows;
    const velorin::JobResult result =
        listJob ? velorin::previewListJob(context, list, listInput, outputFolder, rows)
                : velorin::previewSourcesJob(context, collected.sources, outputFolder, rows);
    // The names as the run's -v reports them.
    for (const velorin::PreviewRow& row : rows)
      std::printf("%s -> %s\n", QFile::encodeName(row.display).constData(),
                  QFile::encodeName(row.outputPath).constData());
    if (result.errorId != 0) return 2;
    return someInputsMissing || static_cast<qsizetype>(rows.size()) < result.selected ? 1 : 0;
  }

  velorin::installInterruptHandler(kInterruptNote);
  const velorin::JobResult result = listJob ? velorin::runListJob(context, list, listInput, outputFolder)
                                            : velorin::runSourcesJob(context, collected.sources, outputFolder);
  const bool everyFile = result.converted == result.selected && !result.cancelled && !someInputsMissing;
  const bool summary = options.verbose || !everyFile || velorin::standardErrorIsTerminal();
  if (result.errorId == 0 && !options.jobOptions.EndMes && !options.quiet && summary)
    std::printf("%s\n", qPrintable(host.title()));
  return exitStatusOf(result, someInputsMissing);
}

}  // namespace

int main(int argc, char** argv) {
  // Decoded photographs are tens of megabytes; huge pages spare their first touch most faults,
  // and blocks of one file are reused for the next.
  velorin::setLargeBlockAllocator(&velorin::allocateHugePageBlock, &velorin::releaseHugePageBlock);
  velorin::keepFreedHeapBlocks();
  if (velorin::wantsWindow(argc, argv)) return velorin::runWindowMode(argc, argv);
  QCoreApplication app(argc, argv);
  velorin::CommandLine line;
  QString error;
  if (!velorin::parseCommandLine(QCoreApplication::arguments(), line, error)) return usageError(error);
  if (line.help) {
    std::fputs(qPrintable(velorin::helpText()), stdout);
    return 0;
  }
  if (line.version) {
    std::fputs(qPrintable(velorin::versionText()), stdout);
    return 0;
  }
  Options options;
  options.quiet = line.quiet;
  options.verbose = line.verbose && !line.quiet;
  options.dryRun = line.dryRun;
  options.makeOutputFolder = line.makeOutputFolder;
  options.recursive = line.recursive;
  options.outputFolder = line.outputFolder;
  options.inputs = line.inputs;
  if (line.memoryLimit > 0) velorin::setMemoryBudget(line.memoryLimit);
  const int jobs = line.jobs > 0 ? line.jobs : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  QStringList sets = line.namedAssignments;
  for (const QString& set : line.setAssignments) {
    QString correction;
    if (!velorin::checkSetAssignment(set, correction, error)) return usageError(error);
    if (!correction.isEmpty())
      std::fprintf(stderr, "velorin: --set %s: corrected to %s\n", qPrintable(set), qPrintable(correction));
    sets << set;
  }
  // The settings file first, then the preset, then the conversion settings named by --set; the
  // application settings a job reads can be named by --set too.
  velorin::RunSettingsOptions runOptions;
  runOptions.settingsFile = line.settingsFile;
  runOptions.preset = line.preset;
  runOptions.assignments = sets;
  const QStringList& applicationSets = line.applicationAssignments;
  velorin::RunSettings run;
  QString message;
  if (!velorin::prepareRunSettings(QCoreApplication::applicationFilePath(), runOptions, run, message)) {
    std::fprintf(stderr, "velorin: %s\n", qPrintable(message));
    return 2;
  }
  if (!run.warning.isEmpty()) std::fprintf(stderr, "velorin: %s\n", QFile::encodeName(run.warning).constData());
  const velorin::ApplicationSettings& application = run.stored.application;
  options.settings = run.stored.conversion;
  options.LangFile = application.LangFile;
  options.SdToPath = application.SdToPath;
  options.jobOptions = velorin::jobOptionsFrom(application);
  options.jobOptions.jobs = jobs;
  options.jobOptions.takenName = line.takenName;
  for (const QString& set : applicationSets) {
    bool valid = true;
    const qsizetype equals = set.indexOf(QLatin1Char('='));
    setApplicationOption(options, set.left(equals), set.mid(equals + 1), valid);
  }
  // A --set SPI= that empties the folder falls back to the shipped plug-ins, as the settings do.
  options.jobOptions.SPI = velorin::pluginFolderInUse(options.jobOptions.SPI);
  if (line.listSettings) {
    for (const QString& text : velorin::settingsListing(options.settings, options.jobOptions, options.SdToPath, line.verbose))
      std::printf("%s\n", qPrintable(text));
    return 0;
  }
  if (!line.filesFrom.isEmpty()) {
    QFile list;
    const bool opened = line.filesFrom == QLatin1String("-") ? list.open(stdin, QIODevice::ReadOnly)
                                                             : (list.setFileName(line.filesFrom), list.open(QIODevice::ReadOnly));
    if (!opened) {
      std::fprintf(stderr, "velorin: %s: %s\n", QFile::encodeName(line.filesFrom).constData(), qPrintable(list.errorString()));
      return 2;
    }
    for (const QByteArray& name : list.readAll().split(line.nullSeparated ? '\0' : '\n'))
      if (!name.isEmpty()) options.inputs << QFile::decodeName(name);
  }

  if (!line.convert) {
    // Without a window the program can only act on the command line's convert mode (SdToCvt).
    const velorin::CommandLinePlan plan =
        velorin::handleCommandLine(options.inputs, application.SdToCvt, options.SdToPath);
    if (plan.mode != velorin::CommandLinePlan::Mode::Convert)
      return usageError(QStringLiteral("the window is not available; use --convert"));
    options.inputs = plan.convertPaths;
    options.outputFolder = plan.outputFolder;
  }
  if (options.inputs.isEmpty()) return usageError(QStringLiteral("no input files"));
  return runConvert(options);
}
