// The tool is built on the public headers, as any application is: none of
// the library's, the platform's or the simulator's internals.
#if __has_include("image_data.h") ||                                                               \
                  __has_include(                                                                   \
                      "tqdev_lib_nt.h") ||                                                         \
                      __has_include(                                                               \
                          "nt_internal.h") ||                                                      \
                          __has_include("capture_context.h") ||                                    \
                                        __has_include("platform.h") ||                             \
                                                      __has_include("win32_subset.h") ||           \
                                                                    __has_include("sim_camera.h")
#error boundary broken: the tool sees internals
#endif
