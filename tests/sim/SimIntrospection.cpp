#include "SimIntrospection.h"

#include "SimEntities.h"

namespace morvsim {

namespace {

constexpr std::uint8_t kHasUEI = 1;
constexpr std::uint8_t kClassQuantity = 4;
constexpr std::uint8_t kSubClassQuantity = 5;
constexpr std::uint8_t kEntityGroup = 6;
constexpr std::uint8_t kBuild = 0xFF;
constexpr std::uint8_t kErrInvalidOption = 29;

std::uint8_t implemented(const SimModule& m, std::uint8_t command, std::uint8_t option, std::uint8_t index)
{
    bool has = m.entities.count(entityKey(command, option, index)) != 0 ||
               m.entities.count(bufferKey(command, option, index)) != 0;
    return has ? 0 : kErrInvalidOption;
}

template <typename Map, typename Key>
std::uint8_t lookup(const Map& map, const Key& key)
{
    auto it = map.find(key);
    return it == map.end() ? 0 : it->second;
}

}  // namespace

Handler introspectionHandler(const IntrospectionTable& table)
{
    return [table](SimModule& m, const SimPacket& packet, SimReply& reply) {
        const Bytes& d = packet.data;
        if (d.size() < 2) {
            ++m.unhandledPackets;
            return;
        }
        switch (d[1]) {
        case kHasUEI:
            if (d.size() == 6) {
                auto it = table.answers.find({d[2], d[3], d[4], d[5]});
                std::uint8_t answer = it != table.answers.end() ? it->second : implemented(m, d[2], d[3], d[4]);
                reply.packet(m.address, {d[0], d[1], d[2], d[3], d[4], answer});
                return;
            }
            break;
        case kClassQuantity:
            if (d.size() == 3) {
                reply.packet(m.address, {d[0], d[1], d[2], lookup(table.classQuantities, d[2])});
                return;
            }
            break;
        case kSubClassQuantity:
            if (d.size() == 4) {
                reply.packet(m.address, {d[0], d[1], d[2], d[3],
                                         lookup(table.subClassQuantities, std::make_pair(d[2], d[3]))});
                return;
            }
            break;
        case kEntityGroup:
            if (d.size() == 4) {
                reply.packet(m.address, {d[0], d[1], d[2], d[3], lookup(table.entityGroups, std::make_pair(d[2], d[3]))});
                return;
            }
            break;
        case kBuild:
            if (d.size() == 2) {
                Bytes out = u32(table.build);
                out.insert(out.begin(), d.begin(), d.begin() + 2);
                reply.packet(m.address, out);
                return;
            }
            break;
        default:
            break;
        }
        ++m.unhandledPackets;
    };
}

void installIntrospection(SimModule& module, const IntrospectionTable& table)
{
    module.handlers[kIntrospectionCommand] = introspectionHandler(table);
}

void handleEcho(SimModule& module, const SimPacket& packet, SimReply& reply)
{
    reply.packet(module.address, packet.data);
}

void installEcho(SimModule& module)
{
    module.handlers[kEchoCommand] = handleEcho;
}

}  // namespace morvsim
