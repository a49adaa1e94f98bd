// The older text settings format: sections and "key=value" lines in an 8-bit code page or
// UTF-16 with a byte-order mark. It is recognised by a non-zero fourth byte (a slot file always
// has 0 there) and converted once into the slot file.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace velorin {

struct StoredSettings;

// Reads such a file by the rules of the classic profile functions: section and key names
// compared without case (A to Z), values trimmed and stripped of one pair of enclosing quotes,
// the first section of a name and the first key in it counting.
class ProfileReader {
 public:
  bool load(const QString& path);
  void parse(const QByteArray& bytes);

  bool has(const QString& section, const QString& key) const;
  bool hasSection(const QString& section) const;
  QString string(const QString& section, const QString& key, const QString& fallback = {}) const;
  // A missing key or an empty value gives fallback; other text gives its leading number
  // (decimal, or hexadecimal after 0x), 0 when there is none.
  int32_t intValue(const QString& section, const QString& key, int32_t fallback) const;

 private:
  struct Key {
    QString name, value;
  };
  struct Section {
    QString name;
    std::vector<Key> keys;
  };
  const Key* find(const QString& section, const QString& key) const;
  std::vector<Section> sections_;
};

// The first four bytes were read and the fourth is not 0.
bool isOldTextFormat(const QString& path);

// The path with its extension replaced by ".txt", where the old file is kept.
QString oldFormatBackupPath(const QString& path);

// Every key of "MWin", "FolderList", "CvtPrms" and "CvtSet1".."CvtSet5", missing keys taking the
// conversion defaults (a missing string is empty, MkDirStr included).
StoredSettings readOldTextSettings(const ProfileReader& profile);

// Keeps the ".txt" copy and writes the slot file in place of the text file, starting from an
// empty directory. False when the copy or the new file cannot be written; the text file is
// then unchanged.
bool convertOldTextFormat(const QString& path);

}  // namespace velorin
