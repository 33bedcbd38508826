// The settings of the sanitized build (`make test-sanitized`), linked into
// every program and test of that build only. The runtimes call these functions
// at start-up, so the settings hold however a program is started: by CTest, by
// hand, or as the child of a test. An environment variable (ASAN_OPTIONS,
// LSAN_OPTIONS, UBSAN_OPTIONS) still overrides them for a single run.
//
// Each allowance below is one the suite cannot do without; anything else the
// sanitizers find is a fault to mend, not to list here.

extern "C" const char* __asan_default_options()
{
    // The out-of-memory tests cap the address space and expect an allocation
    // that does not fit to fail the way it does in the shipped program:
    // new (std::nothrow) returns null and new throws std::bad_alloc. By
    // default AddressSanitizer ends the process there instead.
    return "allocator_may_return_null=1";
}

extern "C" const char* __ubsan_default_options()
{
    // A finding shows where it happened, not only the line.
    return "print_stacktrace=1";
}

extern "C" const char* __lsan_default_options()
{
    // The programs' tests compare standard error with what the program says;
    // the count of suppressed leaks below would add to it at every exit.
    return "print_suppressions=0";
}

extern "C" const char* __lsan_default_suppressions()
{
    // libdbus itself: under a window system without a session bus, Qt's
    // accessibility bridge and menu bar ask for the session bus, libdbus tries
    // to start one through dbus-launch and, when that fails, drops the buffer
    // it read the failure into (1 KiB, once per process). Only the X11 test of
    // the simulated program meets it; matched by library because libdbus is
    // built without frame pointers, so its leaks' stacks hold no function name.
    return "leak:libdbus-1.so\n";
}
