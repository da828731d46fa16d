#pragma once
// Line-by-line reading of the firmware text files.
//
// Firmware files come from many editors and tools: lines may end in CR LF, LF or a
// lone CR, and a wrong pick in the file dialog may hand us a binary file with no line
// end at all (or a device that never ends). The reader therefore gives up on a line
// as soon as it is longer than any firmware line can be.

#include <QFile>
#include <QString>

#include <string>

// Longest line kept whole. An Intel HEX record is at most 521 characters and a header
// line a few dozen; anything longer is not a firmware line.
constexpr qint64 MAX_LONGITUD_LINEA = 1024;

class LectorLineas {
public:
    explicit LectorLineas(const QString& ruta) : fichero_(ruta) {}

    bool abrir();
    // Next line, without its line end. False at the end of the file or on a read
    // error (fallo() then tells which). A line longer than MAX_LONGITUD_LINEA is
    // returned cut just past the limit with demasiadoLarga() set; reading on after
    // that is not meaningful.
    bool leer(std::string& linea);

    // Length of the last line read.
    qint64 longitud() const { return longitud_; }
    bool demasiadoLarga() const { return longitud_ > MAX_LONGITUD_LINEA; }
    // Bytes consumed so far, line ends included.
    qint64 posicion() const { return consumidos_; }
    bool fallo() const { return fallo_; }
    QString error() const { return fichero_.errorString(); }
    QString ruta() const { return fichero_.fileName(); }

private:
    bool rellenar();

    QFile fichero_;
    QByteArray buffer_;
    qsizetype pos_ = 0;
    qint64 consumidos_ = 0;
    qint64 longitud_ = 0;
    bool fin_ = false;
    bool fallo_ = false;
};
