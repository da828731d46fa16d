#pragma once
// A trace line as the operator sees it, on the Monitor page and in a headless trace.

#include <QString>

#include <string>

// Raw lines (the ARM bootloader's bytes, the XA loader's replies, garbage on the line)
// may hold control bytes or bytes that are no text: those are shown as <HH> so that
// every line stays readable. The line end of a text line is dropped.
QString texto_traza_visible(const std::string& linea);

enum class SentidoTraza { TX, RX };

// The bytes of one exchange in one direction as one trace line, written as the
// frames are: "TX->31,CE" for a command, "RX->79 ACK" for its answer when the
// answer has a name (nombre); no bytes, no line (an empty text). The window and a
// headless trace file both show these lines as they are.
std::string linea_traza_bytes(SentidoTraza sentido, const std::string& bytes,
                              const std::string& nombre = {});

// A note about the exchange rather than bytes of it (what the open arranged, blocks
// left out): "** " and the text, so that it is never taken for traffic.
std::string linea_traza_nota(const std::string& texto);
