#pragma once
// Port names: index 0..3 (COM1..COM4) maps to the system's names (COM1..COM4 on
// Windows, /dev/ttyS0../dev/ttyS3 elsewhere). VTR900_COM1..VTR900_COM4 point an
// index at another device (a USB adapter, a pseudo-terminal) or at a registered
// backend such as the built-in simulated unit ("sim:arm", "sim:xa"). A front end
// may override a name.

#include <string>

std::string nombre_puerto_sistema(int idx); // the platform's default name
std::string nombre_puerto(int idx);         // override, else environment, else default
void fijar_nombre_puerto(int idx, const std::string& name); // "" removes the override

// True when the name selects a registered backend other than the real port (the
// simulated unit, once it has registered itself).
bool es_puerto_simulado(const std::string& name);
