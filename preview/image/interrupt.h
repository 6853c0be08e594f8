// Leaving nothing half-written when the user interrupts the tool.
//
// SIGINT and SIGTERM end the process at once with status 130 or 143. If a
// file is being written at that moment, the handler removes it first: it
// keeps the file's name in a fixed buffer and calls only unlink and _exit,
// which are safe inside a signal handler.
#pragma once

namespace preview {

// Installs the handlers for SIGINT and SIGTERM.
void install_interrupt_handlers();

// Names the file the handler must remove (a copy is kept); nullptr or a name
// too long to keep names none. Set it before the file is created and clear
// it once the file is complete or removed.
void set_partial_file(const char* path);

} // namespace preview
