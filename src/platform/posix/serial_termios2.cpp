// Baud rates without a termios constant (14400, 56000, 128000, 256000 ...):
// set through the kernel's termios2 with BOTHER. Kept in its own file because
// the kernel's termios headers clash with the C library's <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace orv::platform {

int SetSerialCustomBaud(int fd, int baud) {
    struct termios2 tio;
    if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = static_cast<speed_t>(baud);
    tio.c_ospeed = static_cast<speed_t>(baud);
    if (ioctl(fd, TCSETS2, &tio) != 0) return errno;
    return 0;
}

}  // namespace orv::platform
