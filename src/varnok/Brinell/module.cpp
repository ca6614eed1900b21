#include "brinell_model.h"
#include "varnok/frame/plugin.h"

VARNOK_SIMULATION_MODULE("Brinell", "Brinell", varnok::brinell::SISOSim)
