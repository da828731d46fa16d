// The real-port backend over a pseudo-terminal, with the real clock and short
// time-outs: open, send, receive a frame, time out, a port in use, a device that
// goes away, and the hand-over of an opened port to the thread that uses it.
#include "comms/Tint_com.h"
#include "comms/nombres_puerto.h"
#include "pty_prueba.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <numeric>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kIndex = 2;

// Fails the test on any Qt warning while it is installed.
class QtWarningTrap {
public:
    QtWarningTrap() {
        messages().clear();
        previous_ = qInstallMessageHandler(&QtWarningTrap::handler);
    }
    ~QtWarningTrap() { qInstallMessageHandler(previous_); }
    static std::vector<std::string> taken() {
        std::lock_guard<std::mutex> lock(mutex());
        return messages();
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext&, const QString& msg) {
        if (type == QtDebugMsg || type == QtInfoMsg)
            return;
        std::lock_guard<std::mutex> lock(mutex());
        messages().push_back(msg.toStdString());
    }
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    static std::vector<std::string>& messages() {
        static std::vector<std::string> v;
        return v;
    }
    QtMessageHandler previous_ = nullptr;
};

struct PtyPort {
    PtyPair pty;
    QtWarningTrap trap;
    std::unique_ptr<Tinterface_com> port = std::make_unique<Tinterface_com>();

    PtyPort() { fijar_nombre_puerto(kIndex, pty.slaveName()); }
    ~PtyPort() {
        port.reset();
        fijar_nombre_puerto(kIndex, "");
        EXPECT_TRUE(QtWarningTrap::taken().empty()) << QtWarningTrap::taken().front();
    }
    static int open(Tinterface_com& p) {
        return p.abrir_interface(kIndex, MODO_RS232, 19200, 8, 1, 'N', 0, THRESHOLD08, 15000, 15000,
                                 AJUSTE_RS485_DEF);
    }
    int send(const Bytes& b) {
        Tbuff buf{};
        std::copy(b.begin(), b.end(), buf.begin());
        return port->enviar_trama_nfisico(static_cast<int32_t>(b.size()), 30, buf);
    }
    int receive(Tbuff& rx, int32_t timeout) {
        return port->recibir_trama_nfisico(STX_TORVEX, ETX_TORVEX, NBYTESCHECKSUM_TORVEX, timeout,
                                           rx, PROTOCOLO_TORVEX);
    }
};

Bytes counting(size_t n) {
    Bytes b(n);
    std::iota(b.begin(), b.end(), uint8_t{0});
    return b;
}

const Bytes kFrameWire = {0xA5, 0x00, 0x01, 0x02, 0x03, 0x02, 0xA5, 0xA5, 0x11, 0x5C};
const Bytes kFrameStored = {0xA5, 0x00, 0x01, 0x02, 0x03, 0x02, 0xA5, 0x11, 0x5C};

TEST(QtPort, OpensSendsReceivesAFrameAndTimesOut) {
    PtyPort f;
    ASSERT_TRUE(f.pty.ok());
    ASSERT_EQ(PtyPort::open(*f.port), 0);
    EXPECT_EQ(f.port->nombre(), f.pty.slaveName());

    // Every byte goes out without any further call on the port.
    const Bytes block = counting(MAX_BUF_TRAMA + 1);
    EXPECT_EQ(f.send(block), TRAMA_TRANSMITIDA);
    EXPECT_EQ(f.pty.read(block.size()), block);

    ASSERT_TRUE(f.pty.write(kFrameWire));
    Tbuff rx{};
    EXPECT_EQ(f.receive(rx, 20), TRAMA_RECIBIDA);
    EXPECT_EQ(Bytes(rx.begin() + 1, rx.begin() + 1 + rx[0]), kFrameStored);

    EXPECT_EQ(f.receive(rx, 2), ERROR_TIMEOUT);

    // What a pseudo-terminal cannot do (DTR, parity) is not fatal.
    f.port->DTROn();
    f.port->DTROff();
    EXPECT_TRUE(f.port->cambia_conf(115200, 8, 1, 'E', 0));
    ASSERT_TRUE(f.pty.write({'x', 'A', 'y'}));
    EXPECT_EQ(f.port->recibir_datos_nfisico(20, "AB"), TRAMA_RECIBIDA);
    EXPECT_EQ(f.send({0x7F}), TRAMA_TRANSMITIDA);
    EXPECT_EQ(f.pty.read(1), Bytes{0x7F});
}

