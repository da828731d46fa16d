#pragma once
// Serial adapter over a real port (QSerialPort), used without an event loop: the
// worker thread polls it with the blocking waits that QSerialPort offers.

#include "comms/supercom.h"

#include <memory>
#include <string>

class QSerialPort;

class PuertoQt final : public TMyCOM {
public:
    explicit PuertoQt(std::string name);
    ~PuertoQt() override;

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
    int32_t ComWriteBlock(const uint8_t* data, int32_t n) override;
    bool ComRead(uint8_t& RCh) override;
    void ComDTROn() override;
    void ComDTROff() override;
    bool ComWaitRx(Tiempo max) override;
    bool ComWaitTxReady(Tiempo max) override;
    bool ComDrain(Tiempo max) override;
    bool ComFailed() const override;
    void ComHandOver(QThread* thread) override;
    std::string ComName() const override { return name_; }
    MotivoApertura ComOpenFailure() const override { return openFailure_; }
    std::string ComOpenNote() const override { return openNote_; }

private:
    // Marks the port failed when Qt reports the device gone and the line agrees.
    void noteError();
    // After a wait that ended without its event: also catches a hung-up line, whose
    // reads give end-of-file with no error.
    void noteWaitEnded();
    bool lineGone() const;
    // Asks the driver to pass received bytes on at once (see the definition).
    void requestLowLatency();
    std::string name_;
    std::unique_ptr<QSerialPort> port_;
    uint16_t result_ = scError;
    int32_t txLimit_ = 15000;
    bool failed_ = false;
    MotivoApertura openFailure_;
    std::string openNote_;
};
