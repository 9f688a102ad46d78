// Internal records and functions of the device-access layer, by concern:
// the device list, the device channel with its requests, and the library
// state. Shared by the layer's files and reached by its tests; callers
// outside library/nt use tqdev_lib_nt.h.
#pragma once

#include "async_request.h"
#include "device_node.h"
#include "library_state.h"
