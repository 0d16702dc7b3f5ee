// The scratch files' names, `.reframe-XXXXXX.avi`, shared by each platform's way of making
// and locking them.
#pragma once

#include <cstddef>
#include <string>

inline constexpr size_t TEMPORARY_RANDOM_BYTES = 6;

// The scratch name whose random part the bytes choose, one letter or digit each.
std::u16string TemporaryNameFrom(const unsigned char (&bytes)[TEMPORARY_RANDOM_BYTES]);
