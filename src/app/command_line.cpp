#include "app/command_line.h"

#include "engine/memory_budget.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <archive.h>
#include <jconfig.h>
#include <zlib.h>

#include <limits>

namespace velorin {

namespace {

enum class TextRule { None, NameText, SubFolder, Comment };

// One named option: a plain front for the settings keys it names. A value goes to key, checked
// against choices ("word=value,...") or the range minimum..maximum; also is set with it.
struct NamedOption {
  const char* names;      // "f,format"
  const char* valueName;  // null for a switch
  const char* help;
  const char* key;
  const char* choices;
  int minimum, maximum;
  const char* also;       // "RszOpt=3,..."
  TextRule text;
};

const NamedOption kNamedOptions[] = {
    {"f,format", "FMT", "output format: bmp, png, jpeg, tiff, gif", "OFmt", "bmp=0,png=1,jpeg=2,tiff=3,gif=4", 0, 0, "", TextRule::None},
    {"quality", "N", "JPEG quality, 1 to 100", "Quality", nullptr, 1, 100, "", TextRule::None},
    {"jpeg-sampling", "S", "JPEG chroma sampling: standard, high", "Sampling", "standard=0,high=2", 0, 0, "", TextRule::None},
    {"progressive", nullptr, "progressive JPEG", nullptr, nullptr, 0, 0, "Progressive=1", TextRule::None},
    {"max-size", "KB", "keep JPEG files within KB kilobytes, 1 to 32767", "LmtVal", nullptr, 1, 32767, "Limit=1", TextRule::None},
    {"png-level", "N", "PNG compression level, 0 to 9", "Level", nullptr, 0, 9, "", TextRule::None},
    {"interlace", nullptr, "interlaced PNG and GIF", nullptr, nullptr, 0, 0, "Interlace=1", TextRule::None},
    {"transparency", nullptr, "keep the transparent colour", nullptr, nullptr, 0, 0, "Trans=1", TextRule::None},
    {"colors", "N", "colours: 256, 16, 4, 2", "DepOpt", "256=2,16=3,4=4,2=5", 0, 0, "", TextRule::None},
    {"grey", nullptr, "256 greys", nullptr, nullptr, 0, 0, "DepOpt=6", TextRule::None},
    {"full-colour", nullptr, "full colour (24 bits)", nullptr, nullptr, 0, 0, "DepOpt=1", TextRule::None},
    {"dither", nullptr, "dither when reducing colours", nullptr, nullptr, 0, 0, "Dither=1", TextRule::None},
    {"comment", "TEXT", "comment written into PNG and JPEG files", "CmtStr1", nullptr, 0, 0, "CmtOpt=1", TextRule::Comment},
    {"resize", "N", "reduce the longer side to N pixels, 1 to 65535", "RszSize", nullptr, 1, 65535, "RszOpt=3", TextRule::None},
    {"width", "N", "reduce the width to N pixels, 1 to 65535", "RszSize", nullptr, 1, 65535, "RszOpt=1", TextRule::None},
    {"height", "N", "reduce the height to N pixels, 1 to 65535", "RszSize", nullptr, 1, 65535, "RszOpt=2", TextRule::None},
    {"round10", nullptr, "round the derived side to tens", nullptr, nullptr, 0, 0, "Round10=1", TextRule::None},
    {"rotate", "R", "turn: 90, 180, 270, auto (EXIF)", "TurOpt", "90=1,180=2,270=3,auto=4", 0, 0, "", TextRule::None},
    {"lossless", nullptr, "turn JPEG files without decoding them", nullptr, nullptr, 0, 0, "JTrans=1", TextRule::None},
    {"markers", "M", "markers the lossless route copies: all, comments, none", "Marker", "all=2,comments=1,none=0", 0, 0, "", TextRule::None},
    {"keep-exif", nullptr, "copy EXIF into JPEG outputs", nullptr, nullptr, 0, 0, "CopyExif=1", TextRule::None},
    {"sharpen", "S", "sharpen: light, medium, strong", "UsmOpt", "light=1,medium=2,strong=3", 0, 0, "", TextRule::None},
    {"levels", nullptr, "automatic levels", nullptr, nullptr, 0, 0, "HgmOpt=1", TextRule::None},
    {"gamma", "N", "gamma, -100 to 100", "GamVal", nullptr, -100, 100, "GamOpt=1", TextRule::None},
    {"contrast", "N", "contrast, -100 to 100", "CrtVal", nullptr, -100, 100, "CrtOpt=1", TextRule::None},
    {"saturation", "N", "saturation, -255 to 255", "HlsSVal", nullptr, -255, 255, "HlsSOpt=1", TextRule::None},
    {"hue", "N", "hue shift, -180 to 180", "HlsHVal", nullptr, -180, 180, "HlsHOpt=1", TextRule::None},
    {"name", "N", "output names from: source, date, serial", "NameSet", "source=0,date=1,serial=2", 0, 0, "", TextRule::None},
    {"digits", "N", "digits of the serial number, 1 to 5", "DigitNum", nullptr, 1, 5, "", TextRule::None},
    {"start", "N", "first serial number, 0 to 9999", "StartNum", nullptr, 0, 9999, "", TextRule::None},
    {"prefix", "TEXT", "text in front of each name", "TopStr", nullptr, 0, 0, "TopAdd=1", TextRule::NameText},
    {"suffix", "TEXT", "text behind each name", "EndStr", nullptr, 0, 0, "EndAdd=1", TextRule::NameText},
    {"subfolder", "NAME", "write into this sub-folder of the output folder", "MkDirStr", nullptr, 0, 0, "MkDirAdd=1", TextRule::SubFolder},
    {"keep-times", nullptr, "give outputs the source's last-write time", nullptr, nullptr, 0, 0, "WrTimeCopy=1", TextRule::None},
    {"delete-sources", nullptr, "delete each source once its output is on disk", nullptr, nullptr, 0, 0, "IFileDel=1,Recycle=0", TextRule::None},
    {"trash-sources", nullptr, "move each source to the trash once its output is on disk", nullptr, nullptr, 0, 0, "IFileDel=1,Recycle=1", TextRule::None},
    {"tag-list", nullptr, "write an HTML tag list into the output folder", nullptr, nullptr, 0, 0, "HtmlTag=1", TextRule::None},
    {"input-format", "FMT", "files a folder gives: all, bmp, png, jpeg, tiff, gif", "IFmt", "all=0,bmp=1,png=2,jpeg=3,tiff=4,gif=5", 0, 0, "", TextRule::None},
};

constexpr int kNameTextLength = 23;

bool parseNumber(const QString& text, int& number) {
  static const QRegularExpression shape(QStringLiteral("^[+-]?[0-9]{1,9}$"));
  if (!shape.match(text).hasMatch()) return false;
  number = text.toInt();
  return true;
}

QString choiceWords(const char* choices) {
  QStringList words;
  for (const QString& pair : QString::fromLatin1(choices).split(QLatin1Char(',')))
    words << pair.section(QLatin1Char('='), 0, 0);
  return words.join(QStringLiteral(", "));
}

// The assignments one named option gives for value; false with a message for a bad value.
bool namedAssignments(const NamedOption& option, const QString& value, QStringList& out, QString& error) {
  const QString name = QStringLiteral("--") + QString::fromLatin1(option.names).section(QLatin1Char(','), -1);
  if (option.key) {
    QString setting;
    if (option.choices) {
      for (const QString& pair : QString::fromLatin1(option.choices).split(QLatin1Char(',')))
        if (pair.section(QLatin1Char('='), 0, 0) == value) setting = pair.section(QLatin1Char('='), 1);
      if (setting.isEmpty()) {
        error = QStringLiteral("%1: '%2' is not one of %3").arg(name, value, choiceWords(option.choices));
        return false;
      }
    } else if (option.text != TextRule::None) {
      const int limit = option.text == TextRule::Comment ? 4095 : kNameTextLength;
      const bool allowed = option.text == TextRule::SubFolder ? subFolderNameAllowed(value) && !value.isEmpty()
                           : option.text == TextRule::NameText ? nameTextAllowed(value)
                                                               : !value.contains(QChar(u'\0'));
      if (!allowed || value.size() > limit) {
        error = option.text == TextRule::Comment
                    ? QStringLiteral("%1: at most %2 characters").arg(name).arg(limit)
                    : QStringLiteral("%1: at most %2 characters, without '/'%3")
                          .arg(name)
                          .arg(limit)
                          .arg(option.text == TextRule::SubFolder ? QStringLiteral(", not empty, '.' or '..'") : QString());
        return false;
      }
      setting = value;
    } else {
      int number = 0;
      if (!parseNumber(value, number) || number < option.minimum || number > option.maximum) {
        error = QStringLiteral("%1: '%2' is not a number from %3 to %4").arg(name, value).arg(option.minimum).arg(option.maximum);
        return false;
      }
      setting = QString::number(number);
    }
    out << QString::fromLatin1(option.key) + QLatin1Char('=') + setting;
  }
  if (option.also[0]) out << QString::fromLatin1(option.also).split(QLatin1Char(','));
  return true;
}

QCommandLineOption option(const QString& names, const QString& help, const QString& valueName = {}) {
  return QCommandLineOption(names.split(QLatin1Char(',')), help, valueName);
}

}  // namespace

bool parseCommandLine(const QStringList& arguments, CommandLine& line, QString& error) {
  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
  parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
  const char* const switches[] = {"convert", "h,help", "version", "list-settings", "dry-run", "v,verbose",
                                  "q,quiet", "r,recursive", "mkdir", "0,null", "skip-existing", "overwrite",
                                  "include-hidden"};
  for (const char* names : switches) parser.addOption(option(QString::fromLatin1(names), {}));
  const char* const valued[][2] = {{"settings", "FILE"}, {"preset", "N"},       {"set", "KEY=VALUE"},
                                   {"j,jobs", "N"},      {"memory-limit", "SIZE"}, {"o", "DIR"},
                                   {"files-from", "FILE"}};
  for (const auto& pair : valued)
    parser.addOption(option(QString::fromLatin1(pair[0]), {}, QString::fromLatin1(pair[1])));
  for (const NamedOption& named : kNamedOptions)
    parser.addOption(option(QString::fromLatin1(named.names), {}, named.valueName ? QString::fromLatin1(named.valueName) : QString()));

  if (!parser.parse(arguments)) {
    error = parser.errorText();
    if (!parser.unknownOptionNames().isEmpty()) {
      const QString name = parser.unknownOptionNames().first();
      error = QStringLiteral("unknown option '%1%2'").arg(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), name);
    } else if (error.startsWith(QLatin1String("Missing value after '"))) {
      error = QStringLiteral("%1 needs a value").arg(error.section(QLatin1Char('\''), 1, 1));
    } else if (!error.isEmpty()) {
      error[0] = error[0].toLower();
      if (error.endsWith(QLatin1Char('.'))) error.chop(1);
    }
    return false;
  }
  auto is = [&](const char* name) { return parser.isSet(QString::fromLatin1(name)); };
  line.convert = is("convert");
  line.help = is("help");
  line.version = is("version");
  line.listSettings = is("list-settings");
  line.dryRun = is("dry-run");
  line.verbose = is("verbose");
  line.quiet = is("quiet");
  line.recursive = is("recursive");
  line.makeOutputFolder = is("mkdir");
  line.nullSeparated = is("null");
  if (is("skip-existing") && is("overwrite")) {
    error = QStringLiteral("--skip-existing and --overwrite exclude each other");
    return false;
  }
  line.takenName = is("skip-existing") ? TakenOutputName::Skip
                   : is("overwrite")   ? TakenOutputName::Replace
                                       : TakenOutputName::NextFree;
  int number = 0;
  if (is("preset")) {
    if (!parseNumber(parser.value(QStringLiteral("preset")), number) || number < 1 || number > 5) {
      error = QStringLiteral("--preset: '%1' is not a number from 1 to 5").arg(parser.value(QStringLiteral("preset")));
      return false;
    }
    line.preset = number;
  }
  if (is("jobs")) {
    if (!parseNumber(parser.value(QStringLiteral("jobs")), number) || number < 1 || number > 256) {
      error = QStringLiteral("--jobs: '%1' is not a number from 1 to 256").arg(parser.value(QStringLiteral("jobs")));
      return false;
    }
    line.jobs = number;
  }
  if (is("memory-limit") && !parseByteSize(parser.value(QStringLiteral("memory-limit")).toStdString(), line.memoryLimit)) {
    error = QStringLiteral("--memory-limit: '%1' is not a size in bytes (K, M or G may follow)")
                .arg(parser.value(QStringLiteral("memory-limit")));
    return false;
  }
  line.settingsFile = parser.value(QStringLiteral("settings"));
  line.outputFolder = parser.value(QStringLiteral("o"));
  line.filesFrom = parser.value(QStringLiteral("files-from"));
  if (is("o") && line.outputFolder.isEmpty()) {
    error = QStringLiteral("-o needs a folder");
    return false;
  }
  int resizeOptions = 0, deleteOptions = 0;
  for (const NamedOption& named : kNamedOptions) {
    const QString name = QString::fromLatin1(named.names).section(QLatin1Char(','), -1);
    if (!parser.isSet(name)) continue;
    resizeOptions += named.key && std::string_view(named.key) == "RszSize";
    deleteOptions += std::string_view(named.also).starts_with("IFileDel");
    const QStringList values = named.valueName ? parser.values(name) : QStringList{QString()};
    for (const QString& value : values)
      if (!namedAssignments(named, value, line.namedAssignments, error)) return false;
  }
  if (resizeOptions > 1 || deleteOptions > 1) {
    error = resizeOptions > 1 ? QStringLiteral("--resize, --width and --height exclude each other")
                              : QStringLiteral("--delete-sources and --trash-sources exclude each other");
    return false;
  }
  if (is("include-hidden")) line.applicationAssignments << QStringLiteral("Hidden=0");
  for (const QString& set : parser.values(QStringLiteral("set"))) {
    bool valid = true;
    if (isApplicationAssignment(set, valid)) {
      if (!valid) {
        error = QStringLiteral("--set %1: bad value").arg(set);
        return false;
      }
      line.applicationAssignments << set;
    } else {
      line.setAssignments << set;
    }
  }
  line.inputs = parser.positionalArguments();
  return true;
}

