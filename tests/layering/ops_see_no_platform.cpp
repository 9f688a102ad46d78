// The camera operations reach the devices only through the device-access
// layer's interface: never its internals, the platform or the simulator.
#if __has_include("nt_internal.h")
#error boundary broken: the operations see nt_internal.h
#endif
#if __has_include("platform.h")
#error boundary broken: the operations see platform.h
#endif
#if __has_include("win32_subset.h")
#error boundary broken: the operations see win32_subset.h
#endif
#if __has_include("request_codes.h")
#error boundary broken: the operations see request_codes.h
#endif
#if __has_include("tqsim.h")
#error boundary broken: the operations see tqsim.h
#endif
