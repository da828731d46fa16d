#pragma once
// The port backends, keyed by the prefix of the port's name. The real port serves
// every name no other backend claims (device paths, COMn); other backends (the
// simulated unit's "sim:") register themselves at start, so that this layer never
// depends on them.

#include "comms/supercom.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Creates the adapter for port index `port`, whose name is `name`.
using CreadorPuerto = std::function<std::unique_ptr<TMyCOM>(uint8_t port, const std::string& name)>;

// Registers the backend for the names that begin with prefijo (a non-empty prefix);
// registering a prefix again replaces its backend.
void registrar_backend_puerto(const std::string& prefijo, CreadorPuerto creador);

// A backend bound to one port index whatever its name: test rigs put a device behind
// an index. It comes before every prefix; an empty function removes it.
void fijar_backend_indice(int idx, CreadorPuerto creador);

// True when a registered backend other than the real port claims the name.
bool nombre_de_backend_registrado(const std::string& name);
