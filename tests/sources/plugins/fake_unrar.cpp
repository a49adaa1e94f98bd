// The test library: the published entry points answering from the setup of the running test.
#include "fake_unrar.h"

#include <cstring>
#include <cwchar>
#include <string>

#include "sources/unrar_api.h"

namespace {

FakeRarSetup setup{};
FakeRarLog log{};

struct Archive {
  int mode = 0;
  UNRARCALLBACK callback = nullptr;
  long userData = 0;
  int next = 0;  // index of the next header to read
};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void fakeUnrarSetup(const FakeRarSetup* s) {
  setup = *s;
  log = {};
}

__attribute__((visibility("default"))) const FakeRarLog* fakeUnrarLog() { return &log; }

__attribute__((visibility("default"))) void* RAROpenArchiveEx(RAROpenArchiveDataEx* data) {
  ++log.opens;
  std::wcsncpy(log.lastOpened, data->ArcNameW ? data->ArcNameW : L"", 1023);
  if (setup.failOpen) {
    data->OpenResult = ERAR_EOPEN;
    return nullptr;
  }
  const std::wstring name = log.lastOpened;
  const std::wstring first = L"part1.rar";
  const bool isFirst = name.size() >= first.size() && name.compare(name.size() - first.size(), first.size(), first) == 0;
  data->Flags = isFirst ? setup.firstVolumeFlags : setup.flags;
  data->OpenResult = ERAR_SUCCESS;
  auto* archive = new Archive;
  archive->mode = static_cast<int>(data->OpenMode);
  archive->callback = data->Callback;
  archive->userData = data->UserData;
  return archive;
}

__attribute__((visibility("default"))) int RARCloseArchive(void* handle) {
  delete static_cast<Archive*>(handle);
  return ERAR_SUCCESS;
}

__attribute__((visibility("default"))) int RARReadHeaderEx(void* handle, RARHeaderDataEx* header) {
  auto* archive = static_cast<Archive*>(handle);
  if (archive->next >= setup.memberCount) return ERAR_END_ARCHIVE;
  const FakeRarMember& m = setup.members[archive->next];
  std::memset(header->FileNameW, 0, sizeof header->FileNameW);
  for (size_t i = 0; m.name[i] && i < 1023; ++i) header->FileNameW[i] = static_cast<unsigned char>(m.name[i]);
  header->UnpSize = m.size;
  header->UnpSizeHigh = m.sizeHigh;
  header->FileTime = (((2021 - 1980) << 9 | 3 << 5 | 4) << 16) | (5 << 11 | 6 << 5 | 7);
  header->Flags = m.encrypted ? RHDF_ENCRYPTED : 0;
  return ERAR_SUCCESS;
}

__attribute__((visibility("default"))) int RARProcessFileW(void* handle, int operation, wchar_t*, wchar_t*) {
  auto* archive = static_cast<Archive*>(handle);
  const int index = archive->next++;
  if (operation == RAR_SKIP) return ERAR_SUCCESS;
  const FakeRarMember& m = setup.members[index];
  if (m.encrypted) {
    ++log.passwordRequests;
    wchar_t typed[128] = {};
    if (archive->callback(UCM_NEEDPASSWORDW, archive->userData, reinterpret_cast<long>(typed), 128) < 0)
      return ERAR_MISSING_PASSWORD;
    if (!setup.password || std::wcscmp(typed, setup.password) != 0) return ERAR_BAD_PASSWORD;
  }
  unsigned char chunk[7];
  for (unsigned k = 0; k < m.delivered; k += sizeof chunk) {
    if (index == setup.missingVolumeAt && k >= m.delivered / 2) {
      ++log.volumeRequests;
      wchar_t next[] = L"missing.part2.rar";
      if (archive->callback(UCM_CHANGEVOLUMEW, archive->userData, reinterpret_cast<long>(next), RAR_VOL_ASK) < 0)
        return ERAR_EOPEN;
    }
    const unsigned n = m.delivered - k < sizeof chunk ? m.delivered - k : sizeof chunk;
    for (unsigned i = 0; i < n; ++i) chunk[i] = m.bytes ? m.bytes[k + i] : fakeRarByte(index, k + i);
    if (archive->callback(UCM_PROCESSDATA, archive->userData, reinterpret_cast<long>(chunk), n) < 0)
      return ERAR_UNKNOWN;
  }
  return ERAR_SUCCESS;
}
}
