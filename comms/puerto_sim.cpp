#include "comms/puerto_sim.h"

#include "sim/linea_simulada.h"

PuertoSimulado::PuertoSimulado(std::shared_ptr<SimLine> line, std::string name)
    : line_(std::move(line)), name_(std::move(name)) {}

PuertoSimulado::~PuertoSimulado() {
    ComReset();
}

void PuertoSimulado::ComInit(uint8_t) {
    open_ = line_ && line_->hostOpen();
    result_ = open_ ? scOk : scError;
}

void PuertoSimulado::ComSetState(int32_t NewBaud, uint8_t NewDataBits, uint8_t NewStopBits,
                                 char NewParity, uint8_t) {
    if (open_)
        line_->hostSetFormat(LineFormat{NewBaud, NewDataBits, NewStopBits, NewParity});
}

void PuertoSimulado::ComSetBufSize(int32_t RxBufferSize, int32_t TxBufferSize) {
    if (open_)
        line_->hostSetBufferSizes(RxBufferSize, TxBufferSize);
}

void PuertoSimulado::ComRTSOff() {
    if (open_)
        line_->hostSetRts(false);
}

bool PuertoSimulado::ComValid() {
    return open_ && !line_->hostFailed();
}

void PuertoSimulado::ComReset() {
    if (open_)
        line_->hostClose();
    open_ = false;
}

void PuertoSimulado::ComBufClear(uint8_t BufDir) {
    if (!open_)
        return;
    if (BufDir == Dir_Inc)
        line_->hostClearRx();
    else
        line_->hostClearTx();
}

uint8_t PuertoSimulado::RS_LineState() {
    return open_ && line_->hostTxReady() ? TX_READY : 0;
}

bool PuertoSimulado::ComWrite(uint8_t SCh) {
    return open_ && line_->hostWrite(SCh);
}

bool PuertoSimulado::ComRead(uint8_t& RCh) {
    return open_ && line_->hostRead(RCh);
}

void PuertoSimulado::ComDTROn() {
    if (open_)
        line_->hostSetDtr(true);
}

void PuertoSimulado::ComDTROff() {
    if (open_)
        line_->hostSetDtr(false);
}

bool PuertoSimulado::ComWaitRx(Tiempo max) {
    if (!open_) {
        reloj().sleepFor(max);
        return false;
    }
    return line_->hostWaitRx(max);
}

bool PuertoSimulado::ComWaitTxReady(Tiempo max) {
    if (!open_) {
        reloj().sleepFor(max);
        return false;
    }
    return line_->hostWaitTxReady(max);
}

bool PuertoSimulado::ComDrain(Tiempo max) {
    return open_ && line_->hostDrain(max);
}

bool PuertoSimulado::ComFailed() const {
    return open_ && line_->hostFailed();
}
