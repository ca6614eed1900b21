#include "fractor_model.h"
#include "varnok/frame/plugin.h"

VARNOK_SIMULATION_MODULE("Fractor", "Fractor", varnok::fractor::ShellSim)