bool isApplicationAssignment(const QString& assignment, bool& valid) {
  const qsizetype equals = assignment.indexOf(QLatin1Char('='));
  if (equals < 1) return false;
  const QString key = assignment.left(equals), value = assignment.mid(equals + 1);
  auto is = [&](const char* name) { return key.compare(QLatin1String(name), Qt::CaseInsensitive) == 0; };
  int number = 0;
  if (is("Hidden") || is("FileBg")) valid = parseNumber(value, number) && number >= 0;
  else if (is("SPI") || is("SdToPath")) valid = true;
  else return false;
  return true;
}

bool checkSetAssignment(const QString& assignment, QString& correction, QString& error) {
  const qsizetype equals = assignment.indexOf(QLatin1Char('='));
  const SettingField* field = equals > 0 ? findSettingField(assignment.left(equals)) : nullptr;
  if (!field) {
    error = QStringLiteral("--set %1: unknown setting (velorin --list-settings shows them)").arg(assignment);
    return false;
  }
  ConversionSettings raw, corrected;
  if (!setSettingFromText(raw, assignment.left(equals), assignment.mid(equals + 1)) ||
      !applySettingAssignment(corrected, assignment)) {
    error = QStringLiteral("--set %1: bad value").arg(assignment);
    return false;
  }
  const QString asked = settingText(raw, *field), became = settingText(corrected, *field);
  correction = asked == became ? QString() : QString::fromLatin1(field->key) + QLatin1Char('=') + became;
  return true;
}

