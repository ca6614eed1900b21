#include "calder_model.h"
#include "varnok/frame/plugin.h"

VARNOK_SIMULATION_MODULE("Calder", "MIMOModel_2x3", varnok::calder::Sim)
