// ZIP archives as inputs: the member list for the file list and one member extracted whole into
// memory for the image readers. The byte-level work is formats/zip_archive; this side turns
// names and times into the program's text and time forms.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

#include "formats/zip_archive.h"
#include "sources/member_list.h"

namespace velorin {

// The members stored or deflated, in directory order, with the archive's last-write time;
// skipped (when given) receives the number of records left out because of their method.
// Nothing for an unreadable archive or one without such a member.
std::optional<MemberList> listZip(const QString& archivePath, uint32_t* skipped = nullptr);

// The member whose local header is at position, whole and CRC-checked; false otherwise.
bool extractZip(const QString& archivePath, uint32_t position, PixelBuffer& block);

// The head of a member (see peekZipMember); false when the member cannot be extracted.
bool peekZip(const QString& archivePath, uint32_t position, size_t count, ZipMemberHead& head);

// The character set of the user's locale as LC_ALL, LC_CTYPE or LANG name it; "UTF-8" when
// none names one.
QByteArray localeCharset();

// A member name as text: an Info-ZIP Unicode Path or a name flagged as UTF-8 is UTF-8; any other
// is read in charset, or in code page 437 (the format's original character set) when its bytes
// are not valid there.
QString decodeZipName(const ZipRecord& record, const QByteArray& charset);

}  // namespace velorin
