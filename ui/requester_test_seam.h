// Lets tests stand in for the user at the dialogs: with an override set, the file dialogs
// and message boxes are not shown and the override answers instead. Only test programs
// call this; the tool itself never does.
#pragma once

#include <cstdint>
#include <string>

#include "ui/file_request.h"

using FileRequesterOverride = std::u16string (*)(const FileRequest& request);
using MessageRequesterOverride = int32_t (*)(const std::u16string& title,
                                             const std::u16string& text);

// Null pointers bring the real dialogs back.
void SetRequesterOverrideForTests(FileRequesterOverride files, MessageRequesterOverride messages);
