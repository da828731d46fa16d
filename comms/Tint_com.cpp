#include "comms/Tint_com.h"

#include <algorithm>

Tinterface_com::Tinterface_com() = default;

Tinterface_com::~Tinterface_com() {
    if (fabierto && puerto)
        puerto->ComReset();
    fabierto = false;
}

int32_t Tinterface_com::abrir_interface(uint8_t ComPort, uint8_t tipo_int, int32_t abaud,
                                        uint8_t adatos, uint8_t astop, char aparidad, uint8_t aflow,
                                        uint8_t afifo, int32_t size_in, int32_t size_out,
                                        int32_t /*ajuste_rs*/) {
    if (fabierto && puerto)
        puerto->ComReset();
    fabierto = false;
    puerto = crear_puerto_serie(ComPort);
    puerto->ComInit(ComPort);
    reloj().sleepFor(tiempos::PAUSA_APERTURA);
    if (puerto->ComResult() == scOk) {
        puerto->ComSetState(abaud, adatos, astop, aparidad, aflow);
        puerto->ComSetBufSize(size_in, size_out);
        (void)puerto->ComEnableFIFO(afifo);
        if (tipo_int == MODO_RS232 || tipo_int == MODO_RS485)
            puerto->ComRTSOff();
        fcom = ComPort;
        ftipo = tipo_int;
        fbaud = abaud;
        fbdatos = adatos;
        fbstop = astop;
        fparidad = aparidad;
        fflow = aflow;
        fsize_in = size_in;
        fsize_out = size_out;
    }
    if (puerto->ComValid()) {
        fmotivo_apertura = {};
        fabierto = true;
        return 0;
    }
    fabierto = false;
    fmotivo_apertura = puerto->ComOpenFailure();
    if (!fmotivo_apertura.fallo()) {
        // A backend that cannot tell why still names the port it failed on.
        fmotivo_apertura.tipo = MotivoApertura::Tipo::Otro;
    }
    if (fmotivo_apertura.dispositivo.empty())
        fmotivo_apertura.dispositivo = puerto->ComName();
    puerto->ComReset();
    return 1;
}

void Tinterface_com::reset_interface() {
    if (!puerto)
        return;
    puerto->ComBufClear(Dir_Inc);
    puerto->ComBufClear(Dir_Out);
}

int Tinterface_com::enviar_trama_nfisico(int32_t enbytes, Sondeos timeout, const Tbuff& txtrama) {
    if (!fabierto || !puerto)
        return ERROR_INTERFACE_NOOPEN;
    if (puerto->ComFailed())
        return ERROR_INTERFACE_NOOPEN;
    // The frame buffer has cells 0..MAX_BUF_TRAMA: a longer send is refused before
    // anything goes out.
    if (enbytes > MAX_BUF_TRAMA + 1)
        return ERROR_TIMEOUT;
    enbytes = std::max<int32_t>(enbytes, 0);
    for (int32_t i = 0; i < enbytes; ++i)
        trama[static_cast<size_t>(i)] = txtrama[static_cast<size_t>(i)];
    // A late answer to an earlier exchange must not be taken for the answer to this
    // one, so unread input is dropped. Bytes already accepted for sending are never
    // discarded: on a real port the previous byte may still be on its way out.
    puerto->ComBufClear(Dir_Inc);
    return transmitir_trama(enbytes, timeout);
}

int Tinterface_com::transmitir_trama(int32_t anbytes, Sondeos timeout) {
    int32_t cont = 0;
    int32_t intentos_tx = 0;
    // The frame goes to the adapter as one block: what it takes leaves together.
    std::array<uint8_t, MAX_BUF_TRAMA + 1> bytes{};
    anbytes = std::clamp<int32_t>(anbytes, 0, MAX_BUF_TRAMA + 1);
    for (int32_t i = 0; i < anbytes; ++i)
        bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(trama[static_cast<size_t>(i)]);
    while (cont < anbytes && intentos_tx < timeout.count()) {
        if (puerto->ComFailed())
            return ERROR_INTERFACE_NOOPEN;
        if (puerto->RS_LineState() & TX_READY) {
            // What was refused is offered again at once; refusals count as
            // attempts all the same, so a port that reports ready but takes
            // nothing cannot spin the worker for ever.
            const int32_t n = puerto->ComWriteBlock(bytes.data() + cont, anbytes - cont);
            if (n > 0) {
                cont += n;
                intentos_tx = 0;
            } else {
                ++intentos_tx;
            }
        } else {
            ++intentos_tx;
            puerto->ComWaitTxReady(PERIODO_SONDEO);
        }
    }
    // Every byte handed over, or the transmitter stayed busy for the whole limit.
    return cont < anbytes ? ERROR_TIMEOUT : TRAMA_TRANSMITIDA;
}

