# Image data is the hot path of every capture: optimised builds compile it
# with -O3 so that the accumulation and averaging loops are vectorised (the
# SIMD unpacker kernels choose their instructions per function at run time).
target_compile_options(tqdev_image PRIVATE $<$<CONFIG:Release,RelWithDebInfo>:-O3>)
