#include "engine/language.h"

#include "engine/file_list.h"

#include <QDir>
#include <QFile>
#include <QLocale>

#include <cstring>

namespace velorin {

namespace {

const char kSignature[8] = {'V', 'e', 'l', 'o', 'r', 'i', 'n', '\0'};
constexpr qint64 kMaxFileSize = 4 << 20;  // far above any real string table

QString unescaped(QStringView text) {
  QString out;
  out.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == u'\\' && i + 1 < text.size()) {
      const QChar next = text[++i];
      out += next == u'n' ? QChar(u'\n') : next == u't' ? QChar(u'\t') : next;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

QString languageFileExtension() { return QStringLiteral(".lng"); }

bool LanguageModule::load(const QString& path) {
  texts_.clear();
  path_.clear();
  loaded_ = false;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileSize) return false;
  const QByteArray bytes = file.readAll();
  if (bytes.size() < 8 || std::memcmp(bytes.constData(), kSignature, 8) != 0) return false;
  const QString content = QString::fromUtf8(bytes.constData() + 8, bytes.size() - 8);
  for (QStringView line : QStringView(content).split(u'\n')) {
    if (line.endsWith(u'\r')) line.chop(1);
    if (line.isEmpty() || line.startsWith(u'#')) continue;
    const qsizetype tab = line.indexOf(u'\t');
    if (tab <= 0) continue;
    bool ok = false;
    const int id = line.left(tab).toInt(&ok);
    if (!ok) continue;
    texts_.insert(id, unescaped(line.mid(tab + 1)).left(kMaxTextLength));
  }
  path_ = path;
  loaded_ = true;
  return true;
}

bool isLanguageModule(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) && file.read(8) == QByteArray(kSignature, 8);
}

bool loadLanguageModule(LanguageModule& module, QString& langFile, const QString& folder,
                        int userLanguageId) {
  if (langFile.isEmpty())
    langFile = userLanguageId == 1041 ? QStringLiteral("Japanese") : QStringLiteral("English");
  const QDir dir(folder);
  auto tryLoad = [&](const QString& name) {
    return module.load(dir.filePath(name + languageFileExtension()));
  };
  if (tryLoad(langFile)) return true;
  for (const QString& fallback : {QStringLiteral("English"), QStringLiteral("Japanese")}) {
    if (tryLoad(fallback)) {
      langFile = fallback;
      return true;
    }
  }
  return false;
}

QStringList listLanguages(const QString& folder, const QString& langFile, int& currentIndex) {
  currentIndex = -1;
  QStringList names;
  const QDir dir(folder);
  const QStringList files =
      dir.entryList({QLatin1Char('*') + languageFileExtension()}, QDir::Files | QDir::Hidden, QDir::Unsorted);
  for (const QString& file : files) {
    const QString base = file.left(file.lastIndexOf(QLatin1Char('.')));
    if (sameNameIgnoringAsciiCase(base, langFile)) {
      currentIndex = static_cast<int>(names.size());
      names << base;
    } else if (isLanguageModule(dir.filePath(file))) {
      names << base;
    }
  }
  return names;
}

int userInterfaceLanguageId() {
  return QLocale::system().language() == QLocale::Japanese ? 1041 : 1033;
}

}  // namespace velorin
