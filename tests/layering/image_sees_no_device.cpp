// Image data knows nothing of devices, the platform or the simulator.
#if __has_include("tqdev_lib_nt.h")
#error boundary broken: image data sees tqdev_lib_nt.h
#endif
#if __has_include("nt_internal.h")
#error boundary broken: image data sees nt_internal.h
#endif
#if __has_include("platform.h")
#error boundary broken: image data sees platform.h
#endif
#if __has_include("win32_subset.h")
#error boundary broken: image data sees win32_subset.h
#endif
#if __has_include("tqsim.h")
#error boundary broken: image data sees tqsim.h
#endif
