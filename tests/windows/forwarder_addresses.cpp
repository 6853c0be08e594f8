// The address of every forwarder, by the index of its name, so that a test
// can call any of them with any signature.
#include "tests/windows/forwarder_addresses.h"

// Declared here without their signatures, which this file never calls.
extern "C" {
#define BL_NAME(name, kind) void name();
#include "hostbind/names.def"
#undef BL_NAME
}

const ForwarderAddress forwarder_addresses[bl::binding_count] = {
#define BL_NAME(name, kind) &name,
#include "hostbind/names.def"
#undef BL_NAME
};
