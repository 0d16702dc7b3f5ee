// The shell's three modal dialogs: choosing a file to open, choosing a file to save, and a
// message box with one OK button. Each call blocks until the user closes the dialog; while
// it is up the tool's windows take no input.
#pragma once

#include <cstdint>
#include <string>

#ifndef IDOK  // windows.h has it as a macro of the same value
constexpr int32_t IDOK = 1;
#endif

void InitRequesters();

// `pattern` lists label|pattern pairs ("AVI|*.avi|All Files|*.*"); `position` is the pair
// selected at the start. `defaultPath` gives the starting folder and file name. The result
// is the full path chosen, or empty text when the user cancelled.
std::u16string AskOpenFile(const std::u16string& title, const std::u16string& defaultPath,
                           const std::u16string& pattern, int32_t position);
// Never asks before an existing file is chosen and adds no extension.
std::u16string AskSaveFile(const std::u16string& title, const std::u16string& defaultPath,
                           const std::u16string& pattern, int32_t position);

// One line of text under `title`, no icon; returns IDOK.
int32_t ShowMessage(const std::u16string& title, const std::u16string& text);
