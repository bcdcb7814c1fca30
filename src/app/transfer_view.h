#pragma once

#include "core/transfer_view.h"

namespace tiv::app {

// A transfer row as the windows and commands read it: the transfers' own vocabulary, named here for the front ends.
using tiv::transfer_direction;
using tiv::transfer_state;
using tiv::transfer_state_name;
using tiv::transfer_status;
using tiv::transfer_view;

} // namespace tiv::app
