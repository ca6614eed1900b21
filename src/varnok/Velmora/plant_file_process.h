#pragma once

// Processes whose descriptor's `file` names a plant file (.yaml or .yml)
// instead of a module. The file lies relative to the descriptor's folder.
// It is read when the catalogue is listed, for the texts shown, and again on
// every START, so that a file fixed or changed in between runs as it now is.

#include <iosfwd>
#include <memory>
#include <string>

#include "corvex/simulink.h"
#include "process_entry.h"

namespace varnok::velmora {

// For an entry whose module is a plant file (plantfile::is_plant_file_name),
// fills in what the descriptor left to the plant file: the object is the
// plant's name, the description the descriptor's, else the file's, else the
// plant's name, the group the descriptor's, else the file's, else P1. A file
// that cannot be read keeps the descriptor's texts (group P1 when it has
// none), with the fault as the description when the descriptor gives none,
// and costs one line on `report`: the entry stays listed so that START can
// say what is wrong.
void complete_plant_file_entry(ProcessEntry& entry, std::ostream& report);

// Reads the plant file `file` (as a descriptor names it) of the process in
// `directory` afresh and builds its plant; an empty directory stands for the
// working directory. Throws StartFailure whose message is the file's one
// line, FILE:LINE:COLUMN: what is wrong (FILE: what is wrong when it cannot
// be read at all).
std::shared_ptr<corvex::Simulink> plant_from_file(const std::string& directory, const std::string& file);

}  // namespace varnok::velmora
