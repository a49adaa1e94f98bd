// What the settings pages show for the current settings: which controls are shown or enabled,
// which colour depths the depth list offers, what the one-line summary says, and how typed
// numbers are corrected. Widget-free so the rules are tested without a window.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

#include "settings/conversion_settings.h"

namespace velorin {

struct PageControlStates {
  bool pngShown = false;         // compression level (1112..1115)
  bool noOptionsShown = false;   // "no options for this format" (1111)
  bool jpegShown = false;        // quality, sampling, size limit (1120..1128)
  bool limitEnabled = false;     // the size-limit value (1126..1128)
  bool markerShown = false;      // marker list of the lossless transform (1129, 1130)
  bool transparencyEnabled = false;
  bool interlaceEnabled = false;
  bool progressiveEnabled = false;
  bool exifCopyEnabled = false;
  bool commentEnabled = false;
  bool resizeEnabled = false;      // the resize and sharpening lists
  bool resizeSizeEnabled = false;  // the size field
  bool serialEnabled = false;      // digits and start number
  bool adjustmentsEnabled = false;
  bool deleteEnabled = false;   // IFileDel
  bool recycleEnabled = false;  // Recycle
  bool extensionFiltersEnabled = false;
};

// archiveInput: the input is an archive, whose members are never deleted.
PageControlStates pageControlStates(const ConversionSettings& settings, bool archiveInput);

// The DepOpt values the colour-depth list offers for the output format, "keep" (0) first; with
// the lossless transform the JPEG list. Entry i shows text 20500 + value.
std::vector<int> depthChoices(int OFmt, bool JTrans);
inline constexpr int kDepthTextBase = 20500;

// Rebuilding the depth list: a DepOpt the list does not offer becomes 0.
void keepDepthAmongChoices(ConversionSettings& settings);

// The text ids the summary of the output options lists, in order; empty means "(none)".
std::vector<int> outputSummaryIds(const ConversionSettings& settings);
inline constexpr int kSummaryNoneText = 20023;

// The reset button of the output summary: depth back to "keep" and every output option and
// adjustment switched off; dither and the adjustment levels stay.
void resetOutputOptions(ConversionSettings& settings);

// The lossless transform takes JPEG files to JPEG files; choosing another input or output
// format switches it off.
void setLosslessTransform(ConversionSettings& settings, bool on);
void chooseInputFormat(ConversionSettings& settings, int IFmt);
void chooseOutputFormat(ConversionSettings& settings, int OFmt);

// The sampling list has two entries: entry 0 stores 0, entry 1 stores 2.
int samplingEntry(int Sampling);
int samplingValue(int entry);

// The value a number field's text stands for, limited to minimum..maximum; text that is no
// number (an empty field) reads as 0 before the limit. A field shows this value again when it
// loses the focus, and an adjustment's slider follows it while the field is edited.
int limitedNumber(const QString& text, int minimum, int maximum);

struct AdjustmentRange {
  int minimum;
  int maximum;
};
inline constexpr AdjustmentRange kGammaRange{-100, 100};
inline constexpr AdjustmentRange kContrastRange{-100, 100};
inline constexpr AdjustmentRange kSaturationRange{-255, 255};
inline constexpr AdjustmentRange kHueRange{-180, 180};

// The disabled plug-ins still worth keeping: the names that are still in the folder.
QStringList keptDisabledPlugins(const QStringList& disabled, const QStringList& present);

}  // namespace velorin
