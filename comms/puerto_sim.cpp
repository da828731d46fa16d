#include "comms/puerto_sim.h"

#include "sim/unidad_simulada.h"

PuertoSimulado::PuertoSimulado(std::shared_ptr<SimUnit> unit, std::string name)
    : unit_(std::move(unit)), name_(std::move(name)) {}

PuertoSimulado::~PuertoSimulado() {
    ComReset();
}

void PuertoSimulado::ComInit(uint8_t) {
    open_ = unit_ && unit_->line().hostOpen();
    result_ = open_ ? scOk : scError;
}

void PuertoSimulado::ComSetState(int32_t NewBaud, uint8_t NewDataBits, uint8_t NewStopBits,
                                 char NewParity, uint8_t) {
    if (open_)
        unit_->line().hostSetFormat(LineFormat{NewBaud, NewDataBits, NewStopBits, NewParity});
}

void PuertoSimulado::ComSetBufSize(int32_t RxBufferSize, int32_t TxBufferSize) {
    if (open_)
        unit_->line().hostSetBufferSizes(RxBufferSize, TxBufferSize);
}

void PuertoSimulado::ComRTSOff() {
    if (open_)
        unit_->line().hostSetRts(false);
}

bool PuertoSimulado::ComValid() {
    return open_ && !unit_->line().hostFailed();
}

void PuertoSimulado::ComReset() {
    if (open_)
        unit_->line().hostClose();
    open_ = false;
}

void PuertoSimulado::ComBufClear(uint8_t BufDir) {
    if (!open_)
        return;
    if (BufDir == Dir_Inc)
        unit_->line().hostClearRx();
    else
        unit_->line().hostClearTx();
}

uint8_t PuertoSimulado::RS_LineState() {
    return open_ && unit_->line().hostTxReady() ? TX_READY : 0;
}

bool PuertoSimulado::ComWrite(uint8_t SCh) {
    return open_ && unit_->line().hostWrite(SCh);
}

bool PuertoSimulado::ComRead(uint8_t& RCh) {
    return open_ && unit_->line().hostRead(RCh);
}

void PuertoSimulado::ComDTROn() {
    if (open_)
        unit_->line().hostSetDtr(true);
}

void PuertoSimulado::ComDTROff() {
    if (open_)
        unit_->line().hostSetDtr(false);
}

bool PuertoSimulado::ComWaitRx(Tiempo max) {
    if (!open_) {
        reloj().sleepFor(max);
        return false;
    }
    return unit_->line().hostWaitRx(max);
}

bool PuertoSimulado::ComWaitTxReady(Tiempo max) {
    if (!open_) {
        reloj().sleepFor(max);
        return false;
    }
    return unit_->line().hostWaitTxReady(max);
}

bool PuertoSimulado::ComDrain(Tiempo max) {
    return open_ && unit_->line().hostDrain(max);
}

bool PuertoSimulado::ComFailed() const {
    return open_ && unit_->line().hostFailed();
}
