// Cuts the power to an ext4 file system, as far as its own files can tell: the file system is
// shut down at once and its journal is not flushed, so whatever was not committed yet is lost
// and the next mount replays only what a real power cut would have left.
//   fs_shutdown PATH    PATH is the mount point or any file or folder on the file system
// Exit code 0 when the file system is down, 1 when the kernel refused, 2 for bad arguments.
// Needs CAP_SYS_ADMIN (root).
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

// From the kernel's fs/ext4/ext4.h; the distribution's headers do not carry them. The same
// request number is XFS's and F2FS's shutdown, which take the same flags.
#ifndef EXT4_IOC_SHUTDOWN
#define EXT4_IOC_SHUTDOWN _IOR('X', 125, uint32_t)
#endif
#ifndef EXT4_GOING_FLAGS_NOLOGFLUSH
#define EXT4_GOING_FLAGS_NOLOGFLUSH 0x2
#endif

int main(int argc, char** argv) {
    if (argc != 2 || argv[1][0] == '\0') {
        fprintf(stderr, "usage: fs_shutdown PATH\n");
        return 2;
    }
    // A folder opens read-only as well as a file does; the request needs no write access.
    const int fd = open(argv[1], O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        fprintf(stderr, "fs_shutdown: %s: %s\n", argv[1], strerror(errno));
        return 1;
    }
    uint32_t flags = EXT4_GOING_FLAGS_NOLOGFLUSH;
    if (ioctl(fd, EXT4_IOC_SHUTDOWN, &flags) != 0) {
        fprintf(stderr, "fs_shutdown: %s: the file system refused to shut down: %s\n", argv[1],
                strerror(errno));
        close(fd);
        return 1;
    }
    close(fd);
    return 0;
}
