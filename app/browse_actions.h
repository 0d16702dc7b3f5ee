// The ways a source or destination reaches the window: the two browse buttons' file
// requesters, files dropped on the window, and a source named on the command line.
#pragma once

#include <string>

// The file types both requesters offer, the first pair selected.
inline constexpr char16_t FileTypePattern[] = u"AVI|*.avi|All Files|*.*";

void BrowseSource();
void BrowseDestination();

// The last EVENT_DROP_FILES: a file dropped on the destination field becomes the
// destination; dropped anywhere else it becomes the source, as if picked with the source's
// browse button, and an empty destination field gets a suggested name beside it.
void TakeDroppedFile();

// A source given on the command line fills the width and height, as the browse button does.
void FillSizesFromCommandLineSource();

// A free name for the converted copy of `source`: NAME-resized.avi in the source's folder,
// numbered (NAME-resized-1.avi, ...) when that is taken; empty when none is free.
std::u16string SuggestedDestination(const std::u16string& source);

// A path field filled from a command-line parameter that was not UTF-8 text names another
// file than the one meant: such a field is emptied and the user told, before anything opens.
void RefuseCommandLineNamesThatAreNotText();
