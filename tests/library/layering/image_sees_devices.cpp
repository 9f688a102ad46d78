// Must not build: image data knows nothing of devices.
#include "tqdev_lib_nt.h"
