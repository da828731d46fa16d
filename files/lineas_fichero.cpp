#include "files/lineas_fichero.h"

namespace {
constexpr qint64 TAMANO_BLOQUE = 64 * 1024;
}

bool LectorLineas::abrir() {
    fallo_ = !fichero_.open(QIODevice::ReadOnly);
    return !fallo_;
}

bool LectorLineas::rellenar() {
    if (fin_ || fallo_)
        return false;
    buffer_ = fichero_.read(TAMANO_BLOQUE);
    pos_ = 0;
    if (buffer_.isEmpty()) {
        // read() gives an empty array both at the end and on an error.
        if (fichero_.error() != QFileDevice::NoError)
            fallo_ = true;
        fin_ = true;
        return false;
    }
    return true;
}

bool LectorLineas::leer(std::string& linea) {
    linea.clear();
    longitud_ = 0;
    bool algo = false; // a character or a line end was seen
    for (;;) {
        if (pos_ >= buffer_.size() && !rellenar())
            return algo && !fallo_;
        algo = true;
        const char c = buffer_[pos_++];
        ++consumidos_;
        if (c == '\n')
            return true;
        if (c == '\r') {
            // CR LF is one line end, also when the LF starts the next block.
            if (pos_ < buffer_.size() || rellenar()) {
                if (buffer_[pos_] == '\n') {
                    ++pos_;
                    ++consumidos_;
                }
            }
            return !fallo_;
        }
        linea.push_back(c);
        // No firmware line is this long: stop here rather than read on through what
        // may be an endless stream of bytes without a line end.
        if (++longitud_ > MAX_LONGITUD_LINEA)
            return !fallo_;
    }
}
