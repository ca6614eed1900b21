#include "dunmore_model.h"
#include "varnok/frame/plugin.h"

VARNOK_SIMULATION_MODULE("Dunmore", "LPV_SISO_process", varnok::dunmore::LPVSISO)
