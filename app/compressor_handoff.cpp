#include "app/compressor_handoff.h"

void RunCompressor() {
    // The compressor is not part of the build yet: the uncompressed destination stays.
}
