#include "app/conversion_job.h"

void RunConversionJob() {
  // The conversion engine is not part of the build yet; until it is, Start does nothing.
}
