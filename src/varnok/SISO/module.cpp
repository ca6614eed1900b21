#include "siso_model.h"
#include "varnok/frame/plugin.h"

VARNOK_SIMULATION_MODULE("SISO", "TrainingSISO", varnok::siso::SISOSim)
