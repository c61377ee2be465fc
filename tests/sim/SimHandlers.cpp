#include "SimHandlers.h"

#include <memory>

namespace morvsim {

void handleSyncRequest(SimModule& module, const SimPacket& packet, SimReply& reply)
{
    if (!packet.data.empty()) {
        ++module.malformedLinkPackets;
        return;
    }
    ++module.syncRequests;
    for (unsigned i = 0; i < module.syncAnswersPerRequest; ++i)
        reply.packet(module.address, {});
}

void handleForceRoute(SimModule& module, const SimPacket& packet, SimReply&)
{
    if (packet.data.size() != 1) {
        ++module.malformedLinkPackets;
        return;
    }
    ++module.forceRouteCount;
    module.forceRoute = packet.data[0];
}

void handleHeartbeatAnswer(SimModule& module, const SimPacket& packet, SimReply&)
{
    if (module.pendingHeartbeats.empty()) {
        ++module.heartbeats.stray;
        return;
    }
    std::uint8_t expected = static_cast<std::uint8_t>(module.pendingHeartbeats.front().value + 2);
    module.pendingHeartbeats.pop_front();
    if (packet.data.size() == 2 && packet.data[1] == expected)
        ++module.heartbeats.answered;
    else
        ++module.heartbeats.wrong;
}

Handler scriptedSyncAnswers(std::vector<Bytes> script)
{
    struct Script {
        std::vector<Bytes> answers;
        std::size_t next = 0;
    };
    // Copies of the handler share one position.
    auto state = std::make_shared<Script>();
    state->answers = std::move(script);
    return [state](SimModule& module, const SimPacket& packet, SimReply& reply) {
        if (state->next >= state->answers.size() || !packet.data.empty()) {
            handleSyncRequest(module, packet, reply);
            return;
        }
        ++module.syncRequests;
        reply.raw(state->answers[state->next++]);
    };
}

void installDefaultHandlers(SimModule& module)
{
    if (module.handlers.find(kHeartbeatCommand) == module.handlers.end())
        module.handlers[kHeartbeatCommand] = handleHeartbeatAnswer;
}

}  // namespace morvsim
