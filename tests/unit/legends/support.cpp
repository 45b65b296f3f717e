// The module's fake host, built into this test executable.
#include "../module/fake_host.cpp"
