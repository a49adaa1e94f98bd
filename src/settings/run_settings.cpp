#include "settings/run_settings.h"

#include <QFileInfo>

#include "platform/paths.h"

namespace velorin {

bool prepareRunSettings(const QString& programPath, const RunSettingsOptions& options,
                        RunSettings& out, QString& message) {
  if (!checkProgramName(programPath)) {
    message = QString::fromLatin1(kFailedToExecuteMessage);
    return false;
  }
  if (!options.settingsFile.isEmpty()) {
    if (!QFileInfo(options.settingsFile).isFile()) {
      message = QStringLiteral("settings file not found: %1").arg(options.settingsFile);
      return false;
    }
    out.path = options.settingsFile;
  } else {
    out.path = settingsFileToRead(QFileInfo(programPath).absolutePath(), userConfigFolder());
  }
  out.warning = settingsTroubleText(out.path, settingsFileTrouble(out.path));
  out.stored = readSettingsFileOnly(out.path, picturesFolder());
  if (options.preset != 0 && !applyPresetForRun(out.stored, options.preset, &message)) return false;
  for (const QString& assignment : options.assignments) {
    if (!applySettingAssignment(out.stored.conversion, assignment)) {
      message = QStringLiteral("unknown setting or bad value: %1").arg(assignment);
      return false;
    }
  }
  // The pages switch off what a zero value leaves without effect when they hand over their values;
  // the command line's values get the same, once all are set whatever their order.
  ConversionSettings& conversion = out.stored.conversion;
  if (!options.assignments.isEmpty()) takeValuesFromPages(conversion, pageValuesOf(conversion));
  return true;
}

}  // namespace velorin
