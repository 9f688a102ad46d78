// The library is the same on every platform: it never sees the simulator or
// the camera that a driver hosts, only the platform's calls.
#if __has_include("tqsim.h")
#error boundary broken: the library sees tqsim.h
#endif
#if __has_include("core/camera_core.h")
#error boundary broken: the library sees core/camera_core.h
#endif
#if __has_include("camera/frame_model.h")
#error boundary broken: the library sees camera/frame_model.h
#endif
#if __has_include("sim_camera.h")
#error boundary broken: the library sees sim_camera.h
#endif
