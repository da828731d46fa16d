#pragma once
// The serial library interface: the operations the physical level uses, with the
// results it relies on. Backends stand behind it, the real port (QSerialPort) and
// whatever registered itself (the simulated unit's line); nothing above this
// adapter knows which one it has.

#include "common/reloj.h"
#include "comms/motivo_apertura.h"

#include <cstdint>
#include <memory>
#include <string>

class QThread;

constexpr uint16_t scOk = 0;
constexpr uint16_t scError = 1;
constexpr uint8_t Dir_Inc = 0; // receive buffer
constexpr uint8_t Dir_Out = 1; // transmit buffer
constexpr uint8_t TX_READY = 0x20;

class TMyCOM {
public:
    virtual ~TMyCOM() = default;

    virtual void ComInit(uint8_t port) = 0;
    virtual uint16_t ComResult() const = 0;
    virtual void ComSetState(int32_t NewBaud, uint8_t NewDataBits, uint8_t NewStopBits,
                             char NewParity, uint8_t NewFlow) = 0;
    virtual void ComSetBufSize(int32_t RxBufferSize, int32_t TxBufferSize) = 0;
    virtual bool ComEnableFIFO(uint8_t Threshold) = 0;
    virtual void ComRTSOff() = 0;
    virtual bool ComValid() = 0;
    virtual void ComReset() = 0;
    virtual void ComBufClear(uint8_t BufDir) = 0;
    virtual uint8_t RS_LineState() = 0;
    virtual bool ComWrite(uint8_t SCh) = 0;
    // Offers n bytes for sending at once and returns how many were accepted, in
    // order (fewer when the transmit buffer fills; 0 when it takes none). A
    // command handed over in one call leaves in one system call and reaches the
    // far end without a gap. By default, ComWrite byte by byte.
    virtual int32_t ComWriteBlock(const uint8_t* data, int32_t n) {
        int32_t k = 0;
        while (k < n && ComWrite(data[k]))
            ++k;
        return k;
    }
    virtual bool ComRead(uint8_t& RCh) = 0; // never waits
    virtual void ComDTROn() = 0;            // asserts DTR
    virtual void ComDTROff() = 0;           // clears DTR

    // Event waits, so that the physical level never sleeps blind. Each returns as
    // soon as its condition holds, or when max has passed on the time source.
    virtual bool ComWaitRx(Tiempo max) = 0;      // true: a byte can be read
    virtual bool ComWaitTxReady(Tiempo max) = 0; // true: TX_READY is set
    // Until every byte accepted for sending has physically left the wire.
    virtual bool ComDrain(Tiempo max) = 0;
    // The device failed under use (adapter unplugged, device gone).
    virtual bool ComFailed() const = 0;
    // Hands the port to the thread that will use it from now on. A real port's
    // read notifier lives in the thread that owns it; the opening thread calls
    // this before the worker starts and never touches the port again.
    virtual void ComHandOver(QThread* /*thread*/) {}
    // The system name of the port ("/dev/ttyS0", "COM1", "sim:arm").
    virtual std::string ComName() const = 0;
    // Why the last ComInit failed; Ninguno after a successful one, or when the
    // backend cannot tell.
    virtual MotivoApertura ComOpenFailure() const { return {}; }
    // What the last open arranged beyond the port itself, for the trace (empty:
    // nothing to say).
    virtual std::string ComOpenNote() const { return {}; }
};

// The adapter for a port index (0 = COM1): the backend bound to the index, else the
// one registered for the prefix of nombre_puerto (comms/registro_puertos.h), else
// the real port of that name.
std::unique_ptr<TMyCOM> crear_puerto_serie(uint8_t port);
