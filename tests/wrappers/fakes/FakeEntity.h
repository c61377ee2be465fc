// Recording stand-ins for the entity classes, linked with the wrapper
// families in place of the real ones. Every constructor, init, method and
// destructor writes to one journal; a script says what the next method
// answers, what it writes through its output pointer and where it throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "aError.h"

namespace Zorventa {
namespace Morvasset {
class Module;
}
}  // namespace Zorventa

class deviceInfo;

namespace fake {

using Zorventa::Morvasset::Module;

// What a method writes through its output pointer.
enum class OutKind { None, U8, U16, U32, I32, Count };

enum class Throw { Nothing, BadAlloc, Runtime, Integer };

struct Script {
    aErr code = aErrNone;
    bool writeOutput = true;
    // Written through the output pointer, cut to its type; a list count takes
    // all of it. The unpack method writes its third field from bits 0-7 and
    // the caller's two fields from bits 8-15 and 16-23.
    std::uint64_t output = 0;
    Throw inConstructor = Throw::Nothing;
    Throw inInit = Throw::Nothing;
    Throw inMethod = Throw::Nothing;
    // Runs inside the method, before it answers.
    std::function<void()> duringMethod;
};

struct Call {
    std::string entityClass;
    std::string method;
    std::vector<std::uint64_t> args;  // pointers as addresses
    OutKind out = OutKind::None;
    bool outPointer = false;          // the method got an output (or count) pointer
};

struct Report {
    std::int32_t value;
    std::int32_t error;
    long deviceRefs;  // references to the watched device at the report
};

struct Journal {
    int constructed = 0;
    int destroyed = 0;
    std::string initClass;
    Module* initModule = nullptr;
    int initIndex = -1;
    std::vector<std::string> events;  // "construct", "init", "call", "destroy", "report"
    std::vector<Call> calls;
    std::vector<Report> reports;
};

Script& script();
Journal& journal();
// Clears the journal and the script.
void reset();
// The device whose references each report records.
void watch(const std::shared_ptr<deviceInfo>& device);
long watchedRefs();

class FakeEntity {
public:
    explicit FakeEntity(const char* entityClass);
    virtual ~FakeEntity();

    FakeEntity(const FakeEntity&) = delete;
    FakeEntity& operator=(const FakeEntity&) = delete;

protected:
    using Args = std::initializer_list<std::uint64_t>;

    template <class T, std::enable_if_t<std::is_integral<T>::value, int> = 0>
    static std::uint64_t arg(T value)
    {
        return static_cast<std::uint64_t>(value);
    }
    static std::uint64_t arg(const void* pointer);

    aErr recordInit(Module* module, std::uint8_t index);
    aErr record(const char* method, Args args);
    aErr recordList(const char* method, Args args, std::size_t* count);
    aErr recordGet(const char* method, Args args, std::uint8_t* out);
    aErr recordGet(const char* method, Args args, std::uint16_t* out);
    aErr recordGet(const char* method, Args args, std::uint32_t* out);
    aErr recordGet(const char* method, Args args, std::int32_t* out);
    static aErr recordPack(Args args, std::uint8_t* attributes);
    static aErr recordUnpack(Args args, std::uint8_t* first, std::uint8_t* second, std::uint8_t* third);

private:
    std::string m_class;
};

}  // namespace fake
