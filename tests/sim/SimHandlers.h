// The default handlers every simulated module starts with. A test that
// replaces one can still call it for the ordinary behaviour.
#pragma once

#include "SimTypes.h"

namespace morvsim {

// 0xAD 0x00: a sync request, which is also the host's module address query.
// Answers "address 0x00" syncAnswersPerRequest times.
void handleSyncRequest(SimModule& module, const SimPacket& packet, SimReply& reply);

// 0xAF 0x01 v: the host's force-route switch. Recorded, never answered.
void handleForceRoute(SimModule& module, const SimPacket& packet, SimReply& reply);

// Command 0 to the module: the host's answer to the oldest outstanding
// heartbeat, which must be "address 0x02 0x00 (value + 2)".
void handleHeartbeatAnswer(SimModule& module, const SimPacket& packet, SimReply& reply);

// A sync handler that answers the n-th sync request with script[n], bytes
// exactly as given (empty: no answer), and like handleSyncRequest once the
// script is used up. For handshake tables, e.g. {{4,0,4,0},{},{},{},{},{}}
// answers a handshake of six requests with exactly two answers.
Handler scriptedSyncAnswers(std::vector<Bytes> script);

// Installs the module-level defaults that the module does not have yet.
void installDefaultHandlers(SimModule& module);

}  // namespace morvsim
