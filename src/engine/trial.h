// The trial conversion: one selected entry of the file list converted exactly as a job would
// convert it, into a temporary file that is read back for display and removed at once. Nothing
// is written to the output folder. The window around it only shows the result.
#pragma once

#include <QString>

#include <cstdint>
#include <memory>

#include "engine/file_list.h"
#include "engine/job.h"
#include "imaging/image.h"
#include "settings/conversion_settings.h"
#include "sources/rar_archive.h"

namespace velorin {

// The output of one entry as read back: what the window paints, and the output file's size.
struct TrialPicture {
  ImageRecord image;  // header, palette and pixel block, bottom-up as every reader gives them
  uint64_t outputBytes = 0;
};

// A job's workspace held while the trial window is open. Not thread-safe; one entry at a time.
class TrialSession {
 public:
  TrialSession();
  ~TrialSession();
  TrialSession(const TrialSession&) = delete;
  TrialSession& operator=(const TrialSession&) = delete;

  // The checks before the window opens: the input path exists (30003), the list is brought in
  // step with its source without a message, an entry is selected (30006); then the workspace
  // (30001). Returns 0 when the session is open, else the id of the message to show. A stored
  // OFmt of 5 converts without resizing while the session lasts.
  int open(FileList& list, const QString& inputPathText, const ConversionSettings& settings,
           const JobOptions& options, PasswordPrompt askPassword = {});
  bool isOpen() const { return static_cast<bool>(workspace_); }
  // Whether open() found the list out of step and rebuilt it.
  bool listRebuilt() const { return listRebuilt_; }

  // Converts entry index of the list into picture (replacing what it held). The temporary file
  // is gone when this returns. False when the entry cannot be converted or read back; picture is
  // then unchanged and failure() says why.
  bool convert(qsizetype index, TrialPicture& picture);
  const FailureReason& failure() const { return failure_; }

 private:
  FileList* list_ = nullptr;
  bool listRebuilt_ = false;
  std::unique_ptr<JobWorkspace> workspace_;  // converts, as the job's does
  std::unique_ptr<JobWorkspace> reader_;     // reads the output back, unscaled
  FailureReason failure_;
};

// The entry the window opens on: the first selected entry at or after previewIndex when a
// preview is shown (previewIndex >= 0), else the first selected entry; -1 when there is none.
qsizetype firstTrialEntry(const FileList& list, qsizetype previewIndex);

enum class TrialStep { First, Previous, Next, Last };
// The selected entry a step leads to from current; current itself when the step changes nothing.
qsizetype trialStepEntry(const FileList& list, qsizetype current, TrialStep step);

// "NN% / 1,234KB  " and text (at most 63 characters): the display scale in percent, rounded, and
// the output size in whole KiB, rounded down.
QString trialTitle(double scale, uint64_t outputBytes, const QString& text);

}  // namespace velorin
