// All C-callable functions against recording entity classes: lookup, the
// order of the steps, exactly one report on every path, the inputs as the
// method receives them and the conversion of every kind of value.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "CCAMap.h"
#include "FakeEntity.h"
#include "HeaderNames.h"
#include "Module.h"
#include "WrapperTable.h"

namespace {

using wraptable::Inputs;
using wraptable::Out;
using wraptable::Row;
using Zorventa::Morvasset::Module;

constexpr std::int32_t kIndex = 259;  // binds index 3
constexpr std::uint8_t kSentinel = 0x5A;

const std::vector<Row>& allRows()
{
    static const std::vector<Row> rows = wraptable::rows();
    return rows;
}

Inputs sentinelInputs()
{
    Inputs in;
    std::memset(&in, kSentinel, sizeof(in));
    return in;
}

bool untouched(const Inputs& in)
{
    const Inputs fresh = sentinelInputs();
    return std::memcmp(&in, &fresh, sizeof(in)) == 0;
}

fake::OutKind kindOf(Out out)
{
    switch (out) {
    case Out::None: return fake::OutKind::None;
    case Out::U8: return fake::OutKind::U8;
    case Out::U16: return fake::OutKind::U16;
    case Out::U32: return fake::OutKind::U32;
    case Out::I32: return fake::OutKind::I32;
    case Out::Count: return fake::OutKind::Count;
    }
    return fake::OutKind::None;
}

struct Conversion {
    std::uint64_t written;  // what the method writes
    std::int32_t reported;  // what the caller must see
};

// Per kind of output: the edges of its conversion to the reported value.
std::vector<Conversion> conversions(Out out)
{
    switch (out) {
    case Out::U8: return {{0xB7A6C8, 200}, {255, 255}};
    case Out::U16: return {{65535, 65535}, {0x8000, 32768}};
    case Out::U32: return {{0x80000000u, INT32_MIN}, {0xFFFFFFFFu, -1}, {0x7FFFFFFF, INT32_MAX}};
    case Out::I32: return {{static_cast<std::uint64_t>(-5), -5}, {0x80000000u, INT32_MIN}};
    case Out::Count: return {{0x100000007ull, 7}, {0xFFFFFFFFu, -1}};
    case Out::None: return {{0x12345, 0}};
    }
    return {};
}

class RecordedWrappers : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::reset();
        auto module = std::make_unique<Module>(std::uint8_t(0), std::uint8_t(0));
        module_ = module.get();
        ASSERT_EQ(registerDevice(std::move(module), &id_), aErrNone);
        device_ = CCAMap.findDevice(id_);
        ASSERT_TRUE(device_);
        fake::watch(device_);
        device_.reset();
    }

    void TearDown() override
    {
        removeDevice(id_);
        fake::reset();
    }

    long refs() const { return fake::watchedRefs(); }

    std::uint32_t id_ = 0;
    Module* module_ = nullptr;
    std::shared_ptr<deviceInfo> device_;
};

TEST_F(RecordedWrappers, TableCoversEveryDeclaredFunction)
{
    std::set<std::string> inTable;
    for (const Row& row : allRows())
        inTable.insert(row.function);
    const std::set<std::string> declared = wraptest::declaredFunctions(MORV_WRAPPERS_HEADER);
    EXPECT_EQ(allRows().size(), 234u);
    EXPECT_EQ(inTable.size(), 234u);
    EXPECT_EQ(inTable, declared);
}

