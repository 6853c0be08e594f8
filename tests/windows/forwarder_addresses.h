#pragma once

#include "hostbind/binding.h"

using ForwarderAddress = void (*)();
extern const ForwarderAddress forwarder_addresses[bl::binding_count];
