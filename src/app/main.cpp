// velorin: the batch image converter. `velorin --convert` runs a job without a display.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <thread>
#include <algorithm>
#include <cstdio>

#include "app/window_mode.h"
#include "engine/archive_members.h"
#include "engine/file_list.h"
#include "engine/input_paths.h"
#include "engine/job.h"
#include "engine/job_setup.h"
#include "engine/language.h"
#include "engine/memory_budget.h"
#include "engine/pipeline.h"
#include "imaging/image.h"
#include "platform/huge_pages.h"
#include "platform/paths.h"
#include "platform/terminal.h"
#include "settings/run_settings.h"
#include "sources/plugin_host.h"

namespace {

const char kUsage[] =
    "Usage: velorin --convert [options] PATH...\n"
    "\n"
    "Converts image files without a window, with the settings of the window's settings file\n"
    "(read, never written). A single folder is converted as a file list (its image files, chosen\n"
    "by the input format setting IFmt); several paths are converted one after the other, folders\n"
    "among them replaced by their image files. A single ZIP or RAR archive, or an archive an\n"
    "archive plug-in reads (SPI: the plug-in folder), is converted as the list of its image\n"
    "members; a password a RAR member needs is asked for on the terminal.\n"
    "Outputs are named by the naming settings (NameSet, TopStr, EndStr, ...) and never overwrite an\n"
    "existing file: a taken name gets \"+1\", \"+2\", ... before its extension.\n"
    "\n"
    "Options:\n"
    "  -o DIR           output folder (default: the folder converted, or the first file's or\n"
    "                   archive's folder)\n"
    "  --set KEY=VALUE  change one conversion setting by its key, for example --set OFmt=0 (BMP),\n"
    "                   --set Quality=85, --set RszOpt=3 --set RszSize=800, --set NameSet=2;\n"
    "                   also Hidden (0 lists dot files too), FileBg, SPI and SdToPath\n"
    "  --preset N       start from the stored preset N (1 to 5); --set options still apply\n"
    "  --settings FILE  read the settings from FILE instead of the usual settings file\n"
    "  --jobs N         convert N files at once (default: one per processor); the outputs, their\n"
    "                   names and the order of the reports are the same as with --jobs 1\n"
    "  --memory-limit SIZE  hold at most SIZE bytes (K, M, G: powers of 1024) of decoded pictures at\n"
    "                   once (default: half the physical memory); a file needing more fails\n"
    "  --dry-run        print \"source -> output\" for every file and write nothing\n"
    "  --quiet          print nothing but errors\n"
    "  --help           show this text\n"
    "\n"
    "Progress is shown on standard error when it is a terminal. Ctrl-C (or SIGTERM, SIGHUP) stops\n"
    "after the files being converted (a second one ends the program at once).\n"
    "\n"
    "Without --convert, PATH... are converted the same way when the setting SdToCvt is on, into\n"
    "SdToPath (or the first file's folder).\n"
    "\n"
    "Exit status: 0 when every file converted, 1 when some failed or the job was stopped, 2 for an\n"
    "error that kept the job from running.\n";

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
};

