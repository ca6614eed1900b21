#include "process_task.h"

#include <iostream>

#include "OPCGatePy/opc_calc_task.h"
#include "corvex/simulink_opc_gate_task.h"

namespace varnok::velmora {

std::shared_ptr<corvex::Task> task_for_object(const frame::ExportedObject& object,
                                              const GatewayAddress& gateway, const std::string& group) {
  if (const auto* simulation = std::get_if<std::shared_ptr<corvex::Simulink>>(&object);
      simulation && *simulation) {
    std::shared_ptr<corvex::Task> task;
    try {
      task = std::make_shared<corvex::SimulinkOPCGateTask>(gateway.host, gateway.port, *simulation, group);
    } catch (const std::exception& e) {
      throw StartFailure(std::string("the gateway task cannot be built: ") + e.what());
    }
    std::cout << "Connect to OPC Server " << gateway.host << ':' << gateway.port << std::endl;
    return task;
  }
  if (const auto* ready = std::get_if<std::shared_ptr<corvex::Task>>(&object); ready && *ready) {
    if (dynamic_cast<corvex::SimulinkOPCGateTask*>(ready->get()) != nullptr) return *ready;
    if (dynamic_cast<opcgatepy::OPCCalcTask*>(ready->get()) != nullptr) return *ready;
  }
  std::cout << "Error" << std::endl;
  throw StartFailure(
      "the object is neither a simulation nor a ready-made SimulinkOPCGateTask or OPCCalcTask");
}

}  // namespace varnok::velmora
