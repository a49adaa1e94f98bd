// velorin: the batch image converter. `velorin --convert` runs a job without a display.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>

#include "engine/pipeline.h"
#include "platform/files.h"

namespace {

const char kUsage[] =
    "Usage: velorin --convert [options] FILE...\n"
    "\n"
    "Converts each FILE with the conversion settings and writes the result into the output\n"
    "folder under the file's own name with the output format's extension.\n"
    "\n"
    "Options:\n"
    "  -o DIR           output folder (default: the current folder)\n"
    "  --set KEY=VALUE  change one conversion setting, for example --set OFmt=0 (BMP),\n"
    "                   --set DepOpt=1 (full colour), --set Quality=85\n"
    "  --quiet          print nothing but errors\n"
    "  --help           show this text\n"
    "\n"
    "Exit status: 0 when every file converted, 1 when some failed, 2 for a job-level error.\n";

struct Options {
  velorin::ConversionSettings settings;
  QString outputFolder = QStringLiteral(".");
  QStringList inputs;
  bool quiet = false;
};

int usageError(const QString& message) {
  std::fprintf(stderr, "velorin: %s\n\n%s", qPrintable(message), kUsage);
  return 2;
}

int runConvert(const Options& options) {
  if (!QFileInfo(options.outputFolder).isDir()) {
    std::fprintf(stderr, "velorin: the output folder does not exist: %s\n",
                 qPrintable(options.outputFolder));
    return 2;
  }
  auto workspace = velorin::createJobWorkspace(options.settings);
  if (!workspace) {
    std::fprintf(stderr, "velorin: out of memory\n");
    return 2;
  }
  int converted = 0;
  for (const QString& input : options.inputs) {
    QString temporary;
    bool ok = velorin::convertFile(*workspace, nullptr, input, temporary);
    if (ok) {
      const QString target = QDir(options.outputFolder)
                                 .filePath(QFileInfo(input).completeBaseName() + workspace->plan.extension);
      ok = velorin::copyFileReplacing(temporary, target);
      velorin::removeFile(temporary);
      if (!ok) std::fprintf(stderr, "velorin: %s: cannot write %s\n", qPrintable(input), qPrintable(target));
    } else {
      std::fprintf(stderr, "velorin: %s: %s failed: %s\n", qPrintable(input), workspace->failure.stage,
                   velorin::statusText(workspace->failure.status));
    }
    if (ok) ++converted;
  }
  if (!options.quiet)
    std::printf("converted %d of %lld\n", converted, static_cast<long long>(options.inputs.size()));
  return converted == options.inputs.size() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = QCoreApplication::arguments();
  Options options;
  bool convert = false;
  for (qsizetype i = 1; i < args.size(); ++i) {
    const QString& arg = args[i];
    if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == QLatin1String("--convert")) {
      convert = true;
    } else if (arg == QLatin1String("--quiet")) {
      options.quiet = true;
    } else if (arg == QLatin1String("-o")) {
      if (++i >= args.size()) return usageError(QStringLiteral("-o needs a folder"));
      options.outputFolder = args[i];
    } else if (arg == QLatin1String("--set")) {
      if (++i >= args.size()) return usageError(QStringLiteral("--set needs KEY=VALUE"));
      const qsizetype equals = args[i].indexOf(QLatin1Char('='));
      if (equals < 1 || !velorin::setSettingFromText(options.settings, args[i].left(equals),
                                                     args[i].mid(equals + 1)))
        return usageError(QStringLiteral("unknown setting or bad value: ") + args[i]);
    } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
      return usageError(QStringLiteral("unknown option: ") + arg);
    } else {
      options.inputs << arg;
    }
  }
  if (!convert) return usageError(QStringLiteral("the window is not available yet; use --convert"));
  if (options.inputs.isEmpty()) return usageError(QStringLiteral("no input files"));
  velorin::applyRangeCorrections(options.settings);
  return runConvert(options);
}
