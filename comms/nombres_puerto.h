#pragma once
// Port names: index 0..3 (COM1..COM4) maps to the system's names (COM1..COM4 on
// Windows, /dev/ttyS0../dev/ttyS3 elsewhere). VTR900_COM1..VTR900_COM4 point an
// index at another device (a USB adapter, a pseudo-terminal) or at the built-in
// simulated unit ("sim:arm", "sim:xa"). A front end may override a name.

#include <memory>
#include <string>

class SimLine;
class SimUnit;

std::string nombre_puerto_sistema(int idx); // the platform's default name
std::string nombre_puerto(int idx);         // override, else environment, else default
void fijar_nombre_puerto(int idx, const std::string& name); // "" removes the override

// A simulated unit wired to a port index (tests and "sim:" names); nullptr removes it.
void fijar_unidad_simulada(int idx, std::shared_ptr<SimUnit> unit);
std::shared_ptr<SimUnit> unidad_simulada(int idx);
// A bare simulated line wired to a port index, with whatever device a test puts
// behind it; nullptr removes it. A unit wired to the same index comes first.
void fijar_linea_simulada(int idx, std::shared_ptr<SimLine> line);
std::shared_ptr<SimLine> linea_simulada(int idx);

// True when the name selects the built-in simulated unit.
bool es_puerto_simulado(const std::string& name);
