// The Windows programs as Windows expects them: icon resource 1, a version record that names
// the product and its version, and a manifest that binds version 6 of the common controls.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const wchar_t* const kPrograms[] = {L"reframe-convert.exe", L"vidcrunch.exe"};

// The programs are built into the folder that holds this test.
std::wstring ProgramPath(const wchar_t* name) {
    wchar_t own[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
    std::wstring folder(own, length);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1) + name;
}

std::wstring VersionString(const std::wstring& path, const wchar_t* field) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return L"";
    std::vector<char> block(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return L"";
    void* value = nullptr;
    UINT length = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + field;
    if (!VerQueryValueW(block.data(), query.c_str(), &value, &length) || length == 0) return L"";
    return std::wstring(static_cast<const wchar_t*>(value));
}

}  // namespace

TEST(ProgramResources, IconVersionAndManifest) {
    for (const wchar_t* name : kPrograms) {
        SCOPED_TRACE(testing::Message() << "program " << std::string(name, name + wcslen(name)));
        const std::wstring path = ProgramPath(name);
        HMODULE module = LoadLibraryExW(path.c_str(), nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr);
        EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(1), RT_GROUP_ICON), nullptr);

        HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
        ASSERT_NE(manifest, nullptr);
        const auto* text = static_cast<const char*>(LockResource(LoadResource(module, manifest)));
        const std::string xml(text, SizeofResource(module, manifest));
        EXPECT_NE(xml.find("Microsoft.Windows.Common-Controls"), std::string::npos);
        EXPECT_NE(xml.find("version=\"6.0.0.0\""), std::string::npos);
        FreeLibrary(module);

        EXPECT_EQ(VersionString(path, L"ProductName"), L"Reframe");
        EXPECT_EQ(VersionString(path, L"ProductVersion"), REFRAME_VERSION_TEXT);
        EXPECT_EQ(VersionString(path, L"OriginalFilename"), name);
    }
}
