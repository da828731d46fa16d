#pragma once
// Serial adapter over the simulated unit's line.

#include "comms/supercom.h"

#include <memory>

class SimUnit;

class PuertoSimulado final : public TMyCOM {
public:
    PuertoSimulado(std::shared_ptr<SimUnit> unit, std::string name);
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

    SimUnit& unit() { return *unit_; }

private:
    std::shared_ptr<SimUnit> unit_;
    std::string name_;
    uint16_t result_ = scError;
    bool open_ = false;
};
