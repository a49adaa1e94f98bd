// The state of a running job, shared by the job's own loop and the parallel runner: both convert
// entries into temporary files and hand each result to commitEntry, in list order, so names,
// serial numbers, collisions and follow-up actions come out the same whichever runs.
#pragma once

#include <QString>

#include <memory>
#include <vector>

#include "engine/actions.h"
#include "engine/file_entry.h"
#include "engine/job.h"
#include "engine/naming.h"
#include "engine/pipeline.h"

namespace velorin {

// One input of a job.
struct JobInput {
  const FileEntry* entry = nullptr;  // list jobs
  QString sourcePath;                // the file, or the archive for a member
  QString name;                      // the name the output is named from
  QString display;                   // what reports show
  SourceKind kind = SourceKind::Folder;  // an archive's kind for a member
  QString subFolder;                 // "a/b/" below the job's output folder, or empty
  FileTime archiveTime = 0;          // a member's archive's time when it was listed
};

// What a conversion leaves for the committer once its workspace has moved on to another entry.
struct ConvertedEntry {
  bool converted = false;
  PendingFile temporary;  // owned by the committer from here on; removed with the entry
  bool hasExifDateTime = false;
  char exifDateTime[20] = {};
  int32_t width = 0;
  int32_t height = 0;
  FailureReason failure;
  std::string damage;  // why the source is damaged although it converted; empty when whole
};

struct JobRun {
  JobContext& context;
  bool listJob = false;
  SourceKind kind = SourceKind::Folder;
  QString inputFolder;  // list job from a folder
  QString archivePath;  // list job from an archive
  bool readsRar = false;  // some input is a RAR member: one loaded library, one entry at a time
  QString outputFolder;
  bool createdSubFolder = false;
  bool deleteSources = false;
  NamingRules rules;
  std::unique_ptr<JobWorkspace> workspace;
  std::vector<HtmlRecord> htmlRecords;
  JobResult result;

  explicit JobRun(JobContext& c) : context(c) {}
};

// Gives a fresh workspace the job-wide facts the run's own workspace has.
void prepareWorkspace(const JobRun& run, JobWorkspace& workspace);
// The same facts for a workspace reading a source of kind (archivePath for archive lists).
void prepareWorkspace(JobWorkspace& workspace, SourceKind kind, const QString& archivePath,
                      const JobOptions& options);
// A RAR source: one library load for the workspace's life and one password, asked through prompt.
void keepRarForJob(JobWorkspace& workspace, PasswordPrompt prompt);

// Points workspace at the source input is read from (its archive, or none for a file).
void useSourceOf(JobWorkspace& workspace, const JobInput& input);

// Converts one input in workspace; the result no longer refers to the workspace.
ConvertedEntry convertEntry(JobWorkspace& workspace, const JobInput& input);

// Everything after the conversion of one entry: name, copy, time stamps, deleting the source, the
// tag list record, the counts, progress and the host's report. Removes the temporary file.
void commitEntry(JobRun& run, const JobInput& input, ConvertedEntry& converted);

// Polls the host; true when the user confirmed stopping.
bool confirmCancel(JobRun& run);

// The entry loop of the parallel runner (parallel_job.cpp); workers is at least 2.
void runParallelLoop(JobRun& run, const std::vector<JobInput>& inputs, int workers);

}  // namespace velorin