// The job's host on a terminal: progress on standard error, messages as text.
class HeadlessHost : public velorin::JobHost {
 public:
  explicit HeadlessHost(bool quiet) : quiet_(quiet), drawProgress_(!quiet && velorin::standardErrorIsTerminal()) {}

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
    if (report.converted) return;
    clearProgressLine();
    const QByteArray source = QFile::encodeName(report.source);
    if (report.step[0])
      std::fprintf(stderr, "velorin: %s: %s\n", source.constData(),
                   std::string_view(report.step) == "name" ? "no free output name" : "cannot write the output");
    else
      std::fprintf(stderr, "velorin: %s: %s\n", source.constData(), velorin::failureText(report.failure).c_str());
  }

  const QString& title() const { return title_; }

 private:
  void clearProgressLine() {
    if (drawProgress_) std::fputs("\r\033[K", stderr);
  }

  bool quiet_;
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
  std::fprintf(stderr, "velorin: %s\n\n%s", qPrintable(message), kUsage);
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
  HeadlessHost host(options.quiet);
  velorin::JobContext context{host, language, options.settings, options.jobOptions};
  // A single folder or archive is a list job over its files or members.
  const bool listJob = existing.size() == 1 && velorin::isListSource(existing[0].kind);
  const QString listInput = existing[0].path;
  const QString outputFolder = !options.outputFolder.isEmpty()
                                   ? options.outputFolder
                                   : velorin::defaultOutputFolder(existing, options.SdToPath);

  archives.askPassword = [&host](QString& password) { return host.askPassword(password); };
  velorin::FileList list;
  list.setMemberLister(velorin::memberListerFor(archives));
  QStringList paths;
  if (listJob) {
    list.setInputPath(listInput, listOptions);
  } else {
    for (const velorin::ClassifiedInput& input : existing)
      paths << (input.kind == velorin::InputKind::Folder ? velorin::imageFilesOfFolder(input.path, listOptions)
                                                         : QStringList{input.path});
  }

  if (options.dryRun) {
    std::vector<velorin::PreviewRow> rows;
    const velorin::JobResult result =
        listJob ? velorin::previewListJob(context, list, listInput, outputFolder, rows)
                : velorin::previewPathJob(context, paths, outputFolder, rows);
    for (const velorin::PreviewRow& row : rows)
      std::printf("%s -> %s\n", QFile::encodeName(row.source).constData(),
                  QFile::encodeName(row.output).constData());
    if (result.errorId != 0) return 2;
    return someInputsMissing || static_cast<qsizetype>(rows.size()) < result.selected ? 1 : 0;
  }

  velorin::installInterruptHandler(kInterruptNote);
  const velorin::JobResult result = listJob ? velorin::runListJob(context, list, listInput, outputFolder)
                                            : velorin::runPathJob(context, paths, outputFolder);
  if (result.errorId == 0 && !options.jobOptions.EndMes && !options.quiet)
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
  const QStringList args = QCoreApplication::arguments();
  Options options;
  bool convert = false;
  int preset = 0;
  int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  QString settingsFile;
  QStringList sets;
  for (qsizetype i = 1; i < args.size(); ++i) {
    const QString& arg = args[i];
    if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == QLatin1String("--convert")) {
      convert = true;
    } else if (arg == QLatin1String("--quiet")) {
      options.quiet = true;
    } else if (arg == QLatin1String("--dry-run")) {
      options.dryRun = true;
    } else if (arg == QLatin1String("--jobs") || arg == QLatin1String("-j")) {
      bool ok = false;
      if (++i < args.size()) jobs = args[i].toInt(&ok);
      if (!ok || jobs < 1 || jobs > 256) return usageError(QStringLiteral("--jobs needs a number from 1 to 256"));
    } else if (arg == QLatin1String("--memory-limit")) {
      int64_t bytes = 0;
      if (++i >= args.size() || !velorin::parseByteSize(args[i].toStdString(), bytes))
        return usageError(QStringLiteral("--memory-limit needs a size such as 2G, 512M or 100000000"));
      velorin::setMemoryBudget(bytes);
    } else if (arg == QLatin1String("-o")) {
      if (++i >= args.size()) return usageError(QStringLiteral("-o needs a folder"));
      options.outputFolder = args[i];
    } else if (arg == QLatin1String("--preset")) {
      bool ok = false;
      if (++i < args.size()) preset = args[i].toInt(&ok);
      if (!ok || preset < 1 || preset > 5) return usageError(QStringLiteral("--preset needs a number from 1 to 5"));
    } else if (arg == QLatin1String("--settings")) {
      if (++i >= args.size()) return usageError(QStringLiteral("--settings needs a file"));
      settingsFile = args[i];
    } else if (arg == QLatin1String("--set")) {
      if (++i >= args.size()) return usageError(QStringLiteral("--set needs KEY=VALUE"));
      sets << args[i];  // applied after the preset, whatever the order on the command line
    } else if (arg == QLatin1String("--")) {
      options.inputs << args.mid(i + 1);
      break;
    } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
      return usageError(QStringLiteral("unknown option: ") + arg);
    } else {
      options.inputs << arg;
    }
  }
  // The settings file first, then the preset, then the conversion settings named by --set; the
  // application settings a job reads can be named by --set too.
  velorin::RunSettingsOptions runOptions;
  runOptions.settingsFile = settingsFile;
  runOptions.preset = preset;
  QStringList applicationSets;
  for (const QString& set : sets) {
    const qsizetype equals = set.indexOf(QLatin1Char('='));
    bool valid = true;
    Options probe;
    if (equals > 0 && setApplicationOption(probe, set.left(equals), set.mid(equals + 1), valid)) {
      if (!valid) return usageError(QStringLiteral("unknown setting or bad value: ") + set);
      applicationSets << set;
    } else {
      runOptions.assignments << set;
    }
  }
  velorin::RunSettings run;
  QString message;
  if (!velorin::prepareRunSettings(QCoreApplication::applicationFilePath(), runOptions, run, message)) {
    std::fprintf(stderr, "velorin: %s\n", qPrintable(message));
    return 2;
  }
  const velorin::ApplicationSettings& application = run.stored.application;
  options.settings = run.stored.conversion;
  options.LangFile = application.LangFile;
  options.SdToPath = application.SdToPath;
  options.jobOptions = velorin::jobOptionsFrom(application);
  options.jobOptions.jobs = jobs;
  for (const QString& set : applicationSets) {
    bool valid = true;
    const qsizetype equals = set.indexOf(QLatin1Char('='));
    setApplicationOption(options, set.left(equals), set.mid(equals + 1), valid);
  }
  // A --set SPI= that empties the folder falls back to the shipped plug-ins, as the settings do.
  options.jobOptions.SPI = velorin::pluginFolderInUse(options.jobOptions.SPI);

  if (!convert) {
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
