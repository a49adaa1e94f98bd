// Helpers the engine tests share: small image files, a recording job host, the language module.
#pragma once

#include <QFile>
#include <QString>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/job.h"
#include "engine/pipeline.h"
#include "engine/language.h"
#include "support/qt_test_support.h"
#include "support/test_support.h"

namespace velorin::test {

// A 4 x 2 24-bit bitmap file.
inline void writeSmallBmp(const std::filesystem::path& path) {
  std::vector<uint8_t> rows(2 * 12, 0x80);
  writeBytes(path, makeBmp(4, 2, 24, {}, rows));
}

inline void writeJunk(const std::filesystem::path& path) { writeBytes(path, {'B', 'M', 1, 2}); }

// Converts source with settings into output as one job entry would; output, or empty on failure.
inline std::filesystem::path convertTo(const ConversionSettings& settings, const std::filesystem::path& source,
                                       const std::filesystem::path& output) {
  auto ws = createJobWorkspace(settings);
  PendingFile temporary;
  if (!ws || !convertFile(*ws, nullptr, q(source), temporary)) return {};
  writeBytes(output, readBytes(toFsPath(temporary.path())));
  return output;
}

inline LanguageModule englishLanguage() {
  LanguageModule language;
  language.load(QStringLiteral(VELORIN_SOURCE_DIR "/lang/English.lng"));
  return language;
}

// Remembers everything the job told it; answers questions with `answer`.
class RecordingHost : public JobHost {
 public:
  void setProgressRange(qsizetype maximum) override { range = maximum; }
  void setProgressPosition(qsizetype position) override { positions.push_back(position); }
  void setTitle(const QString& title) override { titles.push_back(title); }
  void setCommandsEnabled(bool enabled, const QString& text) override { buttonTexts.push_back(text); }
  bool showMessage(const JobMessage& message) override {
    messages.push_back(message);
    return answer;
  }
  bool cancelRequested() override { return cancelAfter >= 0 && ++polls > cancelAfter - 1; }
  void folderChanged(const QString& folder, FolderEvent event) override { events.push_back(event); }
  void entryFinished(const EntryReport& report) override { reports.push_back(report); }

  std::vector<int> messageIds() const {
    std::vector<int> ids;
    for (const JobMessage& m : messages) ids.push_back(m.id);
    return ids;
  }

  bool answer = true;
  int cancelAfter = -1;  // cancel is requested after this many entries
  int polls = 0;
  qsizetype range = -1;
  std::vector<qsizetype> positions;
  std::vector<QString> titles;
  std::vector<QString> buttonTexts;
  std::vector<JobMessage> messages;
  std::vector<FolderEvent> events;
  std::vector<EntryReport> reports;
};

}  // namespace velorin::test
