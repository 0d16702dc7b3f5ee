// What the Start button does: convert the source file into the destination file.
#pragma once

void RunConversionJob();
