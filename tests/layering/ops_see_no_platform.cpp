// The camera operations reach the devices only through the device-access
// layer's interface: never its internals, the platform or the simulator.
#if __has_include("nt_internal.h") ||                                                              \
                  __has_include("platform.h") ||                                                   \
                                __has_include("win32_subset.h") ||                                 \
                                              __has_include("request_codes.h") ||                  \
                                                            __has_include("tqsim.h")
#error boundary broken: the operations see the internals of device access or the platform
#endif
