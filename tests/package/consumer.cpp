// The same application, compiled as C++17.
#include "consumer.c"
