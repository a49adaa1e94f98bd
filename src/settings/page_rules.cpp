#include "settings/page_rules.h"

#include <algorithm>

namespace velorin {

namespace {

constexpr int kBmp = 0, kPng = 1, kJpeg = 2, kGif = 4;
constexpr int kJpegInput = 3;
constexpr int kUserExtensions = 6;

bool sameNameIgnoringCase(const QString& a, const QString& b) {
  return a.compare(b, Qt::CaseInsensitive) == 0;
}

}  // namespace

PageControlStates pageControlStates(const ConversionSettings& s, bool archiveInput) {
  PageControlStates c;
  const bool decoding = !s.JTrans;
  c.pngShown = decoding && s.OFmt == kPng;
  c.jpegShown = decoding && s.OFmt == kJpeg;
  c.noOptionsShown = decoding && !c.pngShown && !c.jpegShown;
  c.limitEnabled = s.Limit;
  c.markerShown = s.JTrans;
  c.transparencyEnabled = decoding && (s.OFmt == kPng || s.OFmt == kGif);
  c.interlaceEnabled = c.transparencyEnabled;
  c.progressiveEnabled = s.OFmt == kJpeg || s.JTrans;
  c.exifCopyEnabled = decoding && s.OFmt == kJpeg;
  c.commentEnabled = s.OFmt == kPng || s.OFmt == kJpeg || s.JTrans;
  c.resizeEnabled = decoding;
  // The size field belongs to the resize list, which the transform disables too.
  c.resizeSizeEnabled = decoding && s.RszOpt != 0;
  c.serialEnabled = s.NameSet == 2;
  c.adjustmentsEnabled = decoding;
  c.deleteEnabled = !archiveInput;
  c.recycleEnabled = !archiveInput && s.IFileDel;
  c.extensionFiltersEnabled = s.IFmt == kUserExtensions;
  return c;
}

std::vector<int> depthChoices(int OFmt, bool JTrans) {
  if (JTrans) OFmt = kJpeg;
  switch (OFmt) {
    case kPng: return {0, 1, 2, 3, 4, 5, 6};
    case kJpeg: return {0, 1, 6};
    case 3: return {0, 1, 2, 3, 5, 6};
    case kGif: return {0, 2, 3, 4, 5};
    case kBmp:
    default: return {0, 1, 2, 3, 5};
  }
}

void keepDepthAmongChoices(ConversionSettings& s) {
  const std::vector<int> choices = depthChoices(s.OFmt, s.JTrans);
  if (std::find(choices.begin(), choices.end(), s.DepOpt) == choices.end()) s.DepOpt = 0;
}

std::vector<int> outputSummaryIds(const ConversionSettings& s) {
  std::vector<int> ids;
  auto add = [&ids](bool on, int id) {
    if (on) ids.push_back(id);
  };
  add(s.DepOpt != 0, 1311);
  if (s.JTrans) {
    add(s.Progressive, 1316);
    add(s.CmtOpt, 20102);
    return ids;
  }
  switch (s.OFmt) {
    case kJpeg:
      add(s.Progressive, 1316);
      add(s.CopyExif, 20100);
      add(s.CmtOpt, 20102);
      break;
    case kPng:
      add(s.CmtOpt, 20102);
      add(s.Trans, 20101);
      add(s.Interlace, 1315);
      break;
    case kGif:
      add(s.Trans, 20101);
      add(s.Interlace, 1315);
      break;
    default: break;
  }
  add(s.HgmOpt, 20103);
  add(s.GamOpt, 20104);
  add(s.CrtOpt, 20105);
  add(s.HlsSOpt, 20106);
  add(s.HlsHOpt, 20107);
  return ids;
}

void resetOutputOptions(ConversionSettings& s) {
  s.DepOpt = 0;
  for (bool ConversionSettings::*flag :
       {&ConversionSettings::Trans, &ConversionSettings::Interlace, &ConversionSettings::Progressive,
        &ConversionSettings::CopyExif, &ConversionSettings::CmtOpt, &ConversionSettings::HgmOpt,
        &ConversionSettings::GamOpt, &ConversionSettings::CrtOpt, &ConversionSettings::HlsSOpt,
        &ConversionSettings::HlsHOpt})
    s.*flag = false;
}

void setLosslessTransform(ConversionSettings& s, bool on) {
  s.JTrans = on;
  if (on) {
    s.IFmt = kJpegInput;
    s.OFmt = kJpeg;
  }
  keepDepthAmongChoices(s);
}

void chooseInputFormat(ConversionSettings& s, int IFmt) {
  if (IFmt != s.IFmt) s.JTrans = false;
  s.IFmt = IFmt;
}

void chooseOutputFormat(ConversionSettings& s, int OFmt) {
  if (OFmt != s.OFmt) s.JTrans = false;
  s.OFmt = OFmt;
  keepDepthAmongChoices(s);
}

int samplingEntry(int Sampling) { return Sampling == 2 ? 1 : 0; }
int samplingValue(int entry) { return entry == 1 ? 2 : 0; }

int limitedNumber(const QString& text, int minimum, int maximum) {
  bool ok = false;
  // Long digit runs would overflow int; anything past the range is limited anyway.
  const qlonglong value = text.trimmed().left(12).toLongLong(&ok);
  return static_cast<int>(std::clamp<qlonglong>(ok ? value : 0, minimum, maximum));
}

QStringList keptDisabledPlugins(const QStringList& disabled, const QStringList& present) {
  QStringList kept;
  for (const QString& name : disabled) {
    const bool found = std::any_of(present.begin(), present.end(),
                                   [&name](const QString& p) { return sameNameIgnoringCase(name, p); });
    if (found) kept.append(name);
  }
  return kept;
}

}  // namespace velorin
