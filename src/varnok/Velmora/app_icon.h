#pragma once

#include <QIcon>

namespace varnok::velmora {

// pics/pet.ico in the folder of the running program file (not the working
// directory). A missing file gives an icon without pixmaps, not an error.
QIcon application_icon();

}  // namespace varnok::velmora
