// What makes a name a scratch file's, on every platform.
#include "support/temporary_files.h"

#include "support/temporary_name.h"

namespace {

constexpr std::string_view PREFIX = ".reframe-";
constexpr std::string_view SUFFIX = ".avi";
constexpr char LETTERS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

}  // namespace

std::string TemporaryNameFrom(const unsigned char (&bytes)[TEMPORARY_RANDOM_BYTES]) {
    std::string name(PREFIX);
    for (unsigned char byte : bytes) name += LETTERS[byte % (sizeof LETTERS - 1)];
    name += SUFFIX;
    return name;
}

bool IsTemporaryName(std::string_view name) {
    if (name.size() != PREFIX.size() + TEMPORARY_RANDOM_BYTES + SUFFIX.size()) return false;
    if (!name.starts_with(PREFIX) || !name.ends_with(SUFFIX)) return false;
    for (char c : name.substr(PREFIX.size(), TEMPORARY_RANDOM_BYTES)) {
        const bool letter =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!letter) return false;
    }
    return true;
}