QString helpText() {
  QString text = QStringLiteral(
      "Usage: velorin --convert [OPTION]... PATH...\n"
      "Converts image files, folders and archives without a window, with the window's settings\n"
      "file (read, never written); the options below change this run only.\n"
      "\n"
      "  --convert            convert the paths given\n"
      "  -o DIR               output folder (default: the folder converted or the first file's)\n"
      "  --mkdir              create the output folder when it is missing\n"
      "  -r, --recursive      walk sub-folders too and recreate them under the output folder;\n"
      "                       archive members keep their folders\n"
      "  --files-from FILE    read more paths from FILE ('-': standard input), one a line\n"
      "  -0, --null           the paths of --files-from end in NUL instead\n"
      "  --skip-existing      write nothing where the output name is taken\n"
      "  --overwrite          replace taken output names (the source itself only with --lossless)\n"
      "  --include-hidden     take dot files and folders too\n"
      "  --settings FILE      read the settings from FILE\n"
      "  --preset N           start from the stored preset N (1 to 5)\n"
      "  --set KEY=VALUE      change one setting by its key, after the named options\n"
      "  --list-settings      print every setting of this run as Key=Value and exit\n"
      "  -j, --jobs N         convert N files at once (default: one per processor)\n"
      "  --memory-limit SIZE  memory the decoders may hold together (bytes, K, M or G)\n"
      "  --dry-run            print \"source -> output\" for every file and write nothing\n"
      "  -v, --verbose        print \"source -> output\" for every file and the summary\n"
      "  -q, --quiet          print nothing but errors\n"
      "  -h, --help           show this text;  --version  show the versions\n"
      "\n");
  for (const NamedOption& named : kNamedOptions) {
    const QString names = QString::fromLatin1(named.names);
    QString left = names.contains(QLatin1Char(','))
                       ? QStringLiteral("-%1, --%2").arg(names.section(QLatin1Char(','), 0, 0), names.section(QLatin1Char(','), 1))
                       : QStringLiteral("--") + names;
    if (named.valueName) left += QLatin1Char(' ') + QString::fromLatin1(named.valueName);
    if (std::string_view(named.names) == "input-format") continue;
    text += QStringLiteral("  %1 %2\n").arg(left, -20).arg(QString::fromLatin1(named.help));
  }
  text += QStringLiteral(
      "  --input-format FMT   files a folder gives: all, bmp, png, jpeg, tiff, gif\n"
      "\n"
      "Outputs never replace a file unless --overwrite is given: a taken name gets \"+1\", ...\n"
      "Ctrl-C stops, abandoning the files being converted; a second one ends at once.\n"
      "Exit status: 0 every file converted, 1 some failed or the run was stopped, 2 usage or job\n"
      "error.\n");
  return text;
}

