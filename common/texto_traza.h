#pragma once
// A trace line as the operator sees it, on the Monitor page and in a headless trace.

#include <QString>

#include <string>

// Raw lines (the ARM bootloader's bytes, the XA loader's replies, garbage on the line)
// may hold control bytes or bytes that are no text: those are shown as <HH> so that
// every line stays readable. The line end of a text line is dropped.
QString texto_traza_visible(const std::string& linea);
