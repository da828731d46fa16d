#pragma once
// Texts of the headless front end that an operator reads, in the four languages of the
// message table (indexed by its column, idioma_actual_texto).

#include <string>

// A unit image for one controller on a unit with the other: "XA", "ARM".
std::string texto_controlador_equivocado(const std::string& fichero, const std::string& unidad,
                                         int idioma);
// Ctrl+C: what was interrupted (the phase's status text) and what was done about it.
std::string texto_interrumpido(const std::string& fase, int idioma);
// Started without arguments where there is no display.
std::string texto_sin_pantalla(int idioma);
