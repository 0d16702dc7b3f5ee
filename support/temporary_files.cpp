// What makes a name a scratch file's, on every platform.
#include "support/temporary_files.h"

#include "support/temporary_name.h"

namespace {

constexpr std::string_view PREFIX = ".reframe-";
constexpr std::string_view SUFFIX = ".avi";
constexpr char LETTERS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// The names are ASCII: each unit of a name in bytes or in UTF-16 is compared as a number.
template <typename Unit>
bool HasTemporaryForm(std::basic_string_view<Unit> name) {
    if (name.size() != PREFIX.size() + TEMPORARY_RANDOM_BYTES + SUFFIX.size()) return false;
    for (size_t i = 0; i < PREFIX.size(); ++i)
        if (name[i] != static_cast<Unit>(PREFIX[i])) return false;
    for (size_t i = 0; i < SUFFIX.size(); ++i)
        if (name[name.size() - SUFFIX.size() + i] != static_cast<Unit>(SUFFIX[i])) return false;
    for (Unit c : name.substr(PREFIX.size(), TEMPORARY_RANDOM_BYTES)) {
        const bool letter =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!letter) return false;
    }
    return true;
}

}  // namespace

std::u16string TemporaryNameFrom(const unsigned char (&bytes)[TEMPORARY_RANDOM_BYTES]) {
    std::u16string name(PREFIX.begin(), PREFIX.end());
    for (unsigned char byte : bytes)
        name += static_cast<char16_t>(LETTERS[byte % (sizeof LETTERS - 1)]);
    name.append(SUFFIX.begin(), SUFFIX.end());
    return name;
}

bool IsTemporaryName(std::string_view name) {
    return HasTemporaryForm(name);
}

bool IsTemporaryName(std::u16string_view name) {
    return HasTemporaryForm(name);
}
