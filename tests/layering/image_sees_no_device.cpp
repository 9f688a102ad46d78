// Image data knows nothing of devices, the platform or the simulator.
#if __has_include("tqdev_lib_nt.h") ||                                                             \
                  __has_include("nt_internal.h") ||                                                \
                                __has_include("platform.h") ||                                     \
                                              __has_include("win32_subset.h") ||                   \
                                                            __has_include("tqsim.h")
#error boundary broken: image data sees the device-access layer, the platform or the simulator
#endif
