#include "session/qt_serial_line.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QThread>

#include <algorithm>
#include <cstring>
#include <utility>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace kelvane::session {
namespace {

QSerialPort::StopBits toQt(link::StopBits s) {
    return s == link::StopBits::Two ? QSerialPort::TwoStop : QSerialPort::OneStop;
}

QSerialPort::DataBits toQtBits(int bits) {
    switch (bits) {
    case 5: return QSerialPort::Data5;
    case 6: return QSerialPort::Data6;
    case 7: return QSerialPort::Data7;
    default: return QSerialPort::Data8;
    }
}

// The device a port name opens, as QSerialPort finds it: a path as it
// stands, a bare name in /dev.
std::string deviceLocation(const std::string& name) {
#ifdef Q_OS_WIN
    return name;
#else
    if (name.rfind('/', 0) == 0 || name.rfind("./", 0) == 0 || name.rfind("../", 0) == 0) return name;
    return "/dev/" + name;
#endif
}

link::OpenError reported(QSerialPort::SerialPortError e) {
    switch (e) {
    case QSerialPort::DeviceNotFoundError: return link::OpenError::NotFound;
    case QSerialPort::PermissionError: return link::OpenError::AccessDenied;
    default: return link::OpenError::Other;
    }
}

// A peer that hung up (pty closed) or a removed device: waits fail at once.
bool hardError(QSerialPort& port) {
    auto e = port.error();
    return e != QSerialPort::NoError && e != QSerialPort::TimeoutError;
}

#ifdef Q_OS_UNIX
// QSerialPort's open writes its own flow control and parity mode to the
// driver. The driver's values are read first, through a descriptor kept open
// until the port is open, so that closing it cannot be the last close (which
// would drop DTR), and given to QSerialPort to write back.
class DriverSettings {
public:
    explicit DriverSettings(const std::string& name) {
        const std::string path = name.rfind('/', 0) == 0 ? name : "/dev/" + name;
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ >= 0 && ::tcgetattr(fd_, &t_) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~DriverSettings() {
        if (fd_ >= 0) ::close(fd_);
    }
    DriverSettings(const DriverSettings&) = delete;
    DriverSettings& operator=(const DriverSettings&) = delete;

    void applyTo(QSerialPort& port) const {
        if (fd_ < 0) return;
        if (t_.c_cflag & CRTSCTS)
            port.setFlowControl(QSerialPort::HardwareControl);
        else if (t_.c_iflag & (IXON | IXOFF))
            port.setFlowControl(QSerialPort::SoftwareControl);
        else
            port.setFlowControl(QSerialPort::NoFlowControl);
        if (!(t_.c_cflag & PARENB))
            port.setParity(QSerialPort::NoParity);
        else if (t_.c_cflag & CMSPAR)
            port.setParity(t_.c_cflag & PARODD ? QSerialPort::MarkParity : QSerialPort::SpaceParity);
        else
            port.setParity(t_.c_cflag & PARODD ? QSerialPort::OddParity : QSerialPort::EvenParity);
    }

private:
    int fd_ = -1;
    termios t_{};
};

// Parity checking of received bytes on or off, the parity mode untouched.
void setParityCheck(QSerialPort& port, bool on) {
    termios t{};
    const int fd = static_cast<int>(port.handle());
    if (::tcgetattr(fd, &t) != 0) return;
    t.c_iflag = on ? (t.c_iflag | INPCK) : (t.c_iflag & ~static_cast<tcflag_t>(INPCK));
    ::tcsetattr(fd, TCSANOW, &t);
}
#else
// Elsewhere QSerialPort's open writes its own values (no flow control, no
// parity); the parity check goes with the parity mode.
struct DriverSettings {
    explicit DriverSettings(const std::string&) {}
    void applyTo(QSerialPort&) const {}
};
void setParityCheck(QSerialPort&, bool) {}
#endif

}  // namespace

QtSerialLine::QtSerialLine(link::SerialFlagsAccess flags) : lowLatency_(std::move(flags)) {}

bool QtSerialLine::lowLatencyActive() const {
#ifdef Q_OS_UNIX
    const link::SerialFlagsAccess access = link::driverSerialFlags();
    int flags = 0;
    return port_ && port_->isOpen() && access.get && access.get(static_cast<int>(port_->handle()), flags) &&
           (flags & link::kLowLatencyFlag) != 0;
#else
    // Only a Linux serial driver has the low-latency flag.
    return false;
#endif
}

QtSerialLine::~QtSerialLine() { close(); }

bool QtSerialLine::open(const std::string& name) {
    if (isOpen()) {
        openFailure_ = link::OpenFailure::Busy;
        return false;
    }
    port_ = std::make_unique<QSerialPort>();
    port_->setPortName(QString::fromStdString(name));
    const DriverSettings driver(name);
    driver.applyTo(*port_);
    // QSerialPort opens exclusively: a lock file plus TIOCEXCL on Unix, no
    // sharing on Windows.
    if (name.empty() || !port_->open(QIODevice::ReadWrite)) {
        openFailure_ = name.empty() ? link::OpenFailure::NoSuchPort
                                    : link::openFailureCause(deviceLocation(name), reported(port_->error()));
        port_.reset();
        return false;
    }
    openFailure_ = link::OpenFailure::None;
#ifdef Q_OS_UNIX
    // USB adapters pass received bytes on at once, not after their latency
    // timer; a pty or a driver that refuses works as before.
    lowLatency_.enable(static_cast<int>(port_->handle()));
#endif
    port_->setReadBufferSize(0);
    // A port starts with nothing to read, as a serial driver has it on open:
    // a pty keeps what the far end sent while it was closed (the rest of a
    // cancelled download), which the next probe would take as its answer.
    port_->clear(QSerialPort::Input);
    // The line settings are the caller's (setLine); flow control stays as the
    // driver has it.
    return true;
}

bool QtSerialLine::isOpen() const { return port_ && port_->isOpen(); }

void QtSerialLine::close() {
    if (!port_) return;
    // After a Stop or Cancel nothing more may go out: bytes still waiting in
    // the driver are dropped, not sent.
    if (interrupted_) port_->clear(QSerialPort::Output);
    lowLatency_.restore();
    port_->close();
    port_.reset();
}

void QtSerialLine::setLine(const link::LineSettings& s) {
    if (!isOpen()) return;
    // Only the open is checked; a setting a pty cannot take (DTR) is ignored.
    port_->setBaudRate(s.baud);
    port_->setDataBits(toQtBits(s.dataBits));
    if (s.setParity) port_->setParity(QSerialPort::NoParity);
    setParityCheck(*port_, s.parityCheck);
    port_->setStopBits(toQt(s.stopBits));
    if (s.setDtr) port_->setDataTerminalReady(s.dtr);
    port_->clearError();
}

std::size_t QtSerialLine::read(std::uint8_t* buf, std::size_t n) {
    if (!isOpen() || n == 0 || interrupted_) return 0;
    QElapsedTimer clock;
    clock.start();
    const qint64 deadline = timeouts_.readTotal(n);
    qint64 lastByte = -1;
    qint64 pulledAt = -1;  // the time-out end at which the driver was last asked
    std::size_t got = 0;
    while (got < n) {
        if (port_->bytesAvailable() > 0) {
            qint64 r = port_->read(reinterpret_cast<char*>(buf + got), static_cast<qint64>(n - got));
            if (r > 0) {
                got += static_cast<std::size_t>(r);
                lastByte = clock.elapsed();
                continue;
            }
        }
        if (interrupted_) break;
        qint64 now = clock.elapsed();
        qint64 end = deadline;
        if (lastByte >= 0) end = std::min(end, lastByte + timeouts_.readInterval);
        if (now >= end) {
            // Bytes already in the driver when a time-out ends still count, as
            // the driver's own time-outs have it: the port hands them over only
            // when asked, and a loaded machine may not have run this loop while
            // they arrived (the rest of a frame would be cut off as if the line
            // had paused). Asked once per end; an answer moves the interval's.
            if (pulledAt != end && !hardError(*port_)) {
                pulledAt = end;
                if (port_->waitForReadyRead(0)) continue;
                if (port_->error() == QSerialPort::TimeoutError) port_->clearError();
            }
            break;
        }
        int wait = static_cast<int>(std::min<qint64>(end - now, kSliceMs));
        if (hardError(*port_)) {
            // Nothing more will come; wait out the time-out like a silent line.
            QThread::msleep(static_cast<unsigned long>(wait));
        } else if (!port_->waitForReadyRead(wait)) {
            if (port_->error() == QSerialPort::TimeoutError) port_->clearError();
        }
    }
    return got;
}

std::size_t QtSerialLine::write(const std::uint8_t* data, std::size_t n) {
    if (!isOpen() || interrupted_) return 0;
    if (n == 0) return 0;
    std::size_t direct = 0;
#ifdef Q_OS_UNIX
    // Straight to the driver when nothing of ours waits before it: QSerialPort
    // would first poll the descriptor and then write, one system call more
    // between an answer and the next frame. What the driver does not take at
    // once goes the usual way.
    if (port_->bytesToWrite() == 0) {
        const ssize_t w = ::write(static_cast<int>(port_->handle()), data, n);
        if (w > 0) direct = static_cast<std::size_t>(w);
        if (direct == n) return n;
    }
#endif
    qint64 queued = port_->write(reinterpret_cast<const char*>(data + direct), static_cast<qint64>(n - direct));
    if (queued <= 0) return direct;
    QElapsedTimer clock;
    clock.start();
    const qint64 deadline =
        static_cast<qint64>(timeouts_.writeTotalMultiplier) * static_cast<qint64>(n) + timeouts_.writeTotalConstant;
    while (port_->bytesToWrite() > 0 && !interrupted_ && !hardError(*port_)) {
        qint64 left = deadline - clock.elapsed();
        if (left <= 0) break;
        if (!port_->waitForBytesWritten(static_cast<int>(std::min<qint64>(left, kSliceMs)))) {
            if (port_->error() == QSerialPort::TimeoutError) port_->clearError();
        }
    }
    qint64 pending = port_->bytesToWrite();
    if (pending > 0) {
        // What did not go out in time is dropped, as a timed-out write would.
        port_->clear(QSerialPort::Output);
    }
    return direct + static_cast<std::size_t>(std::max<qint64>(0, queued - pending));
}

void QtSerialLine::purgeInput() {
    if (!isOpen()) return;
    // On Windows the port keeps a read running in the background; bytes it has
    // finished reading but not yet handed over would arrive after the clear as
    // if they were new (the bootloader's banner read as the answer to a block).
    // They are taken in first, a bounded number of times for a line that
    // keeps sending, so that the clear drops them too.
    for (int pending = 0; pending < 16 && !hardError(*port_) && port_->waitForReadyRead(0); ++pending) {
    }
    if (port_->error() == QSerialPort::TimeoutError) port_->clearError();
    port_->clear(QSerialPort::Input);
    port_->readAll();
}

void QtSerialLine::purgeOutput() {
    if (isOpen()) port_->clear(QSerialPort::Output);
}

}  // namespace kelvane::session
