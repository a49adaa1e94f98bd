#include "imaging/processing.h"

namespace velorin {

void buildProcessingTables(ProcessingTables& tables, const ProcessingSettings& settings) {
  tables.settings = settings;
}

bool processImage(WorkingImage& image, ProcessingTables& tables) {
  return true;  // the operations are not built yet
}

}  // namespace velorin