QString versionText() {
  return QStringLiteral("velorin %1\nQt %2, libjpeg-turbo %3, zlib %4, %5\n")
      .arg(QStringLiteral(VELORIN_VERSION), QString::fromLatin1(qVersion()),
           QStringLiteral("%1.%2.%3")
               .arg(LIBJPEG_TURBO_VERSION_NUMBER / 1000000)
               .arg(LIBJPEG_TURBO_VERSION_NUMBER / 1000 % 1000)
               .arg(LIBJPEG_TURBO_VERSION_NUMBER % 1000), QString::fromLatin1(zlibVersion()),
           QStringLiteral(ARCHIVE_VERSION_ONLY_STRING).prepend(QStringLiteral("libarchive ")));
}

QStringList settingsListing(const ConversionSettings& settings, const JobOptions& options, const QString& SdToPath,
                            bool withMeanings) {
  QStringList lines;
  for (const SettingField& field : conversionSettingFields()) {
    lines << QString::fromLatin1(field.key) + QLatin1Char('=') + settingText(settings, field);
    if (!withMeanings) continue;
    QString range = field.kind == SettingKind::Flag ? QStringLiteral("0 or 1")
                    : field.kind == SettingKind::Int
                        ? (field.minimum <= field.maximum ? QStringLiteral("%1..%2").arg(field.minimum).arg(field.maximum)
                                                          : QStringLiteral("a number"))
                        : (field.maximum > 0 ? QStringLiteral("text, at most %1 characters").arg(field.maximum)
                                             : QStringLiteral("text"));
    QString fronts;
    for (const NamedOption& named : kNamedOptions) {
      const QString key = QString::fromLatin1(field.key);
      if ((named.key && key == QLatin1String(named.key)) ||
          QString::fromLatin1(named.also).split(QLatin1Char(',')).filter(QRegularExpression(QLatin1Char('^') + key + QLatin1Char('='))).size())
        fronts += (fronts.isEmpty() ? QString() : QStringLiteral(", ")) + QStringLiteral("--") +
                  QString::fromLatin1(named.names).section(QLatin1Char(','), -1);
    }
    lines << QStringLiteral("    %1%2").arg(range, fronts.isEmpty() ? QString() : QStringLiteral("; set by ") + fronts);
  }
  lines << QStringLiteral("Hidden=%1").arg(options.Hidden) << QStringLiteral("FileBg=%1").arg(options.FileBg ? 1 : 0)
        << QStringLiteral("SPI=") + options.SPI << QStringLiteral("SdToPath=") + SdToPath;
  return lines;
}

}  // namespace velorin
