// Writes the settings file given on its command line over and over, alternating between two
// contents, until it is killed: the shutdown test kills it in the middle of a write.
#include <QCoreApplication>
#include <QStringList>

#include "settings/settings_store.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QString path = QCoreApplication::arguments().value(1);
  for (int round = 0;; ++round) {
    velorin::StoredSettings settings;
    settings.application.WinX = 1 + round % 2;
    // Long enough that a write takes a while, so that most kills land inside one.
    for (int i = 0; i < 400; ++i) settings.application.FolderList << QStringLiteral("/folder/%1/%2").arg(round % 2).arg(i);
    settings.application.folderFlags = QByteArray(400, '\1');
    if (!velorin::saveSettingsFile(path, settings)) return 1;
  }
}