TEST(QtPort, SendDropsUnreadInputOnly) {
    PtyPort f;
    ASSERT_TRUE(f.pty.ok());
    ASSERT_EQ(PtyPort::open(*f.port), 0);
    ASSERT_TRUE(f.pty.write({'L', 'A', 'T', 'E'}));
    QThread::msleep(50); // the late answer is in the driver's buffer
    EXPECT_EQ(f.send({0x01, 0x02}), TRAMA_TRANSMITIDA);
    EXPECT_EQ(f.port->recibir_datos_nfisico(2, "L"), ERROR_TIMEOUT);
    EXPECT_EQ(f.pty.read(2), (Bytes{0x01, 0x02}));
}

TEST(QtPort, PortInUseOrMissingIsRefused) {
    PtyPort f;
    ASSERT_TRUE(f.pty.ok());
    ASSERT_EQ(PtyPort::open(*f.port), 0);
    Tinterface_com second;
    EXPECT_EQ(PtyPort::open(second), 1);
    EXPECT_FALSE(second.abierto());
    EXPECT_EQ(f.send({0x55}), TRAMA_TRANSMITIDA); // the first keeps it
    EXPECT_EQ(f.pty.read(1), Bytes{0x55});

    fijar_nombre_puerto(kIndex, "/dev/vtr900-no-such-port");
    Tinterface_com missing;
    EXPECT_EQ(PtyPort::open(missing), 1);
    EXPECT_FALSE(missing.abierto());
    Tbuff b{};
    EXPECT_EQ(missing.enviar_trama_nfisico(1, 30, b), ERROR_INTERFACE_NOOPEN);
}

TEST(QtPort, DeviceThatGoesAwayEndsReceiveAndSend) {
    PtyPort f;
    ASSERT_TRUE(f.pty.ok());
    ASSERT_EQ(PtyPort::open(*f.port), 0);
    f.pty.closeMaster();
    Tbuff rx{};
    // An error of its own, not the time-out a silent line would give.
    EXPECT_EQ(f.receive(rx, 40), ERROR_INTERFACE_NOOPEN);
    EXPECT_EQ(f.port->recibir_datos_nfisico(40, "y"), ERROR_INTERFACE_NOOPEN);
    EXPECT_EQ(f.send({1, 2, 3}), ERROR_INTERFACE_NOOPEN);
}

// The window's thread opens the port and hands it over; the worker's thread then
// sends, receives and closes it, while the window's event loop keeps running.
class PortUser final : public QThread {
public:
    explicit PortUser(std::unique_ptr<Tinterface_com> p) : port(std::move(p)) {}
    std::unique_ptr<Tinterface_com> port;
    std::atomic<int> sent{0}, received{0};
    Tbuff rx{};

protected:
    void run() override {
        Tbuff tx{};
        std::copy(kFrameWire.begin(), kFrameWire.end(), tx.begin());
        sent = port->enviar_trama_nfisico(static_cast<int32_t>(kFrameWire.size()), 30, tx);
        received = port->recibir_trama_nfisico(STX_TORVEX, ETX_TORVEX, NBYTESCHECKSUM_TORVEX, 40,
                                               rx, PROTOCOLO_TORVEX);
        port.reset(); // released by the thread that used it
    }
};

TEST(QtPortThread, OpenedOnOneThreadUsedOnAnother) {
    PtyPort f;
    ASSERT_TRUE(f.pty.ok());
    ASSERT_EQ(PtyPort::open(*f.port), 0);
    PortUser user(std::move(f.port));
    user.port->ceder_a_hilo(&user);
    user.start();
    // The far end echoes the request as its answer; meanwhile this thread runs
    // its event loop, as the window's does.
    Bytes request;
    bool answered = false;
    while (!user.wait(QDeadlineTimer(5))) {
        QCoreApplication::processEvents();
        const Bytes got = f.pty.readFor(5);
        request.insert(request.end(), got.begin(), got.end());
        if (!answered && request.size() >= kFrameWire.size()) {
            answered = f.pty.write(kFrameWire);
        }
    }
    EXPECT_EQ(request, kFrameWire);
    EXPECT_EQ(user.sent, TRAMA_TRANSMITIDA);
    EXPECT_EQ(user.received, TRAMA_RECIBIDA);
    EXPECT_EQ(Bytes(user.rx.begin() + 1, user.rx.begin() + 1 + user.rx[0]), kFrameStored);
}

} // namespace
