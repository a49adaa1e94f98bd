#include "engine/job_setup.h"

#include "sources/plugin_host.h"

namespace velorin {

JobOptions jobOptionsFrom(const ApplicationSettings& application) {
  JobOptions options;
  options.EndMes = application.EndMes;
  options.FileMes = application.FileMes;
  options.FileBg = application.FileBg;
  options.SPI = pluginFolderInUse(application.SPI);  // the shipped plug-ins while SPI is empty
  options.Hidden = static_cast<uint32_t>(application.Hidden);
  options.disabledPlugins = application.pluginFiles;
  return options;
}

ArchiveAccess archiveAccessFor(const JobOptions& options) {
  ArchiveAccess access;
  access.pluginFolder = options.SPI;
  access.disabledPlugins = options.disabledPlugins;
  return access;
}

ListOptions listOptionsFor(const ConversionSettings& settings, const JobOptions& options,
                           const ArchiveAccess& access) {
  ListOptions list = ListOptions::from(settings, options.Hidden);
  list.pluginPatterns = imagePluginPatterns(access);
  return list;
}

}  // namespace velorin
