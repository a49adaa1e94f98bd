#include "engine/trial.h"

#include <QFileInfo>

#include <cmath>
#include <cstring>

#include "engine/job_run.h"
#include "engine/language.h"
#include "platform/atomic_file.h"
#include "engine/naming.h"

namespace velorin {

namespace {

constexpr int32_t kOutputFormatWithoutResize = 5;
constexpr qsizetype kMaxTitleText = 63;

}  // namespace

TrialSession::TrialSession() = default;
TrialSession::~TrialSession() = default;

int TrialSession::open(FileList& list, const QString& inputPathText, const ConversionSettings& settings,
                       const JobOptions& options, PasswordPrompt askPassword) {
  workspace_.reset();
  reader_.reset();
  list_ = nullptr;
  listRebuilt_ = false;
  if (inputPathText.isEmpty() || !QFileInfo::exists(inputPathText)) return text_id::kInputMissing;
  listRebuilt_ = !list.keepInStep();
  if (list.selectedCount() == 0) return text_id::kNothingSelected;

  ConversionSettings converting = settings;
  if (converting.OFmt == kOutputFormatWithoutResize) converting.RszOpt = 0;
  // The result is shown as it is: reading it back must not pre-scale it for a resize again.
  ConversionSettings reading = converting;
  reading.RszOpt = 0;
  std::unique_ptr<JobWorkspace> workspace = createJobWorkspace(converting);
  std::unique_ptr<JobWorkspace> reader = workspace ? createJobWorkspace(reading) : nullptr;
  if (!reader) return text_id::kNoMemory;

  const bool fromArchive = list.kind() != SourceKind::Folder;
  prepareWorkspace(*workspace, list.kind(), fromArchive ? list.inputPath() : QString(), options);
  if (list.kind() == SourceKind::Rar) keepRarForJob(*workspace, std::move(askPassword));
  reader->fileBackground = options.FileBg;
  list_ = &list;
  workspace_ = std::move(workspace);
  reader_ = std::move(reader);
  return 0;
}

bool TrialSession::convert(qsizetype index, TrialPicture& picture) {
  failure_ = {};
  if (!workspace_ || index < 0 || index >= static_cast<qsizetype>(list_->entries().size())) {
    failure_ = {"load", Status::NotFormat, {}};
    return false;
  }
  const FileEntry& entry = list_->entries()[static_cast<size_t>(index)];
  const QString sourcePath =
      list_->kind() == SourceKind::Folder ? joinPath(list_->inputPath(), entry.name) : list_->inputPath();
  PendingFile output;
  if (!convertFile(*workspace_, &entry, sourcePath, output)) {
    failure_ = workspace_->failure;
    return false;
  }
  const uint64_t outputBytes = static_cast<uint64_t>(QFileInfo(output.path()).size());
  const bool loaded = loadFromPath(*reader_, output.path()) && reader_->image.pixels;
  // The shown picture is one; holding its share would make the next conversion wait on itself.
  reader_->reservation.release();
  output.discard();
  if (!loaded) {
    failure_ = reader_->failure;
    return false;
  }
  ImageRecord& image = reader_->image;
  picture.image = ImageRecord{};
  picture.image.header = image.header;
  std::memcpy(picture.image.palette, image.palette, sizeof image.palette);
  picture.image.sourceFormat = image.sourceFormat;
  picture.image.pixels = std::move(image.pixels);
  picture.outputBytes = outputBytes;
  return true;
}

qsizetype firstTrialEntry(const FileList& list, qsizetype previewIndex) {
  const std::vector<FileEntry>& entries = list.entries();
  for (size_t i = previewIndex > 0 ? static_cast<size_t>(previewIndex) : 0; i < entries.size(); ++i)
    if (entries[i].selected) return static_cast<qsizetype>(i);
  return -1;
}

qsizetype trialStepEntry(const FileList& list, qsizetype current, TrialStep step) {
  const std::vector<FileEntry>& entries = list.entries();
  const auto count = static_cast<qsizetype>(entries.size());
  const auto selected = [&](qsizetype i) { return entries[static_cast<size_t>(i)].selected; };
  switch (step) {
    case TrialStep::First:
      for (qsizetype i = 0; i < count; ++i)
        if (selected(i)) return i;
      break;
    case TrialStep::Last:
      for (qsizetype i = count - 1; i >= 0; --i)
        if (selected(i)) return i;
      break;
    case TrialStep::Next:
      for (qsizetype i = current + 1; i < count; ++i)
        if (selected(i)) return i;
      break;
    case TrialStep::Previous:
      for (qsizetype i = std::min(current, count) - 1; i >= 0; --i)
        if (selected(i)) return i;
      break;
  }
  return current;
}

QString trialTitle(double scale, uint64_t outputBytes, const QString& text) {
  return QString::number(std::lround(scale * 100)) + QStringLiteral("% / ") +
         withThousandsSeparators(outputBytes / 1024) + QStringLiteral("KB  ") + text.left(kMaxTitleText);
}

}  // namespace velorin
