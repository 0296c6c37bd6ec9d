#include "link/low_latency.h"

#ifdef __linux__
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace kelvane::link {

#ifdef __linux__
const int kLowLatencyFlag = ASYNC_LOW_LATENCY;

SerialFlagsAccess driverSerialFlags() {
    return {[](int fd, int& flags) {
                serial_struct s{};
                if (::ioctl(fd, TIOCGSERIAL, &s) != 0) return false;
                flags = s.flags;
                return true;
            },
            [](int fd, int flags) {
                serial_struct s{};
                if (::ioctl(fd, TIOCGSERIAL, &s) != 0) return false;
                s.flags = flags;
                return ::ioctl(fd, TIOCSSERIAL, &s) == 0;
            }};
}
#else
const int kLowLatencyFlag = 1 << 13;

SerialFlagsAccess driverSerialFlags() {
    return {[](int, int&) { return false; }, [](int, int) { return false; }};
}
#endif

bool LowLatency::enable(int fd) {
    restore();
    int flags = 0;
    if (fd < 0 || !access_.get || !access_.set || !access_.get(fd, flags)) return false;
    if (flags & kLowLatencyFlag) return false;
    if (!access_.set(fd, flags | kLowLatencyFlag)) return false;
    fd_ = fd;
    return true;
}

void LowLatency::restore() {
    if (fd_ < 0) return;
    int flags = 0;
    // Only the flag set here comes off; whatever else changed meanwhile stays.
    if (access_.get(fd_, flags)) access_.set(fd_, flags & ~kLowLatencyFlag);
    fd_ = -1;
}

}  // namespace kelvane::link
