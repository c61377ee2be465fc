// The header's option tables say what each function asks of the module: they
// are read from the header and held against the request each function sends
// to the simulated hub (entity command, option, get or set).
#include "HeaderNames.h"
#include "WrapperRig.h"
#include "WrapperTable.h"

#include <functional>
#include <map>
#include <set>

namespace {

using namespace wraptest;

constexpr std::uint8_t kGetBit = 0x40;
constexpr std::uint8_t kSetBit = 0x80;

using ListCall = std::function<void(const std::uint32_t* id, Result* result)>;

// The list functions with lengths that fit their buffers (the table's own
// calls give 2^32 - 1, for the recording entities).
std::map<std::string, ListCall> listCalls()
{
    static std::uint8_t bytes[8] = {'h', 'u', 'b'};
    static std::uint32_t words[2] = {1, 2};
    return {
        {"port_getName", [](const std::uint32_t* id, Result* r) { port_getName(id, r, 0, bytes, 8); }},
        {"port_setName", [](const std::uint32_t* id, Result* r) { port_setName(id, r, 0, bytes, 3); }},
        {"system_getName", [](const std::uint32_t* id, Result* r) { system_getName(id, r, 0, bytes, 8); }},
        {"system_setName", [](const std::uint32_t* id, Result* r) { system_setName(id, r, 0, bytes, 3); }},
        {"system_getInputPowerBehaviorConfig",
         [](const std::uint32_t* id, Result* r) { system_getInputPowerBehaviorConfig(id, r, 0, words, 2); }},
        {"system_setInputPowerBehaviorConfig",
         [](const std::uint32_t* id, Result* r) { system_setInputPowerBehaviorConfig(id, r, 0, words, 2); }},
        {"powerdelivery_getPowerDataObjectList",
         [](const std::uint32_t* id, Result* r) { powerdelivery_getPowerDataObjectList(id, r, 0, words, 2); }},
        {"usbsystem_getModeList",
         [](const std::uint32_t* id, Result* r) { usbsystem_getModeList(id, r, 0, words, 2); }},
        {"usbsystem_setModeList",
         [](const std::uint32_t* id, Result* r) { usbsystem_setModeList(id, r, 0, words, 2); }},
        {"usbsystem_getStateList",
         [](const std::uint32_t* id, Result* r) { usbsystem_getStateList(id, r, 0, words, 2); }},
        {"usbsystem_getPowerBehaviorConfig",
         [](const std::uint32_t* id, Result* r) { usbsystem_getPowerBehaviorConfig(id, r, 0, words, 2); }},
        {"usbsystem_setPowerBehaviorConfig",
         [](const std::uint32_t* id, Result* r) { usbsystem_setPowerBehaviorConfig(id, r, 0, words, 2); }},
        {"usbsystem_getDataRoleBehaviorConfig",
         [](const std::uint32_t* id, Result* r) { usbsystem_getDataRoleBehaviorConfig(id, r, 0, words, 2); }},
        {"usbsystem_setDataRoleBehaviorConfig",
         [](const std::uint32_t* id, Result* r) { usbsystem_setDataRoleBehaviorConfig(id, r, 0, words, 2); }},
    };
}

TEST(HeaderOptionTables, NameEveryFunctionWithTheRequestItSends)
{
    const std::vector<DocumentedOption> documented = documentedOptions(MORV_WRAPPERS_HEADER);
    std::set<std::string> names;
    for (const DocumentedOption& entry : documented)
        EXPECT_TRUE(names.insert(entry.function).second) << entry.function << " is in two rows";
    // Every entity function but the two that only pack and unpack a byte.
    std::set<std::string> expected = declaredFunctions(MORV_WRAPPERS_HEADER);
    expected.erase("powerdelivery_packDataObjectAttributes");
    expected.erase("powerdelivery_unpackDataObjectAttributes");
    EXPECT_EQ(names, expected);

    std::map<std::string, ListCall> calls = listCalls();
    for (wraptable::Row& row : wraptable::rows()) {
        wraptable::Invoke invoke = row.invoke;
        calls.emplace(row.function, [invoke](const std::uint32_t* id, Result* r) {
            wraptable::Inputs inputs{};
            invoke(id, r, 0, inputs);
        });
    }
    HubRig rig;
    rig.connectAndRegister();
    for (const DocumentedOption& entry : documented) {
        SCOPED_TRACE(entry.function);
        ASSERT_NE(entry.command, 0) << "its section names no entity command";
        auto call = calls.find(entry.function);
        ASSERT_NE(call, calls.end());
        const std::size_t before = rig.sim.packetCount();
        Result result{};
        call->second(&rig.id, &result);
        std::vector<Bytes> requests;
        for (const Bytes& data : rig.sentSince(before))
            if (data.size() >= 3 && data[0] == entry.command)
                requests.push_back(data);
        if (requests.empty()) {
            // The table's selectors (0xC1 and up) are beyond the bits of a
            // power-delivery selector: refused before anything is sent.
            EXPECT_TRUE(entry.selected && entry.function.rfind("powerdelivery_", 0) == 0)
                << "sent no request, error " << result_getError(&result);
            EXPECT_EQ(result_getError(&result), aErrParam);
            continue;
        }
        const std::uint8_t optionByte = requests.front()[1];
        EXPECT_EQ(optionByte & 0x3F, entry.option);
        // In a get/set row the getters are the functions named get....
        const bool getter =
            entry.access == "get" || (entry.access == "get/set" && entry.function.find("_get") != std::string::npos);
        EXPECT_EQ(optionByte & (kGetBit | kSetBit), getter ? kGetBit : kSetBit) << entry.access;
        if (entry.access == "call") {
            EXPECT_EQ(requests.front().size(), 3u) << "a call carries no value";
        }
    }
}

}  // namespace
