// The library is the same on every platform: it never sees the simulator or
// the camera that a driver hosts, only the platform's calls.
#if __has_include("tqsim.h") || __has_include("core/camera_core.h") ||                             \
                                              __has_include("camera/frame_model.h") ||             \
                                                            __has_include("sim_camera.h")
#error boundary broken: the library sees the simulator or the camera
#endif
