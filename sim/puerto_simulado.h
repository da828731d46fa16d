#pragma once
// Serial adapter over a simulated line: the simulated unit's, or a bare line with
// whatever device a test puts behind it. The simulator registers it into the port
// registry of comms/ at start; comms/ itself knows nothing of it.

#include "comms/supercom.h"

#include <memory>
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
    std::shared_ptr<SimLine> line_;
    std::string name_;
    uint16_t result_ = scError;
    bool open_ = false;
};
