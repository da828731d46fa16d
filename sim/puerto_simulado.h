#pragma once
// Serial adapter over a simulated line: the simulated unit's, or a bare line with
// whatever device a test puts behind it. The simulator registers it into the port
// registry of comms/ at start; comms/ itself knows nothing of it.

#include "comms/supercom.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class SimLine;
class SimUnit;

// Registers the "sim:" backend ("sim:arm", "sim:xa", "sim:arm#2"): the program's
// main, the companion and the test main call it once at start. A "sim:" port keeps
// its unit for the life of the program, so that reopening the port finds the unit as
// it was left; "sim:arm#1" and "sim:arm#2" are two units, each with its own memory
// and state, on whatever index they are opened.
void registrar_puertos_simulados();

// The unit a "sim:" name opened ("arm#2", "xa", as SimPortSpec::unit names it);
// nullptr when no port was opened by that name yet.
std::shared_ptr<SimUnit> unidad_simulada_por_nombre(const std::string& unit);
// Forgets every unit opened by name, and unwires the indices they were on (tests).
void olvidar_unidades_por_nombre();

// A simulated unit wired to a port index whatever the port's name (tests, the
// benchmark); nullptr removes it.
void fijar_unidad_simulada(int idx, std::shared_ptr<SimUnit> unit);
std::shared_ptr<SimUnit> unidad_simulada(int idx);
// A bare simulated line wired to a port index, with whatever device a test puts
// behind it; nullptr removes it. A unit wired to the same index comes first.
void fijar_linea_simulada(int idx, std::shared_ptr<SimLine> line);
std::shared_ptr<SimLine> linea_simulada(int idx);

// The USB serial adapter a simulated unit hangs on. It can be pulled out under use:
// once the unit has received a given number of bytes through it, the port opened on
// it fails as a real one does when its device goes (every write and read refused,
// ComFailed), and stays failed for good. Plugged back in, the port can be opened
// afresh; a port opened before stays dead, as a real handle does.
class AdaptadorSimulado {
public:
    // Pulled out after `bytes` more bytes (0: never); the adapter is plugged in now.
    void desenchufar_tras(long bytes);
    // Plugged (back) in, with nothing pending.
    void enchufar();
    // The plug-in a port opened now belongs to; 0 while the adapter is out.
    uint64_t conectar() const;
    // The adapter is in and has not been out since the plug-in `conexion`.
    bool conectado(uint64_t conexion) const;
    // A byte handed to the line through the plug-in `conexion`.
    void byte_enviado(uint64_t conexion);

private:
    mutable std::mutex m_;
    bool fuera_ = false;
    uint64_t enchufe_ = 1; // bumped when it is plugged back in
    long tras_ = 0;
    long enviados_ = 0;
};

class PuertoSimulado final : public TMyCOM {
public:
    // The line may be an alias into its owner (the unit), which it keeps alive.
    PuertoSimulado(std::shared_ptr<SimLine> line, std::string name);
    ~PuertoSimulado() override;

    void ComInit(uint8_t port) override;
    uint16_t ComResult() const override { return result_; }
    void ComSetState(int32_t NewBaud, uint8_t NewDataBits, uint8_t NewStopBits, char NewParity,
                     uint8_t NewFlow) override;
    void ComSetBufSize(int32_t RxBufferSize, int32_t TxBufferSize) override;
    bool ComEnableFIFO(uint8_t) override { return true; }
    void ComRTSOff() override;
    bool ComValid() override;
    void ComReset() override;
    void ComBufClear(uint8_t BufDir) override;
    uint8_t RS_LineState() override;
    bool ComWrite(uint8_t SCh) override;
    bool ComRead(uint8_t& RCh) override;
    void ComDTROn() override;
    void ComDTROff() override;
    bool ComWaitRx(Tiempo max) override;
    bool ComWaitTxReady(Tiempo max) override;
    bool ComDrain(Tiempo max) override;
    bool ComFailed() const override;
    std::string ComName() const override { return name_; }

private:
    // The port works: open, and its adapter (if it has one) still the one it opened on.
    bool usable() const;

    std::shared_ptr<SimLine> line_;
    std::string name_;
    std::shared_ptr<AdaptadorSimulado> adapter_; // the wired unit's; none on a bare line
    uint64_t conexion_ = 0;
    uint16_t result_ = scError;
    bool open_ = false;
};
