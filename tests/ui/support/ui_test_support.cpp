#include "support/ui_test_support.h"

namespace velorin::test {

namespace {
void writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  QCOMPARE(file.write(bytes), bytes.size());
}

void le(QByteArray& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
}
}  // namespace

void writeGoodBmp(const QString& path) {
  constexpr int kWidth = 4, kHeight = 2, kRow = kWidth * 3;
  QByteArray bmp("BM");
  le(bmp, 54 + kRow * kHeight, 4);
  le(bmp, 0, 4);
  le(bmp, 54, 4);
  le(bmp, 40, 4);
  le(bmp, kWidth, 4);
  le(bmp, kHeight, 4);
  le(bmp, 1, 2);
  le(bmp, 24, 2);
  le(bmp, 0, 4);
  le(bmp, kRow * kHeight, 4);
  le(bmp, 2835, 4);
  le(bmp, 2835, 4);
  le(bmp, 0, 4);
  le(bmp, 0, 4);
  for (int i = 0; i < kRow * kHeight; ++i) bmp.append(static_cast<char>(i * 7));
  writeFile(path, bmp);
}

void writeBrokenBmp(const QString& path) { writeFile(path, QByteArray("BM this is not a bitmap")); }

}  // namespace velorin::test
