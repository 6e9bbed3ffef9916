// Options every sanitizer build starts with; ASAN_OPTIONS adds to them.
//
// The leak checker's tracer walks each thread's TLS blocks by the sizes the
// __tls_get_addr interceptor recorded. With the loader of this system those
// records can be stale for blocks of libraries opened and closed at run time
// (the plug-in, the window backend, GTK's modules), and the tracer then reads
// an unmapped page: "Tracer caught signal 11", a failed test that found no
// fault. Not intercepting __tls_get_addr makes the tracer take the blocks
// from the thread's own descriptors instead.
extern "C" const char* __asan_default_options() {
    return "intercept_tls_get_addr=0";
}