TEST_F(RecordedWrappers, RegisteredDeviceRunsTheMethodAndReportsOnce)
{
    for (const Row& row : allRows()) {
        for (const Conversion& c : conversions(row.out)) {
            SCOPED_TRACE(row.function + " writing " + std::to_string(c.written));
            fake::reset();
            fake::script().code = aErrConfiguration;
            fake::script().output = c.written;
            Inputs in = sentinelInputs();
            Result result{-7, -7};
            row.invoke(&id_, &result, kIndex, in);

            const fake::Journal& j = fake::journal();
            EXPECT_EQ(j.constructed, 1);
            EXPECT_EQ(j.destroyed, 1);
            // Entity gone before the report; the report made while the call
            // still held the device (the registry's reference and its own).
            EXPECT_EQ(j.events, (std::vector<std::string>{"construct", "init", "call", "destroy", "report"}));
            EXPECT_EQ(j.initClass, row.entityClass);
            EXPECT_EQ(j.initModule, module_);
            EXPECT_EQ(j.initIndex, 3);
            ASSERT_EQ(j.calls.size(), 1u);
            EXPECT_EQ(j.calls[0].entityClass, row.entityClass);
            EXPECT_EQ(j.calls[0].method, row.method);
            EXPECT_EQ(j.calls[0].args, row.expected(in));
            if (row.out != Out::None) {
                EXPECT_EQ(j.calls[0].out, kindOf(row.out));
                EXPECT_TRUE(j.calls[0].outPointer);
            }
            ASSERT_EQ(j.reports.size(), 1u);
            EXPECT_EQ(j.reports[0].value, c.reported);
            EXPECT_EQ(j.reports[0].error, aErrConfiguration);
            EXPECT_EQ(j.reports[0].deviceRefs, 2);
            EXPECT_EQ(result.value, c.reported);
            EXPECT_EQ(result.error, aErrConfiguration);
            EXPECT_EQ(refs(), 1);
        }
    }
}

TEST_F(RecordedWrappers, FailedMethodThatWroteNothingReportsZero)
{
    for (const Row& row : allRows()) {
        SCOPED_TRACE(row.function);
        fake::reset();
        fake::script().code = aErrTimeout;
        fake::script().writeOutput = false;
        Inputs in = sentinelInputs();
        Result result{-7, -7};
        row.invoke(&id_, &result, kIndex, in);
        ASSERT_EQ(fake::journal().reports.size(), 1u);
        EXPECT_EQ(result.value, 0);
        EXPECT_EQ(result.error, aErrTimeout);
    }
}

TEST_F(RecordedWrappers, UnpackHandsTwoFieldsToTheCallerAndReportsTheThird)
{
    fake::script().output = 0xB7A6C8;
    std::uint8_t partner = 0;
    std::uint8_t role = 0;
    Result result{-7, -7};
    powerdelivery_unpackDataObjectAttributes(&id_, &result, 0, 0x5C, &partner, &role);
    EXPECT_EQ(partner, 0xA6);
    EXPECT_EQ(role, 0xB7);
    EXPECT_EQ(result.value, 200);
    EXPECT_EQ(result.error, aErrNone);

    fake::reset();
    fake::script().output = 0x1F;
    std::uint8_t attributes = 0;
    powerdelivery_packDataObjectAttributes(&id_, &result, 0, &attributes, 1, 2, 3);
    EXPECT_EQ(attributes, 0x1F);
    EXPECT_EQ(result.value, 0);
}

TEST_F(RecordedWrappers, UnregisteredIdReportsNotFoundAndBuildsNoEntity)
{
    std::uint32_t removed = 0;
    ASSERT_EQ(registerDevice(std::make_unique<Module>(std::uint8_t(0), std::uint8_t(0)), &removed), aErrNone);
    ASSERT_EQ(removeDevice(removed), aErrNone);
    const std::uint32_t neverRegistered = 0xFFFFFFF0u;
    const std::size_t before = CCAMap.size();

    const std::uint32_t* const ids[] = {&neverRegistered, &removed, nullptr};
    for (const Row& row : allRows()) {
        for (const std::uint32_t* id : ids) {
            SCOPED_TRACE(row.function + (id ? " id " + std::to_string(*id) : std::string(" null id")));
            fake::reset();
            fake::script().output = 0x77;
            Inputs in = sentinelInputs();
            Result result{-7, -7};
            row.invoke(id, &result, kIndex, in);
            EXPECT_EQ(fake::journal().constructed, 0);
            EXPECT_TRUE(fake::journal().calls.empty());
            ASSERT_EQ(fake::journal().reports.size(), 1u);
            EXPECT_EQ(result.value, 0);
            EXPECT_EQ(result.error, aErrNotFound);
            EXPECT_TRUE(untouched(in));
        }
    }
    // Lookups never add an entry.
    EXPECT_EQ(CCAMap.size(), before);
    EXPECT_FALSE(CCAMap.findDevice(neverRegistered));
}

