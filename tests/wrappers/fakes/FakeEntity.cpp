#include "FakeEntity.h"

#include <new>
#include <stdexcept>

#include "deviceInfo.h"

namespace fake {

namespace {

Script g_script;
Journal g_journal;
std::weak_ptr<deviceInfo> g_watched;

void maybeThrow(Throw what)
{
    switch (what) {
    case Throw::Nothing: return;
    case Throw::BadAlloc: throw std::bad_alloc();
    case Throw::Runtime: throw std::runtime_error("fake failure");
    case Throw::Integer: throw 42;
    }
}

// Journals the call, runs the script's hook, throws when told to.
Call& enter(const std::string& entityClass, const char* method, std::initializer_list<std::uint64_t> args)
{
    g_journal.events.push_back("call");
    Call call;
    call.entityClass = entityClass;
    call.method = method;
    call.args.assign(args.begin(), args.end());
    g_journal.calls.push_back(call);
    if (g_script.duringMethod)
        g_script.duringMethod();
    maybeThrow(g_script.inMethod);
    return g_journal.calls.back();
}

template <class T>
aErr getValue(const std::string& entityClass, const char* method, std::initializer_list<std::uint64_t> args,
              T* out, OutKind kind)
{
    Call& call = enter(entityClass, method, args);
    call.out = kind;
    call.outPointer = out != nullptr;
    if (g_script.writeOutput && out != nullptr)
        *out = static_cast<T>(g_script.output);
    return g_script.code;
}

}  // namespace

Script& script()
{
    return g_script;
}

Journal& journal()
{
    return g_journal;
}

void reset()
{
    g_script = Script();
    g_journal = Journal();
}

void watch(const std::shared_ptr<deviceInfo>& device)
{
    g_watched = device;
}

long watchedRefs()
{
    return g_watched.use_count();
}

FakeEntity::FakeEntity(const char* entityClass) : m_class(entityClass)
{
    maybeThrow(g_script.inConstructor);
    ++g_journal.constructed;
    g_journal.events.push_back("construct");
}

FakeEntity::~FakeEntity()
{
    ++g_journal.destroyed;
    g_journal.events.push_back("destroy");
}

std::uint64_t FakeEntity::arg(const void* pointer)
{
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

aErr FakeEntity::recordInit(Module* module, std::uint8_t index)
{
    g_journal.events.push_back("init");
    g_journal.initClass = m_class;
    g_journal.initModule = module;
    g_journal.initIndex = index;
    maybeThrow(g_script.inInit);
    return aErrNone;
}

aErr FakeEntity::record(const char* method, Args args)
{
    enter(m_class, method, args);
    return g_script.code;
}

aErr FakeEntity::recordList(const char* method, Args args, std::size_t* count)
{
    return getValue(m_class, method, args, count, OutKind::Count);
}

aErr FakeEntity::recordGet(const char* method, Args args, std::uint8_t* out)
{
    return getValue(m_class, method, args, out, OutKind::U8);
}

aErr FakeEntity::recordGet(const char* method, Args args, std::uint16_t* out)
{
    return getValue(m_class, method, args, out, OutKind::U16);
}

aErr FakeEntity::recordGet(const char* method, Args args, std::uint32_t* out)
{
    return getValue(m_class, method, args, out, OutKind::U32);
}

aErr FakeEntity::recordGet(const char* method, Args args, std::int32_t* out)
{
    return getValue(m_class, method, args, out, OutKind::I32);
}

aErr FakeEntity::recordPack(Args args, std::uint8_t* attributes)
{
    enter("PowerDeliveryClass", "packDataObjectAttributes", args);
    if (g_script.writeOutput && attributes != nullptr)
        *attributes = static_cast<std::uint8_t>(g_script.output);
    return g_script.code;
}

aErr FakeEntity::recordUnpack(Args args, std::uint8_t* first, std::uint8_t* second, std::uint8_t* third)
{
    Call& call = enter("PowerDeliveryClass", "unpackDataObjectAttributes", args);
    call.out = OutKind::U8;
    call.outPointer = third != nullptr;
    if (g_script.writeOutput) {
        if (first != nullptr)
            *first = static_cast<std::uint8_t>(g_script.output >> 8);
        if (second != nullptr)
            *second = static_cast<std::uint8_t>(g_script.output >> 16);
        if (third != nullptr)
            *third = static_cast<std::uint8_t>(g_script.output);
    }
    return g_script.code;
}

}  // namespace fake
