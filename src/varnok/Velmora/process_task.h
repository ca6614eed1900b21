#pragma once

// Turns the object a process module exports into the task that runs it.

#include <memory>
#include <stdexcept>
#include <string>

#include "corvex/task.h"
#include "varnok/frame/plugin.h"

namespace varnok::velmora {

struct GatewayAddress {
  std::string host;
  int port = 0;
};

// A start that cannot go ahead; the message names the cause.
class StartFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Decides by the object's kind, first match wins:
//   a simulation (corvex::Simulink)  -> a new SimulinkOPCGateTask on
//                                       `gateway` and `group` as given;
//   a ready-made SimulinkOPCGateTask -> itself, on its own address and group;
//   a ready-made OPCCalcTask         -> itself.
// Writes "Connect to OPC Server <host>:<port>" when it wraps a simulation,
// "Error" when the object is of none of these kinds. Throws StartFailure for
// the wrong kind and when the gateway task refuses its arguments.
std::shared_ptr<corvex::Task> task_for_object(const frame::ExportedObject& object,
                                              const GatewayAddress& gateway, const std::string& group);

}  // namespace varnok::velmora