TEST_F(RecordedWrappers, ExceptionsStopAtTheBoundaryAndReportOnce)
{
    struct Case {
        const char* where;
        fake::Throw what;
        aErr reported;
    };
    const Case cases[] = {
        {"constructor", fake::Throw::BadAlloc, aErrMemory}, {"constructor", fake::Throw::Runtime, aErrUnknown},
        {"init", fake::Throw::BadAlloc, aErrMemory},        {"init", fake::Throw::Integer, aErrUnknown},
        {"method", fake::Throw::BadAlloc, aErrMemory},      {"method", fake::Throw::Runtime, aErrUnknown},
        {"method", fake::Throw::Integer, aErrUnknown},
    };
    for (const Row& row : allRows()) {
        for (const Case& c : cases) {
            SCOPED_TRACE(row.function + " throwing in the " + c.where);
            fake::reset();
            fake::script().output = 0x55;
            const std::string where = c.where;
            if (where == "constructor")
                fake::script().inConstructor = c.what;
            else if (where == "init")
                fake::script().inInit = c.what;
            else
                fake::script().inMethod = c.what;
            Inputs in = sentinelInputs();
            Result result{-7, -7};
            row.invoke(&id_, &result, kIndex, in);

            const fake::Journal& j = fake::journal();
            EXPECT_EQ(j.destroyed, j.constructed);
            ASSERT_EQ(j.reports.size(), 1u);
            EXPECT_EQ(j.events.back(), "report");
            // The entity and the call's device reference were released first.
            EXPECT_EQ(j.reports[0].deviceRefs, 1);
            EXPECT_EQ(result.value, 0);
            EXPECT_EQ(result.error, c.reported);
            EXPECT_EQ(refs(), 1);
        }
    }
}

TEST_F(RecordedWrappers, DeviceRemovedDuringTheCallLivesUntilTheCallReturns)
{
    for (const Row& row : allRows()) {
        SCOPED_TRACE(row.function);
        fake::reset();
        std::uint32_t id = 0;
        ASSERT_EQ(registerDevice(std::make_unique<Module>(std::uint8_t(0), std::uint8_t(0)), &id), aErrNone);
        fake::watch(CCAMap.findDevice(id));
        fake::script().code = aErrBusy;
        fake::script().duringMethod = [id] { EXPECT_EQ(removeDevice(id), aErrNone); };
        Inputs in = sentinelInputs();
        Result result{-7, -7};
        row.invoke(&id, &result, 0, in);

        ASSERT_EQ(fake::journal().reports.size(), 1u);
        // Only the call's own reference kept the record at the report.
        EXPECT_EQ(fake::journal().reports[0].deviceRefs, 1);
        EXPECT_EQ(result.error, aErrBusy);
        EXPECT_EQ(refs(), 0);  // destroyed once the call let go
        EXPECT_FALSE(CCAMap.findDevice(id));
    }
}

TEST_F(RecordedWrappers, OnlyTheLowEightBitsOfTheIndexBind)
{
    const std::pair<std::int32_t, int> cases[] = {{0, 0}, {31, 31}, {255, 255}, {256, 0}, {259, 3}, {-1, 255},
                                                  {INT32_MIN, 0}};
    for (const auto& c : cases) {
        fake::reset();
        Result result{};
        system_getSerialNumber(&id_, &result, c.first);
        EXPECT_EQ(fake::journal().initIndex, c.second) << c.first;
    }
}

}  // namespace
