// Must not build: the operations layer reaches the platform only through the
// device-access layer's interface.
#include "platform.h"
