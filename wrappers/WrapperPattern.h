// The one pattern every C-callable function follows: look the device up,
// bind a fresh entity object to its Module, run one method, destroy the
// object, report once through packResult, release the device.
//
// Nothing may leave an extern "C" function as an exception (a C caller has no
// handler): one thrown on the way is caught after the entity and the device
// reference are gone, and reported as (0, aErrMemory) for an allocation
// failure, else (0, aErrUnknown). The unwinding of a cancelled thread is no
// exception of that kind and passes through.
#pragma once

#include <cxxabi.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <tuple>
#include <type_traits>

#include "CCAMap.h"
#include "aError.h"
#include "morvwrappers.h"
#include "packResult.h"

namespace wrap {

inline std::uint8_t entityIndex(std::int32_t index)
{
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(index) & 0xFFu);
}

// The value as the caller sees it: narrow unsigned values zero-extended,
// 32-bit words with their bits unchanged.
inline std::int32_t reported(std::uint8_t value) { return value; }
inline std::int32_t reported(std::uint16_t value) { return value; }
inline std::int32_t reported(std::uint32_t value) { return static_cast<std::int32_t>(value); }
inline std::int32_t reported(std::int32_t value) { return value; }
// A list count: its low 32 bits.
inline std::int32_t reportedCount(std::size_t count)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(count));
}

// body(entity, value) runs the method and returns its code; it may set the
// reported value.
template <class Entity, class Body>
__attribute__((no_sanitize("null")))  // the forced unwind is caught by a reference to no object
void run(const std::uint32_t* id, Result* result, std::int32_t index, Body&& body)
{
    try {
        std::int32_t value = 0;
        std::int32_t error = aErrNotFound;
        std::shared_ptr<deviceInfo> device;
        // No device can be registered under a missing id.
        if (id != nullptr) {
            const std::uint32_t deviceId = *id;
            device = CCAMap.findDevice(deviceId);
        }
        if (device) {
            Entity entity;
            entity.init(device->module, entityIndex(index));
            error = body(entity, value);
        }
        packResult(result, value, error);
        // The device reference goes here, after the report.
    } catch (abi::__forced_unwind&) {
        // The caller cancelled this thread (pthread_cancel) while it waited:
        // the unwinding must go on, or the process aborts. Nothing is reported.
        throw;
    } catch (const std::bad_alloc&) {
        packResult(result, 0, aErrMemory);
    } catch (...) {
        packResult(result, 0, aErrUnknown);
    }
}

template <class... T>
struct Last;
template <class T>
struct Last<T> {
    using type = T;
};
template <class Head, class... Tail>
struct Last<Head, Tail...> : Last<Tail...> {};

// Getter with selectors: method(inputs..., Out*). The output lives in a local
// of the method's own type and is converted once the method returned.
template <class Entity, class... Params, class... Inputs>
void get(const std::uint32_t* id, Result* result, std::int32_t index, aErr (Entity::*method)(Params...),
         Inputs... inputs)
{
    using Out = std::remove_pointer_t<typename Last<Params...>::type>;
    static_assert(std::is_same<std::tuple<Params...>, std::tuple<Inputs..., Out*>>::value,
                  "the inputs must have the method's types");
    run<Entity>(id, result, index, [&](Entity& entity, std::int32_t& value) {
        Out out{};
        const aErr err = (entity.*method)(inputs..., &out);
        value = reported(out);
        return err;
    });
}

// Setter, selector setter or command: method(inputs...), value 0.
template <class Entity, class... Params, class... Inputs>
void set(const std::uint32_t* id, Result* result, std::int32_t index, aErr (Entity::*method)(Params...),
         Inputs... inputs)
{
    static_assert(std::is_same<std::tuple<Params...>, std::tuple<Inputs...>>::value,
                  "the inputs must have the method's types");
    run<Entity>(id, result, index,
                [&](Entity& entity, std::int32_t&) { return (entity.*method)(inputs...); });
}

// List getter: the caller's buffer, its length widened with zeros, and a
// count of the method's own size_t type.
template <class Entity, class Element>
void getList(const std::uint32_t* id, Result* result, std::int32_t index,
             aErr (Entity::*method)(Element*, std::size_t, std::size_t*), Element* buffer, std::uint32_t length)
{
    run<Entity>(id, result, index, [&](Entity& entity, std::int32_t& value) {
        std::size_t count = 0;
        const aErr err = (entity.*method)(buffer, static_cast<std::size_t>(length), &count);
        value = reportedCount(count);
        return err;
    });
}

template <class Entity, class Element>
void setList(const std::uint32_t* id, Result* result, std::int32_t index,
             aErr (Entity::*method)(const Element*, std::size_t), const Element* buffer, std::uint32_t length)
{
    run<Entity>(id, result, index, [&](Entity& entity, std::int32_t&) {
        return (entity.*method)(buffer, static_cast<std::size_t>(length));
    });
}

}  // namespace wrap
