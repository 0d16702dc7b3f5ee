// Windows only: the C++ side of the tool reports file failures through errno (strerror in its
// messages, EEXIST for a name that appeared meanwhile); this sets errno from GetLastError().
#pragma once

// Sets errno to the nearest match of the calling thread's last Windows error.
void SetErrnoFromLastError();
