// The job's options taken from the program's settings, the same for the window and the headless
// mode.
#pragma once

#include "engine/archive_members.h"
#include "engine/file_list.h"
#include "engine/job.h"
#include "settings/application_settings.h"
#include "settings/conversion_settings.h"

namespace velorin {

// FileMes, FileBg, SPI and Hidden from the settings; EndMes as stored, jobs left at one.
JobOptions jobOptionsFrom(const ApplicationSettings& application);

// The plug-in folder a job's archives and plug-ins are read with.
ArchiveAccess archiveAccessFor(const JobOptions& options);

// What a job's lists take: the input-format settings, the hidden mask and the patterns of the
// enabled image plug-ins.
ListOptions listOptionsFor(const ConversionSettings& settings, const JobOptions& options,
                           const ArchiveAccess& access);

}  // namespace velorin
