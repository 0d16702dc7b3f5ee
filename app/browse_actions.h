// The two browse buttons' actions: a file requester fills the source or destination field.
#pragma once

// The file types both requesters offer, the first pair selected.
inline constexpr char16_t FileTypePattern[] = u"AVI|*.avi|All Files|*.*";

void BrowseSource();
void BrowseDestination();
