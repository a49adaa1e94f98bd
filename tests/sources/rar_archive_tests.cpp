#include "sources/rar_archive.h"

#include <archive.h>
#include <archive_entry.h>
#include <dlfcn.h>
#include <locale.h>
#include <gtest/gtest.h>

#include <QFile>

#include <map>

#include "sources/plugins/fake_unrar.h"
#include "support/qt_test_support.h"
#include "support/test_support.h"

namespace velorin {
namespace {

const QString kFakeFolder = QStringLiteral(VELORIN_BINARY_DIR "/test-plugins/fake-unrar");
const QString kShippedFolder = QStringLiteral(VELORIN_BINARY_DIR "/bin/plugins");

using test::q;

// Holds the test library loaded so the setup survives the binding's own load and unload.
class FakeRar {
 public:
  FakeRar() {
    handle_ = dlopen(QFile::encodeName(kFakeFolder + "/libunrar.so").constData(), RTLD_NOW);
    EXPECT_TRUE(handle_) << dlerror();
    setup_ = reinterpret_cast<FakeRarSetupFunction>(dlsym(handle_, "fakeUnrarSetup"));
    log_ = reinterpret_cast<FakeRarLogFunction>(dlsym(handle_, "fakeUnrarLog"));
  }
  ~FakeRar() {
    if (handle_) dlclose(handle_);
  }
  void set(std::initializer_list<FakeRarMember> members, unsigned flags = 0, unsigned firstFlags = 0) {
    FakeRarSetup s{};
    s.flags = flags;
    s.firstVolumeFlags = firstFlags;
    s.missingVolumeAt = -1;
    for (const FakeRarMember& m : members) s.members[s.memberCount++] = m;
    s.password = password;
    s.missingVolumeAt = missingVolumeAt;
    setup_(&s);
  }
  const FakeRarLog& log() const { return *log_(); }
  const wchar_t* password = L"secret";
  int missingVolumeAt = -1;

