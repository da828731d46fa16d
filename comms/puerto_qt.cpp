#include "comms/puerto_qt.h"

#include "common/tiempos.h"

#include <QSerialPort>
#include <QThread>

#include <algorithm>
#include <chrono>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#ifdef __linux__
#include <linux/serial.h>
#endif
#include <termios.h>
#include <unistd.h>
#endif

namespace {
int to_ms(Tiempo t) {
    const long long v = (t.count() + 999) / 1000;
    return static_cast<int>(std::clamp<long long>(v, 0, 1 << 30));
}
// Where the system has the device: Qt takes a bare name ("ttyUSB0") as one below /dev.
std::string ubicacion_sistema(const std::string& name) {
#ifdef _WIN32
    return name;
#else
    return name.empty() || name.front() == '/' ? name : "/dev/" + name;
#endif
}
} // namespace

PuertoQt::PuertoQt(std::string name) : name_(std::move(name)) {}

PuertoQt::~PuertoQt() {
    ComReset();
}

bool PuertoQt::lineGone() const {
    if (!port_ || !port_->isOpen())
        return true;
#ifdef _WIN32
    return false; // Windows reports a removed device as a resource error of the call
#else
    // An unplugged adapter (and a pseudo-terminal whose far end closed) is hung up:
    // reads then give end-of-file, which Qt does not report as an error at all.
    pollfd p{static_cast<int>(port_->handle()), 0, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#endif
}

void PuertoQt::noteError() {
    if (!port_)
        return;
    switch (port_->error()) {
    case QSerialPort::NoError:
        break;
    case QSerialPort::ResourceError:
    case QSerialPort::DeviceNotFoundError:
#ifndef _WIN32
        // Qt also reports a full driver buffer (EAGAIN) as a resource error: the port
        // has failed only if the line is really gone.
        if (!lineGone()) {
            port_->clearError();
            break;
        }
#endif
        failed_ = true; // unplugged or gone
        break;
    default:
        // Time-outs of the polling waits and what a pseudo-terminal cannot do (DTR,
        // parity) are not failures of the port.
        port_->clearError();
        break;
    }
}

void PuertoQt::noteWaitEnded() {
    noteError();
    if (!failed_ && lineGone())
        failed_ = true;
}

void PuertoQt::ComInit(uint8_t) {
    port_ = std::make_unique<QSerialPort>();
    port_->setPortName(QString::fromStdString(name_));
    failed_ = false;
    // QSerialPort takes the port exclusively (lock file and TIOCEXCL): a port that
    // another program holds is refused here.
    openFailure_ = {};
    result_ = port_->open(QIODevice::ReadWrite) ? scOk : scError;
    if (result_ != scOk) {
        // Qt's reason is kept, and looked into, before its error is cleared: the
        // operator needs to know whether to plug something in, ask for a group, or
        // close another program.
        const auto error = port_->error() == QSerialPort::DeviceNotFoundError
                               ? ErrorApertura::NoEncontrado
                           : port_->error() == QSerialPort::PermissionError ? ErrorApertura::Permiso
                                                                            : ErrorApertura::Otro;
        openFailure_ = diagnosticar_apertura(ubicacion_sistema(name_), error,
                                             port_->errorString().toStdString());
        port_->clearError();
    }
    openNote_.clear();
    if (result_ == scOk)
        requestLowLatency();
}

// A USB serial adapter holds received bytes for up to its latency timer (16 ms by
// default on the common chips) before passing them on, and every ACK the host
// waits for pays it: with several turnarounds per block that alone costs a third
// of the line rate. Low-latency mode asks the driver to pass them on at once. A
// pseudo-terminal or a plain UART refuses or ignores it; that is no failure.
void PuertoQt::requestLowLatency() {
#ifdef _WIN32
    // Reads return as soon as a byte is there, whatever the driver's defaults.
    const auto h = reinterpret_cast<HANDLE>(port_->handle());
    COMMTIMEOUTS t{};
    bool ok = GetCommTimeouts(h, &t) != 0;
    if (ok) {
        t.ReadIntervalTimeout = MAXDWORD;
        t.ReadTotalTimeoutMultiplier = 0;
        t.ReadTotalTimeoutConstant = 0;
        ok = SetCommTimeouts(h, &t) != 0;
    }
    openNote_ = ok ? "Low-latency reads: on" : "Low-latency reads: refused";
#elif defined(__linux__)
    const int fd = static_cast<int>(port_->handle());
    serial_struct ss{};
    std::string why;
    if (::ioctl(fd, TIOCGSERIAL, &ss) != 0) {
        why = std::strerror(errno);
    } else {
        ss.flags |= ASYNC_LOW_LATENCY;
        if (::ioctl(fd, TIOCSSERIAL, &ss) != 0)
            why = std::strerror(errno);
        else if (::ioctl(fd, TIOCGSERIAL, &ss) != 0 || !(ss.flags & ASYNC_LOW_LATENCY))
            why = "not kept";
    }
    openNote_ = why.empty() ? "Low-latency mode: on" : "Low-latency mode: refused (" + why + ")";
#endif
}

void PuertoQt::ComSetState(int32_t NewBaud, uint8_t NewDataBits, uint8_t NewStopBits,
                           char NewParity, uint8_t NewFlow) {
    if (!port_ || !port_->isOpen())
        return;
    port_->setBaudRate(NewBaud);
    port_->setDataBits(static_cast<QSerialPort::DataBits>(NewDataBits));
    port_->setStopBits(NewStopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    switch (NewParity) {
    case 'E':
        port_->setParity(QSerialPort::EvenParity);
        break;
    case 'O':
        port_->setParity(QSerialPort::OddParity);
        break;
    default:
        port_->setParity(QSerialPort::NoParity);
        break;
    }
    port_->setFlowControl(NewFlow == 0 ? QSerialPort::NoFlowControl : QSerialPort::HardwareControl);
    noteError();
}

void PuertoQt::ComSetBufSize(int32_t RxBufferSize, int32_t TxBufferSize) {
    if (!port_)
        return;
    port_->setReadBufferSize(std::max<int32_t>(RxBufferSize, 0));
    txLimit_ = std::max<int32_t>(TxBufferSize, 1);
}

void PuertoQt::ComRTSOff() {
    if (port_ && port_->isOpen()) {
        port_->setRequestToSend(false);
        noteError();
    }
}

bool PuertoQt::ComValid() {
    return port_ && port_->isOpen() && !failed_;
}

void PuertoQt::ComReset() {
    if (port_) {
        if (port_->isOpen())
            port_->close();
        port_.reset();
    }
}

void PuertoQt::ComBufClear(uint8_t BufDir) {
    if (!port_ || !port_->isOpen())
        return;
    if (BufDir == Dir_Inc) {
        port_->waitForReadyRead(0); // take in what the driver holds, then drop it
        port_->clear(QSerialPort::Input);
    } else {
        port_->clear(QSerialPort::Output);
    }
    noteError();
}

uint8_t PuertoQt::RS_LineState() {
    if (!port_ || !port_->isOpen() || failed_)
        return 0;
    return port_->bytesToWrite() < txLimit_ ? TX_READY : 0;
}

bool PuertoQt::ComWrite(uint8_t SCh) {
    if (!port_ || !port_->isOpen() || failed_)
        return false;
    const char c = static_cast<char>(SCh);
    const bool ok = port_->write(&c, 1) == 1;
    port_->flush(); // hand it to the driver now; there is no event loop to do it
    noteError();
    return ok;
}

int32_t PuertoQt::ComWriteBlock(const uint8_t* data, int32_t n) {
    if (!port_ || !port_->isOpen() || failed_ || n <= 0)
        return 0;
    // Up to the transmit limit, in one write and one flush: per-byte writes cost
    // a system call each and let the line idle whenever the thread is preempted
    // between two of them.
    const auto room = static_cast<qint64>(txLimit_) - port_->bytesToWrite();
    const qint64 k = std::min<qint64>(n, std::max<qint64>(room, 0));
    if (k == 0)
        return 0;
    const qint64 w = port_->write(reinterpret_cast<const char*>(data), k);
    port_->flush();
    noteError();
    return static_cast<int32_t>(std::max<qint64>(w, 0));
}

bool PuertoQt::ComRead(uint8_t& RCh) {
    if (!port_ || !port_->isOpen() || failed_)
        return false;
    if (port_->bytesAvailable() == 0) {
        port_->waitForReadyRead(0);
        noteError();
    }
    char c = 0;
    if (!port_->getChar(&c))
        return false;
    RCh = static_cast<uint8_t>(c);
    return true;
}

void PuertoQt::ComDTROn() {
    if (port_ && port_->isOpen()) {
        port_->setDataTerminalReady(true);
        noteError();
    }
}

void PuertoQt::ComDTROff() {
    if (port_ && port_->isOpen()) {
        port_->setDataTerminalReady(false);
        noteError();
    }
}

bool PuertoQt::ComWaitRx(Tiempo max) {
    if (!port_ || !port_->isOpen() || failed_) {
        reloj().sleepFor(max);
        return false;
    }
    if (port_->bytesAvailable() > 0)
        return true;
    const bool got = port_->waitForReadyRead(to_ms(max));
    if (!got)
        noteWaitEnded();
    return !failed_ && (got || port_->bytesAvailable() > 0);
}

bool PuertoQt::ComWaitTxReady(Tiempo max) {
    if (!port_ || !port_->isOpen() || failed_) {
        reloj().sleepFor(max);
        return false;
    }
    if (port_->bytesToWrite() < txLimit_)
        return true;
    if (!port_->waitForBytesWritten(to_ms(max)))
        noteWaitEnded();
    return !failed_ && port_->bytesToWrite() < txLimit_;
}

bool PuertoQt::ComDrain(Tiempo max) {
    if (!port_ || !port_->isOpen() || failed_)
        return false;
    const Tiempo deadline = reloj().now() + max;
    // First Qt's own buffer into the driver...
    while (port_->bytesToWrite() > 0 && reloj().now() < deadline) {
        if (!port_->waitForBytesWritten(to_ms(deadline - reloj().now()))) {
            noteWaitEnded();
            if (failed_)
                return false;
            reloj().sleepFor(tiempos::PAUSA_REINTENTO); // a wait that ended early must not spin
        }
    }
    if (port_->bytesToWrite() > 0)
        return false;
#ifdef _WIN32
    // ...then until the driver has sent everything.
    return FlushFileBuffers(reinterpret_cast<HANDLE>(port_->handle())) != 0;
#else
    // ...then until the driver's output queue is empty, and tcdrain for the last
    // character in the UART. The queue is watched first so that a line that never
    // drains (flow control held off) cannot block the worker beyond the bound.
    const int fd = static_cast<int>(port_->handle());
    for (;;) {
        int pending = 0;
        if (::ioctl(fd, TIOCOUTQ, &pending) != 0 || pending <= 0)
            break;
        if (reloj().now() >= deadline)
            return false;
        reloj().sleepFor(tiempos::PAUSA_REINTENTO);
    }
    ::tcdrain(fd);
    return true;
#endif
}

bool PuertoQt::ComFailed() const {
    return failed_;
}

void PuertoQt::ComHandOver(QThread* thread) {
    if (port_ && thread && port_->thread() != thread)
        port_->moveToThread(thread);
}
