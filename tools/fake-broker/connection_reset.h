#pragma once

namespace fake_broker {

// Aborts the accepted TCP connection between these two ports of this process with a reset (RST),
// as a crashed or overloaded peer does, leaving the descriptor open for its owner to close.
// False when no such connection is open.
bool ResetConnection(int localPort, int remotePort);

}  // namespace fake_broker
