// The tool is built on the public headers, as any application is: none of
// the library's, the platform's or the simulator's internals.
#if __has_include("image_data.h")
#error boundary broken: the tool sees image_data.h
#endif
#if __has_include("tqdev_lib_nt.h")
#error boundary broken: the tool sees tqdev_lib_nt.h
#endif
#if __has_include("nt_internal.h")
#error boundary broken: the tool sees nt_internal.h
#endif
#if __has_include("capture_context.h")
#error boundary broken: the tool sees capture_context.h
#endif
#if __has_include("platform.h")
#error boundary broken: the tool sees platform.h
#endif
#if __has_include("win32_subset.h")
#error boundary broken: the tool sees win32_subset.h
#endif
#if __has_include("sim_camera.h")
#error boundary broken: the tool sees sim_camera.h
#endif
