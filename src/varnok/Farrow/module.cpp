#include "farrow_model.h"
#include "varnok/frame/plugin.h"

VARNOK_SIMULATION_MODULE("Farrow", "DV_process", varnok::farrow::DV_Prd)