int Tinterface_com::recibir_trama(uint8_t bstart, uint8_t /*bstop*/, int32_t nbchecksum,
                                  Sondeos timeout, int32_t protocolo) {
    if (protocolo != 0)
        return 0;
    bool permiso_lectura = false;
    bool permiso_checksum = false;
    bool permiso_cont_bytes = false;
    bool saltar_siguiente = false;
    int32_t cont = 0;
    int32_t pos_car = 0;
    int32_t num_bytes = 0;
    int32_t cont_bytes = 0;
    trama[0] = 0;
    for (;;) {
        uint8_t c = 0;
        if (const int r = siguiente_byte(timeout, c); r != TRAMA_RECIBIDA)
            return r;
        if (!permiso_lectura) {
            if (c == bstart) {
                trama[1] = c;
                cont = 1;
                pos_car = 1;
                num_bytes = 0;
                cont_bytes = 0;
                permiso_lectura = true;
            }
            continue;
        }
        if (c == bstart && trama[static_cast<size_t>(cont)] == bstart && cont > 1) {
            if (!saltar_siguiente) {
                saltar_siguiente = true;
                continue; // the first of a doubled pair is dropped
            }
            saltar_siguiente = false;
        } else {
            saltar_siguiente = false;
        }
        if (cont + 1 > MAX_BUF_TRAMA)
            return ERROR_CHECKSUM; // cannot happen with a one-byte length; never overrun
        trama[static_cast<size_t>(cont + 1)] = c;
        ++cont;
        if (permiso_checksum) {
            trama[0] = cont;
            return TRAMA_RECIBIDA;
        }
        if (cont_bytes != 0 && cont_bytes == num_bytes) {
            trama[0] = cont;
            if (nbchecksum != 0) {
                permiso_checksum = true;
                continue;
            }
            return TRAMA_RECIBIDA;
        }
        if (pos_car == 5) {
            num_bytes = c;
            cont_bytes = 0;
            if (c == 0)
                permiso_checksum = true;
            else
                permiso_cont_bytes = true;
        }
        ++pos_car;
        if (permiso_cont_bytes)
            ++cont_bytes;
    }
}

int Tinterface_com::recibir_trama_nfisico(uint8_t bstart, uint8_t bstop, int32_t nbchecksum,
                                          Sondeos timeout, Tbuff& txtrama, int32_t protocolo) {
    if (!fabierto || !puerto)
        return ERROR_INTERFACE_NOOPEN;
    const int r = recibir_trama(bstart, bstop, nbchecksum, timeout, protocolo);
    if (r == ERROR_INTERFACE_NOOPEN || r == ERROR_CHECKSUM)
        return r;
    if (r != TRAMA_RECIBIDA)
        return ERROR_TIMEOUT;
    const int32_t count = trama[0];
    // The count travels in one byte: a frame of more than 255 stored bytes cannot
    // be handed over faithfully, so it is rejected rather than cut short.
    if (count > 255) {
        txtrama[0] = 0;
        return ERROR_CHECKSUM;
    }
    txtrama[0] = static_cast<uint8_t>(count);
    if (count == 0)
        return ERROR_TIMEOUT;
    for (int32_t i = 0; i <= count; ++i)
        txtrama[static_cast<size_t>(i)] = static_cast<uint8_t>(trama[static_cast<size_t>(i)]);
    return TRAMA_RECIBIDA;
}

int Tinterface_com::siguiente_byte(Sondeos timeout, uint8_t& c) {
    // Any byte, noise included, restarts the count of empty polls.
    int32_t vacios = 0;
    for (;;) {
        if (puerto->ComFailed())
            return ERROR_INTERFACE_NOOPEN;
        if (puerto->ComRead(c))
            return TRAMA_RECIBIDA;
        if (++vacios > timeout.count())
            return ERROR_TIMEOUT;
        puerto->ComWaitRx(PERIODO_SONDEO);
    }
}

int Tinterface_com::recibir_datos_nfisico(Sondeos timeout, const std::string& buffer_datos) {
    if (!puerto)
        return ERROR_INTERFACE_NOOPEN;
    const size_t L = buffer_datos.size();
    size_t pos = 1; // 1-based position of the next expected character
    for (;;) {
        uint8_t c = 0;
        if (const int r = siguiente_byte(timeout, c); r != TRAMA_RECIBIDA)
            return r;
        if (pos <= L && c == static_cast<uint8_t>(buffer_datos[pos - 1])) {
            ++pos;
            // For a text of two or more characters its last one is not waited for.
            if (pos >= L)
                return TRAMA_RECIBIDA;
        }
    }
}

int Tinterface_com::recibir_byte_nfisico(int32_t timeout, uint8_t si, uint8_t no,
                                         uint8_t& recibido) {
    if (!puerto)
        return ERROR_INTERFACE_NOOPEN;
    for (;;) {
        uint8_t c = 0;
        if (const int r = siguiente_byte(Sondeos{timeout}, c); r != TRAMA_RECIBIDA)
            return r;
        if (c == si || c == no) {
            recibido = c;
            return TRAMA_RECIBIDA;
        }
    }
}

int Tinterface_com::recibir_bytes_nfisico(int32_t timeout, size_t n, std::vector<uint8_t>& datos) {
    datos.clear();
    if (!puerto)
        return ERROR_INTERFACE_NOOPEN;
    while (datos.size() < n) {
        uint8_t c = 0;
        if (const int r = siguiente_byte(Sondeos{timeout}, c); r != TRAMA_RECIBIDA)
            return r;
        datos.push_back(c);
    }
    return TRAMA_RECIBIDA;
}

void Tinterface_com::DTROff() {
    if (puerto)
        puerto->ComDTROn();
}

void Tinterface_com::DTROn() {
    if (puerto)
        puerto->ComDTROff();
}

bool Tinterface_com::cambia_conf(int32_t abaud, uint8_t adatos, uint8_t astop, char aparidad,
                                 uint8_t aflow) {
    if (!puerto)
        return false;
    // The last byte must have left the wire, not only the driver: changing speed or
    // parity while it is being shifted out garbles it.
    const bool vaciado = puerto->ComDrain(tiempos::MAX_ESPERA_VACIADO);
    reloj().sleepFor(tiempos::PAUSA_CAMBIO_FORMATO);
    puerto->ComSetState(abaud, adatos, astop, aparidad, aflow);
    return vaciado;
}

void Tinterface_com::ceder_a_hilo(QThread* thread) {
    if (puerto)
        puerto->ComHandOver(thread);
}

std::string Tinterface_com::nombre() const {
    return puerto ? puerto->ComName() : std::string();
}

std::string Tinterface_com::nota_apertura() const {
    return puerto ? puerto->ComOpenNote() : std::string();
}