 private:
  void* handle_ = nullptr;
  FakeRarSetupFunction setup_ = nullptr;
  FakeRarLogFunction log_ = nullptr;
};

RarContext jobContext(int* prompts = nullptr, QString answer = "secret", bool ok = true) {
  RarContext context;
  context.pluginFolder = kFakeFolder;
  context.askPassword = [prompts, answer, ok](QString& password) {
    if (prompts) ++*prompts;
    password = answer;
    return ok;
  };
  return context;
}

bool holdsFakeBytes(const PixelBuffer& block, int member, unsigned size) {
  if (block.size() != size) return false;
  for (unsigned k = 0; k < size; ++k)
    if (block.data()[k] != fakeRarByte(member, k)) return false;
  return true;
}

TEST(RarBinding, ListsEveryHeaderAndExtractsByIndex) {
  FakeRar fake;
  fake.set({{"photos/", 0, 0, 0, 0}, {"photos/a.png", 100, 100, 0, 0}, {"b.jpg", 50, 50, 0, 0}});
  const auto list = listRar("/any/archive.rar", kFakeFolder);
  ASSERT_TRUE(list);
  ASSERT_EQ(list->entries.size(), 3u);
  EXPECT_EQ(list->capacity, 3u);
  EXPECT_EQ(list->entries[0].folder, "photos/");
  EXPECT_EQ(list->entries[0].fileName, "");
  EXPECT_EQ(list->entries[1].folder, "photos/");
  EXPECT_EQ(list->entries[1].fileName, "a.png");
  EXPECT_EQ(list->entries[2].position, 2u);
  EXPECT_EQ(list->entries[2].size, 50u);
  EXPECT_EQ(list->entries[2].fileTime, dosTimeToFileTime((2021 - 1980) << 9 | 3 << 5 | 4, 5 << 11 | 6 << 5 | 7));

  RarContext context = jobContext();
  PixelBuffer block;
  ASSERT_TRUE(extractRar(context, "/any/archive.rar", 1, block));
  EXPECT_TRUE(holdsFakeBytes(block, 1, 100));
  ASSERT_TRUE(extractRar(context, "/any/archive.rar", 2, block));
  EXPECT_TRUE(holdsFakeBytes(block, 2, 50));
  EXPECT_FALSE(extractRar(context, "/any/archive.rar", 3, block));  // past the last header
  EXPECT_FALSE(block);
  EXPECT_FALSE(context.busy);

  fake.set({});
  EXPECT_FALSE(listRar("/any/archive.rar", kFakeFolder));  // no first header
}

TEST(RarBinding, MembersThatBreakTheirAnnouncedSizeAreAbandoned) {
  FakeRar fake;
  fake.set({{"over.png", 100, 101, 0, 0}, {"short.png", 100, 99, 0, 0}, {"huge.png", 5, 5, 0, 1}, {"ok.png", 100, 100, 0, 0}});
  RarContext context = jobContext();
  PixelBuffer block;
  EXPECT_FALSE(extractRar(context, "a.rar", 0, block));
  EXPECT_FALSE(extractRar(context, "a.rar", 1, block));
  EXPECT_FALSE(extractRar(context, "a.rar", 2, block));  // 4 GiB or more
  EXPECT_FALSE(block);
  EXPECT_TRUE(extractRar(context, "a.rar", 3, block));
}

TEST(RarBinding, APasswordIsAskedOncePerJobAndACancelFailsTheMember) {
  FakeRar fake;
  fake.set({{"a.png", 10, 10, 1, 0}, {"b.png", 20, 20, 1, 0}});
  int prompts = 0;
  RarContext context = jobContext(&prompts);
  PixelBuffer block;
  EXPECT_TRUE(extractRar(context, "a.rar", 0, block));
  EXPECT_TRUE(extractRar(context, "other.rar", 1, block));
  EXPECT_TRUE(holdsFakeBytes(block, 1, 20));
  EXPECT_EQ(prompts, 1);
  EXPECT_EQ(fake.log().passwordRequests, 2);

  int cancelled = 0;
  RarContext cancelling = jobContext(&cancelled, "secret", false);
  EXPECT_FALSE(extractRar(cancelling, "a.rar", 0, block));
  EXPECT_FALSE(block);
  EXPECT_EQ(cancelled, 1);
  RarContext wrong = jobContext(nullptr, "guess");
  EXPECT_FALSE(extractRar(wrong, "a.rar", 0, block));
  RarContext noHost;
  noHost.pluginFolder = kFakeFolder;
  EXPECT_FALSE(extractRar(noHost, "a.rar", 0, block));
}

TEST(RarBinding, AMissingVolumeFailsTheMember) {
  FakeRar fake;
  fake.missingVolumeAt = 0;
  fake.set({{"a.png", 100, 100, 0, 0}});
  RarContext context = jobContext();
  PixelBuffer block;
  EXPECT_FALSE(extractRar(context, "a.rar", 0, block));
  EXPECT_EQ(fake.log().volumeRequests, 1);
}

TEST(RarBinding, ALaterVolumeListsTheWholeSetFromItsFirst) {
  FakeRar fake;
  const unsigned later = ROADF_VOLUME | ROADF_NEWNUMBERING;
  fake.set({{"a.png", 1, 1, 0, 0}}, later, later | ROADF_FIRSTVOLUME);
  ASSERT_TRUE(listRar("/data/set.part3.rar", kFakeFolder));
  EXPECT_EQ(std::wstring(fake.log().lastOpened), L"/data/set.part1.rar");
  RarContext context = jobContext();
  PixelBuffer block;
  EXPECT_TRUE(extractRar(context, "/data/set.part3.rar", 0, block));
  EXPECT_EQ(std::wstring(fake.log().lastOpened), L"/data/set.part1.rar");

  EXPECT_EQ(firstRarVolume("/a.b/set.part7.rar"), "/a.b/set.part1.rar");
  EXPECT_EQ(firstRarVolume("noext"), "noext.part1.rar");
  // Zero-padded numbering keeps its width when the unpadded name does not exist.
  EXPECT_EQ(firstRarVolume("/nowhere/set.part03.rar"), "/nowhere/set.part01.rar");

  fake.set({{"a.png", 1, 1, 0, 0}}, ROADF_VOLUME, ROADF_VOLUME);
  RarLibrary library;
  ASSERT_TRUE(library.bind(kFakeFolder));
  EXPECT_EQ(probeRar(library, "x.rar"), 1);
  fake.set({}, 0, 0);
  EXPECT_EQ(probeRar(library, "x.rar"), 0);
  fake.set({}, later, later | ROADF_FIRSTVOLUME);
  EXPECT_EQ(probeRar(library, "x.part1.rar"), 3);
  EXPECT_EQ(probeRar(library, "x.part2.rar"), 2);
}

TEST(RarBinding, WithoutALibraryThereIsNoRar) {
  const QString nowhere = QStringLiteral("/nonexistent/plugins");
  EXPECT_FALSE(rarAvailable(nowhere));
  EXPECT_FALSE(listRar("/any/archive.rar", nowhere));
  RarContext context;
  context.pluginFolder = nowhere;
  EXPECT_FALSE(keepRarLibrary(context));
  PixelBuffer block;
  EXPECT_FALSE(extractRar(context, "/any/archive.rar", 0, block));
  EXPECT_TRUE(rarAvailable(kFakeFolder));
}

TEST(RarBinding, AJobKeepsTheLibraryBound) {
  FakeRar fake;
  fake.set({{"a.png", 10, 10, 0, 0}});
  RarContext context = jobContext();
  ASSERT_TRUE(keepRarLibrary(context));
  EXPECT_TRUE(context.keptLibrary.bound());
  PixelBuffer block;
  EXPECT_TRUE(extractRar(context, "a.rar", 0, block));
  EXPECT_TRUE(context.keptLibrary.bound());
  releaseRarLibrary(context);
  EXPECT_FALSE(context.keptLibrary.bound());
}

// What libarchive itself extracts: the oracle for the shipped library.
std::map<std::string, std::vector<uint8_t>> extractWithLibarchive(const std::vector<std::string>& volumes) {
  std::map<std::string, std::vector<uint8_t>> members;
  locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  const locale_t previous = uselocale(utf8);
  archive* reader = archive_read_new();
  archive_read_support_format_rar(reader);
  archive_read_support_format_rar5(reader);
  std::vector<const char*> names;
  for (const auto& v : volumes) names.push_back(v.c_str());
  names.push_back(nullptr);
  if (archive_read_open_filenames(reader, names.data(), 65536) == ARCHIVE_OK) {
    archive_entry* entry;
    while (archive_read_next_header(reader, &entry) >= ARCHIVE_WARN) {
      if (archive_entry_filetype(entry) != AE_IFREG || archive_entry_is_encrypted(entry)) continue;
      // Read to the end as an extracting tool does, so the member's CRC check has its say.
      std::vector<uint8_t> bytes;
      uint8_t chunk[65536];
      la_ssize_t got;
      while ((got = archive_read_data(reader, chunk, sizeof chunk)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
      if (got == 0) members[archive_entry_pathname_utf8(entry)] = bytes;
    }
  }
  archive_read_free(reader);
  uselocale(previous);
  freelocale(utf8);
  return members;
}

std::vector<uint8_t> bytesOf(const PixelBuffer& block) { return {block.data(), block.data() + block.size()}; }

TEST(ShippedRarLibrary, ComicArchivesHoldTheirImages) {
  const auto jpeg = test::readBytes(test::testdata("rar/rar-test-files/sources/testfile.jpg"));
  const auto png = test::readBytes(test::testdata("rar/rar-test-files/sources/testfile.png"));
  int archives = 0;
  for (const auto& file : std::filesystem::directory_iterator(test::testdata("rar/rar-test-files"))) {
    if (file.path().extension() != ".cbr") continue;
    const QString path = q(file.path());
    const auto list = listRar(path, kShippedFolder);
    ASSERT_TRUE(list) << file.path();
    RarContext context;
    context.pluginFolder = kShippedFolder;
    int found = 0;
    for (const MemberEntry& e : list->entries) {
      PixelBuffer block;
      if (e.fileName == "testfile.jpg" || e.fileName == "testfile.png") {
        ASSERT_TRUE(extractRar(context, path, e.position, block)) << file.path() << " " << e.fileName.toStdString();
        EXPECT_EQ(bytesOf(block), e.fileName.endsWith("jpg") ? jpeg : png);
        EXPECT_EQ(block.size(), e.size);
        ++found;
      }
    }
    // libarchive reads only the first member of a solid RAR 3 archive.
    const bool solidRar3 = file.path().filename() == "testfile.rar3.solid.cbr";
    EXPECT_EQ(found, solidRar3 ? 1 : 2) << file.path();
    ++archives;
  }
  EXPECT_GE(archives, 8);
}

TEST(ShippedRarLibrary, MembersMatchWhatLibarchiveExtracts) {
  const auto folder = test::testdata("rar/libarchive");
  struct Case {
    std::string opened;                // the volume the user picks
    std::vector<std::string> volumes;  // the whole set for the oracle
  };
  std::vector<Case> cases;
  for (const char* single : {"test_read_format_rar.rar", "test_read_format_rar_unicode.rar", "test_read_format_rar_windows.rar",
                             "test_read_format_rar_compress_normal.rar", "test_read_format_rar_compress_best.rar",
                             "test_read_format_rar5_stored.rar", "test_read_format_rar5_compressed.rar",
                             "test_read_format_rar5_multiple_files.rar", "test_read_format_rar5_solid.rar",
                             "test_read_format_rar5_unicode.rar", "test_read_format_rar5_win32.rar",
                             "test_read_format_rar5_blake2.rar", "test_read_format_rar5_zip_in_rar.rar"})
    cases.push_back({single, {single}});
  auto set = [&](const std::string& stem, int count, int width, int opened) {
    Case c;
    for (int i = 1; i <= count; ++i) {
      std::string n = std::to_string(i);
      n.insert(0, width - n.size(), '0');
      c.volumes.push_back(stem + n + ".rar");
    }
    c.opened = c.volumes[opened - 1];
    cases.push_back(c);
  };
  set("test_rar_multivolume_single_file.part", 3, 1, 2);
  set("test_rar_multivolume_multiple_files.part", 6, 1, 3);
  set("test_read_format_rar_multivolume.part", 4, 4, 1);
  set("test_read_format_rar5_multiarchive_solid.part", 4, 2, 3);

  for (const Case& c : cases) {
    std::vector<std::string> paths;
    for (const auto& v : c.volumes) paths.push_back((folder / v).string());
    const auto expected = extractWithLibarchive(paths);
    ASSERT_FALSE(expected.empty()) << c.opened;
    const QString path = q(folder / c.opened);
    const auto list = listRar(path, kShippedFolder);
    ASSERT_TRUE(list) << c.opened;
    RarContext context;
    context.pluginFolder = kShippedFolder;
    ASSERT_TRUE(keepRarLibrary(context));
    size_t compared = 0;
    for (const MemberEntry& e : list->entries) {
      const auto oracle = expected.find((e.folder + e.fileName).toStdString());
      if (oracle == expected.end()) continue;
      PixelBuffer block;
      ASSERT_TRUE(extractRar(context, path, e.position, block)) << c.opened << " " << oracle->first;
      EXPECT_EQ(bytesOf(block), oracle->second) << c.opened << " " << oracle->first;
      ++compared;
    }
    EXPECT_EQ(compared, expected.size()) << c.opened;
  }
}

TEST(ShippedRarLibrary, EncryptedAndDamagedArchivesFailCleanly) {
  const auto folder = test::testdata("rar/libarchive");
  int prompts = 0, listed = 0;
  for (const char* name : {"test_read_format_rar4_encrypted.rar", "test_read_format_rar5_encrypted.rar",
                           "test_read_format_rar_encryption_data.rar", "test_read_format_rar_encryption_partially.rar",
                           "test_read_format_rar4_solid_encrypted.rar", "test_read_format_rar5_solid_encrypted.rar"}) {
    const QString path = q(folder / name);
    // A solid archive cannot even be walked past its encrypted data.
    const auto list = listRar(path, kShippedFolder);
    if (!list) continue;
    ++listed;
    RarContext context;
    context.pluginFolder = kShippedFolder;
    context.askPassword = [&](QString&) { return ++prompts, false; };
    int failed = 0;
    for (const MemberEntry& e : list->entries) {
      PixelBuffer block;
      if (!extractRar(context, path, e.position, block)) ++failed;
      else EXPECT_EQ(block.size(), e.size);
    }
    EXPECT_GE(failed, 1) << name;
  }
  EXPECT_GE(listed, 4);
  EXPECT_EQ(prompts, 0);  // the shipped library cannot decrypt, so it never asks
  for (const char* name : {"test_read_format_rar4_encrypted_filenames.rar", "test_read_format_rar5_encrypted_filenames.rar",
                           "test_read_format_rar_encryption_header.rar", "test_read_format_rar_invalid1.rar"})
    EXPECT_FALSE(listRar(q(folder / name), kShippedFolder)) << name;
  for (const char* name : {"test_read_format_rar_noeof.rar", "test_read_format_rar5_truncated_huff.rar"}) {
    const QString path = q(folder / name);
    const auto list = listRar(path, kShippedFolder);
    if (!list) continue;
    RarContext context;
    context.pluginFolder = kShippedFolder;
    for (const MemberEntry& e : list->entries) {
      PixelBuffer block;
      extractRar(context, path, e.position, block);
    }
  }
  EXPECT_FALSE(listRar(q(test::testdata("zip/generated/stored.zip")), kShippedFolder));
}

}  // namespace
}  // namespace velorin
