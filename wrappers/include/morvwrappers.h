/* C-callable entity functions of Zorventa modules.
 *
 * A device is opened with morv_connect or morv_connectAddress, which give its
 * id, and closed with morv_disconnect (declared below the Result record).
 *
 * Every entity function takes a pointer to the device id under which the host
 * registered the device, the caller's Result record and an entity index, then
 * its inputs. It reports its outcome exactly once through the Result: the
 * value and an error code (below).
 *
 * The entity index: its low 8 bits are taken (259 is 3, -1 is 255). 0 to 31
 * address an entity; 32 to 255 give error 26 and nothing is sent. The two
 * functions that only pack and unpack an attribute byte send nothing and take
 * any index.
 *
 * Values: uint8_t and uint16_t values are reported zero-extended, uint32_t
 * values with their bits unchanged (so values from 2^31 up read as negative),
 * int32_t values as they are, the count of a list getter cut to 32 bits, and
 * functions without an output report 0. A failed call reports the value as
 * the entity left it, usually 0. Buffers and their lengths go to the entity
 * unchanged; a list getter reports how many elements (or bytes) it stored.
 * Lengths and counts of uint32_t lists are in elements, with one exception:
 * when the module's reply to system_getInputPowerBehaviorConfig is not a
 * whole number of 32-bit words, the call reports error 1 and a count in
 * bytes.
 *
 * Error codes, with the names and descriptions of the library's own error
 * table. An error reply from the module gives the code it carries, and a
 * module may send any code of the table; the library itself gives the codes
 * that have a note here, for the reasons given (opening: see morv_connect):
 *
 *  0 aErrNone           "Success, no error"
 *  1 aErrMemory         "Memory allocation": memory ran out; a list reply
 *                       longer than the buffer (the count tells what was
 *                       stored); a reply to system_getInputPowerBehaviorConfig
 *                       that is not whole 32-bit words (the count in bytes)
 *  2 aErrParam          "Invalid parameter": a NULL buffer or a length of 0
 *                       for a list getter, a NULL buffer with a length for a
 *                       list setter, a NULL pointer or a selector beyond its
 *                       bits for a power-delivery function; rarely, a link
 *                       torn down while a request was being queued
 *  3 aErrNotFound       "Not found": no device is registered under the id
 *                       (or the id pointer is NULL)
 *  4 aErrFileNameLength "File name too long"
 *  5 aErrBusy           "Resource busy"
 *  6 aErrIO             "Input/Output error"
 *  7 aErrMode           "Invalid Mode"
 *  8 aErrWrite          "Write error"
 *  9 aErrRead           "Read error"
 * 10 aErrEOF            "End of file"
 * 11 aErrNotReady       "Not ready, no bytes available"
 * 12 aErrPermission     "Insufficient permissions"
 * 13 aErrRange          "Value out of range"
 * 14 aErrSize           "Invalid Size": a reply to a uint32_t list getter of
 *                       the power-delivery or USB-system entity that is not
 *                       whole 32-bit words (the count is the whole ones)
 * 15 aErrOverrun        "Buffer/queue overrun": the link's output queue
 *                       overflowed and its packets were dropped
 * 16 aErrParse          "Parse error"
 * 17 aErrConfiguration  "Configuration error"
 * 18 aErrTimeout        "Timeout occurred": no reply within 1 s (each packet
 *                       of a list reply within 1 s; 4 s after a list set of
 *                       more than 1000 bytes), or the link sent nothing of
 *                       its queue for 2 s
 * 19 aErrInitialization "Initialization error"
 * 20 aErrVersion        "Invalid version"
 * 21 aErrUnimplemented  "Functionality unimplemented"
 * 22 aErrDuplicate      "Duplicate request"
 * 23 aErrCancel         "Cancellation occurred, or did not complete"
 * 24 aErrPacket         "Packet byte invalid": a reply of the wrong form (a
 *                       get reply without a value, a list reply out of
 *                       sequence, an error reply without a code); or the
 *                       module gave no usable address when it was connected
 * 25 aErrConnection     "Connection error": the link is down (the module
 *                       went away, or the connection was closed)
 * 26 aErrIndexRange     "Index out of range": an entity index of 32 to 255
 * 27 aErrShortCommand   "Morvasset command to short"
 * 28 aErrInvalidEntity  "Invalid entity error"
 * 29 aErrInvalidOption  "Invalid option code"
 * 30 aErrResource       "Resource unavailable": a request packet could not
 *                       be made (memory)
 * 31 aErrMedia          "Media error"
 * 32 aErrAsyncReturn    "Asynchronous return error"
 * 33 aErrStreamStale    "Stream value is stale"
 * 34 aErrUnknown        "Unknown error": an error reply with the code 0, and
 *                       any other failure inside the library
 *
 * Calls on different devices may run on any number of threads at once;
 * calls on the same device must not overlap.
 *
 * On the wire every value is big-endian, uint32_t list elements included,
 * except the system entity's power behaviour configuration, which travels
 * in host memory order. Each option table below lists the option code, the
 * access (get: a get request, set: a set request, call: a set without a
 * value), the value type and the functions (with their selectors).
 */
#ifndef MORV_WRAPPERS_H
#define MORV_WRAPPERS_H

#include <stdint.h>

#if defined(__GNUC__)
#define MORV_WRAPPER_API __attribute__((visibility("default")))
#else
#define MORV_WRAPPER_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The outcome of one call. The caller owns it; read it with the accessors. */
typedef struct Result {
    int32_t value;
    int32_t error;
} Result;

static inline int32_t result_getValue(const Result* result)
{
    return result->value;
}

static inline int32_t result_getError(const Result* result)
{
    return result->error;
}

/* ----------------------------------------------------------------------
 * Opening and closing devices.
 *
 * Each returns an error code, 0 on success. Ids are never 0 and never used
 * twice while the process runs; after a failure *id is 0 and nothing was
 * registered. A NULL id pointer gives 2; memory running out gives 1, any
 * other failure inside the library 34, and running out of ids (after 2^32 - 1
 * of them) 30.
 *
 * Once a connection to a module is made, the library asks the module for its
 * address, up to four times with 1 s for each answer. What a connection
 * gives:
 *   25 nothing listens at the address and port (at once), nothing answers
 *      there (after the 2 s allowed for connecting), or the link does not
 *      come up within 2 s (the peer sends bytes that are no packets);
 *   11 the peer takes the connection and never answers the address request
 *      (after 4 s), or closes the connection at once.
 */

/* Finds the module with this serial number over USB (linkType 1) or TCP/IP
 * (linkType 2), connects it and registers it under a new id in *id. 2 for
 * serial number 0 or another link type; 3 when no module with that serial
 * number is found. Over USB a module this user may not open is skipped like
 * an absent one, and a module not found or not connected over USB is looked
 * for on a sharing server of this host (another process that has it open):
 * without one such a failure ends in 3 as well. A module found gives what its
 * connection gives (above). */
MORV_WRAPPER_API int32_t morv_connect(uint32_t linkType, uint32_t serialNumber, uint32_t* id);

/* Connects the TCP/IP module at this address and port without discovery and
 * registers it under a new id in *id. The address is in host order:
 * 127.0.0.1 is 0x7F000001. 2 for port 0; otherwise what the connection gives
 * (above). */
MORV_WRAPPER_API int32_t morv_connectAddress(uint32_t ipv4Address, uint16_t port, uint32_t* id);

/* Removes the device from the registry, so later calls with its id report
 * 3, and disconnects it: at once, or, when a call on it is still running on
 * another thread, as that call returns (the call finishes on the device it
 * found). 3 for an id that is not registered. */
MORV_WRAPPER_API int32_t morv_disconnect(uint32_t id);

/* ----------------------------------------------------------------------
 * port_ functions (71).
 *
 * The port entities of a device (one per port, chosen by the index).
 * PortClass, entity command 35. Lengths and counts of port_getName and
 * port_setName are in bytes.
 *
 * option access    value           functions
 *    1   get       int32_t         getVbusVoltage
 *    2   get       int32_t         getVbusCurrent
 *    3   get       int32_t         getVconnVoltage
 *    4   get       int32_t         getVconnCurrent
 *    5   get       int32_t         getAllocatedPower
 *    6   get       int32_t         getVbusAccumulatedPower
 *    7   get       int32_t         getVconnAccumulatedPower
 *    8   get/set   uint32_t        getVoltageSetpoint, setVoltageSetpoint
 *    9   get       uint32_t        getState
 *   10   get/set   uint32_t        getMode, setMode
 *   11   get       uint32_t        getErrors
 *   12   get/set   uint32_t        getCurrentLimit, setCurrentLimit
 *   13   get       uint32_t        getAvailablePower
 *   14   get/set   uint32_t        getPowerLimit, setPowerLimit
 *   15   get       uint16_t        getCC1State
 *   16   get       uint16_t        getCC2State
 *   17   get/set   uint8_t         getPowerMode, setPowerMode
 *   18   get/set   uint8_t         getEnabled, setEnabled
 *   19   get/set   uint8_t         getDataEnabled, setDataEnabled
 *   20   get/set   uint8_t         getDataHSEnabled, setDataHSEnabled
 *   21   get/set   uint8_t         getDataHS1Enabled, setDataHS1Enabled
 *   22   get/set   uint8_t         getDataHS2Enabled, setDataHS2Enabled
 *   23   get/set   uint8_t         getDataSSEnabled, setDataSSEnabled
 *   24   get/set   uint8_t         getDataSS1Enabled, setDataSS1Enabled
 *   25   get/set   uint8_t         getDataSS2Enabled, setDataSS2Enabled
 *   26   get/set   uint8_t         getPowerEnabled, setPowerEnabled
 *   27   get       uint8_t         getDataRole
 *   28   get/set   uint8_t         getVconnEnabled, setVconnEnabled
 *   29   get/set   uint8_t         getVconn1Enabled, setVconn1Enabled
 *   30   get/set   uint8_t         getVconn2Enabled, setVconn2Enabled
 *   31   get/set   uint8_t         getCCEnabled, setCCEnabled
 *   32   get/set   uint8_t         getCC1Enabled, setCC1Enabled
 *   33   get/set   uint8_t         getCC2Enabled, setCC2Enabled
 *   34   get       uint8_t         getDataSpeed
 *   35   get/set   uint8_t         getCurrentLimitMode, setCurrentLimitMode
 *   36   get/set   uint8_t         getPowerLimitMode, setPowerLimitMode
 *   37   get/set   uint8_t         getCCCurrentLimit, setCCCurrentLimit
 *   38   get/set   uint8_t         getDataHSRoutingBehavior, setDataHSRoutingBehavior
 *   39   get/set   uint8_t         getDataSSRoutingBehavior, setDataSSRoutingBehavior
 *   40   get/set   uint8_t         getHSBoost, setHSBoost
 *   41   call      -               resetVbusAccumulatedPower
 *   42   call      -               resetVconnAccumulatedPower
 *   43   call      -               resetEntityToFactoryDefaults
 *   44   get/set   bytes           getName, setName
 */
MORV_WRAPPER_API void port_getVbusVoltage(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getVbusCurrent(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getVconnVoltage(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getVconnCurrent(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getAllocatedPower(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getVbusAccumulatedPower(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getVconnAccumulatedPower(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getVoltageSetpoint(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getState(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getMode(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getErrors(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getCurrentLimit(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getAvailablePower(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getPowerLimit(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getCC1State(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getCC2State(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getPowerMode(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getEnabled(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getDataEnabled(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getDataHSEnabled(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getDataHS1Enabled(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getDataHS2Enabled(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getDataSSEnabled(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getDataSS1Enabled(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getDataSS2Enabled(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getPowerEnabled(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getDataRole(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getVconnEnabled(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getVconn1Enabled(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getVconn2Enabled(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getCCEnabled(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getCC1Enabled(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getCC2Enabled(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getDataSpeed(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getCurrentLimitMode(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getPowerLimitMode(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getCCCurrentLimit(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getDataHSRoutingBehavior(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getDataSSRoutingBehavior(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getHSBoost(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_setPowerMode(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void port_setEnabled(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void port_setDataEnabled(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void port_setDataHSEnabled(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void port_setDataHS1Enabled(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void port_setDataHS2Enabled(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void port_setDataSSEnabled(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void port_setDataSS1Enabled(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void port_setDataSS2Enabled(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void port_setPowerEnabled(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void port_setVconnEnabled(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void port_setVconn1Enabled(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void port_setVconn2Enabled(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void port_setCCEnabled(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void port_setCC1Enabled(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void port_setCC2Enabled(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void port_setCurrentLimitMode(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void port_setPowerLimitMode(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void port_setCCCurrentLimit(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void port_setDataHSRoutingBehavior(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void port_setDataSSRoutingBehavior(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void port_setHSBoost(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void port_setVoltageSetpoint(const uint32_t* id, Result* result, int32_t index, uint32_t value);
MORV_WRAPPER_API void port_setMode(const uint32_t* id, Result* result, int32_t index, uint32_t value);
MORV_WRAPPER_API void port_setCurrentLimit(const uint32_t* id, Result* result, int32_t index, uint32_t value);
MORV_WRAPPER_API void port_setPowerLimit(const uint32_t* id, Result* result, int32_t index, uint32_t value);
MORV_WRAPPER_API void port_resetVbusAccumulatedPower(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_resetVconnAccumulatedPower(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_resetEntityToFactoryDefaults(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void port_getName(const uint32_t* id, Result* result, int32_t index, uint8_t* buffer, uint32_t length);
MORV_WRAPPER_API void port_setName(const uint32_t* id, Result* result, int32_t index, const uint8_t* buffer,
                                   uint32_t length);

/* ----------------------------------------------------------------------
 * usb_ functions (49).
 *
 * The USB hub entity. USBClass, entity command 18. The uint8_t input of
 * the enable, disable and clear functions is a downstream port number, sent
 * as the set's value; the port selector of the others travels unchanged as
 * the request's sub-index.
 *
 * option access    value           functions
 *    1   set       uint8_t         setPortEnable
 *    2   set       uint8_t         setPortDisable
 *    3   set       uint8_t         setDataEnable
 *    4   set       uint8_t         setDataDisable
 *    5   set       uint8_t         setHiSpeedDataEnable
 *    6   set       uint8_t         setHiSpeedDataDisable
 *    7   set       uint8_t         setSuperSpeedDataEnable
 *    8   set       uint8_t         setSuperSpeedDataDisable
 *    9   set       uint8_t         setPowerEnable
 *   10   set       uint8_t         setPowerDisable
 *   11   set       uint8_t         clearPortErrorStatus
 *   12   get/set   uint8_t         setUpstreamMode, getUpstreamMode
 *   13   get/set   uint8_t         setUpstreamBoostMode, getUpstreamBoostMode
 *   14   get/set   uint8_t         setDownstreamBoostMode, getDownstreamBoostMode
 *   15   get/set   uint32_t        setHubMode, getHubMode
 *   16   get/set   uint32_t        setEnumerationDelay, getEnumerationDelay
 *   17   get       uint8_t         getUpstreamState
 *   18   get       int32_t         getPortCurrent(port)
 *   19   get       int32_t         getPortVoltage(port)
 *   20   get       int32_t         getCC1Current(port)
 *   21   get       int32_t         getCC2Current(port)
 *   22   get       int32_t         getCC1Voltage(port)
 *   23   get       int32_t         getCC2Voltage(port)
 *   24   get       int32_t         getSBU1Voltage(port)
 *   25   get       int32_t         getSBU2Voltage(port)
 *   26   get/set   uint32_t        getPortCurrentLimit(port), setPortCurrentLimit(port)
 *   27   get/set   uint32_t        getPortMode(port), setPortMode(port)
 *   28   get       uint32_t        getPortState(port)
 *   29   get       uint32_t        getPortError(port)
 *   30   get/set   uint32_t        getAltModeConfig(port), setAltModeConfig(port)
 *   31   get       uint8_t         getDownstreamDataSpeed(port)
 *   32   get/set   uint8_t         getConnectMode(port), setConnectMode(port)
 *   33   get/set   uint8_t         getCC1Enable(port), setCC1Enable(port)
 *   34   get/set   uint8_t         getCC2Enable(port), setCC2Enable(port)
 *   35   get/set   uint8_t         getSBUEnable(port), setSBUEnable(port)
 *   36   get/set   uint8_t         getCableFlip(port), setCableFlip(port)
 */
MORV_WRAPPER_API void usb_setPortEnable(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_setPortDisable(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_setDataEnable(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_setDataDisable(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_setHiSpeedDataEnable(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_setHiSpeedDataDisable(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_setSuperSpeedDataEnable(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_setSuperSpeedDataDisable(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_setPowerEnable(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_setPowerDisable(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_clearPortErrorStatus(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_setUpstreamMode(const uint32_t* id, Result* result, int32_t index, uint8_t mode);
MORV_WRAPPER_API void usb_setUpstreamBoostMode(const uint32_t* id, Result* result, int32_t index, uint8_t mode);
MORV_WRAPPER_API void usb_setDownstreamBoostMode(const uint32_t* id, Result* result, int32_t index, uint8_t mode);
MORV_WRAPPER_API void usb_setHubMode(const uint32_t* id, Result* result, int32_t index, uint32_t mode);
MORV_WRAPPER_API void usb_setEnumerationDelay(const uint32_t* id, Result* result, int32_t index, uint32_t delay);
MORV_WRAPPER_API void usb_getHubMode(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void usb_getEnumerationDelay(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void usb_getUpstreamMode(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void usb_getUpstreamState(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void usb_getUpstreamBoostMode(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void usb_getDownstreamBoostMode(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void usb_getPortCurrent(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_getPortVoltage(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_getCC1Current(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_getCC2Current(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_getCC1Voltage(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_getCC2Voltage(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_getSBU1Voltage(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_getSBU2Voltage(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_getPortCurrentLimit(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_getPortMode(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_getPortState(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_getPortError(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_getAltModeConfig(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_getDownstreamDataSpeed(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_getConnectMode(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_getCC1Enable(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_getCC2Enable(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_getSBUEnable(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_getCableFlip(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usb_setPortCurrentLimit(const uint32_t* id, Result* result, int32_t index, uint8_t port,
                                              uint32_t value);
MORV_WRAPPER_API void usb_setPortMode(const uint32_t* id, Result* result, int32_t index, uint8_t port, uint32_t value);
MORV_WRAPPER_API void usb_setAltModeConfig(const uint32_t* id, Result* result, int32_t index, uint8_t port,
                                           uint32_t value);
MORV_WRAPPER_API void usb_setConnectMode(const uint32_t* id, Result* result, int32_t index, uint8_t port,
                                         uint8_t value);
MORV_WRAPPER_API void usb_setCC1Enable(const uint32_t* id, Result* result, int32_t index, uint8_t port, uint8_t value);
MORV_WRAPPER_API void usb_setCC2Enable(const uint32_t* id, Result* result, int32_t index, uint8_t port, uint8_t value);
MORV_WRAPPER_API void usb_setSBUEnable(const uint32_t* id, Result* result, int32_t index, uint8_t port, uint8_t value);
MORV_WRAPPER_API void usb_setCableFlip(const uint32_t* id, Result* result, int32_t index, uint8_t port, uint8_t value);

/* ----------------------------------------------------------------------
 * system_ functions (50).
 *
 * The system entity (SystemClass, entity command 3). system_getName and
 * system_setName count bytes; the power behaviour configuration counts
 * uint32_t elements and travels in host memory order. system_setLED sends
 * any value but 0 as 1. system_getVersion gives the module's packed version
 * word (major, minor and patch).
 *
 * option access    value           functions
 *    1   get       uint8_t         getModule
 *    2   get/set   uint8_t         getRouter, setRouter
 *    3   get/set   uint8_t         getHBInterval, setHBInterval
 *    4   get/set   uint8_t         getLED, setLED
 *    6   get/set   uint8_t         getBootSlot, setBootSlot
 *    7   get       uint32_t        getVersion
 *    8   get       uint8_t         getModel
 *    9   get       uint32_t        getSerialNumber
 *   10   call      -               save
 *   11   call      -               reset
 *   12   get       uint32_t        getInputVoltage
 *   13   get       uint8_t         getModuleHardwareOffset
 *   14   get       uint8_t         getModuleBaseAddress
 *   15   get/set   uint8_t         getModuleSoftwareOffset, setModuleSoftwareOffset
 *   16   get       uint8_t         getRouterAddressSetting
 *   20   set       uint8_t         routeToMe
 *   21   get       uint32_t        getInputCurrent
 *   22   get       uint32_t        getUptime
 *   23   get       int32_t         getMaximumTemperature
 *   24   call      -               logEvents
 *   25   get       int32_t         getUnregulatedVoltage
 *   26   get       int32_t         getUnregulatedCurrent
 *   27   get       int32_t         getTemperature
 *   28   get       int32_t         getMinimumTemperature
 *   29   get       uint8_t         getInputPowerSource
 *   30   get/set   uint8_t         getInputPowerBehavior, setInputPowerBehavior
 *   31   get/set   uint32_t list   getInputPowerBehaviorConfig, setInputPowerBehaviorConfig
 *   32   get/set   bytes           getName, setName
 *   33   get       uint32_t        getPowerLimit
 *   34   get/set   uint32_t        getPowerLimitMax, setPowerLimitMax
 *   35   get       uint32_t        getPowerLimitState
 *   36   call      -               resetEntityToFactoryDefaults
 *   37   call      -               resetDeviceToFactoryDefaults
 *   38   get/set   uint8_t         getLinkInterface, setLinkInterface
 *   40   get       uint32_t        getHardwareVersion
 *   41   get       uint32_t        getErrors
 *   42   get/set   uint8_t         getLEDMaxBrightness, setLEDMaxBrightness
 *   43   get       uint32_t        getBuild
 *   45   get       uint32_t        getProtocolFeatures
 */
MORV_WRAPPER_API void system_getModule(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getModuleBaseAddress(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getRouter(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getHBInterval(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getLED(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getLEDMaxBrightness(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getBootSlot(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getModel(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getModuleHardwareOffset(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getModuleSoftwareOffset(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getRouterAddressSetting(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getInputPowerSource(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getInputPowerBehavior(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getLinkInterface(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getVersion(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getBuild(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getHardwareVersion(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getSerialNumber(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getUptime(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getInputVoltage(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getInputCurrent(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getPowerLimit(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getPowerLimitMax(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getPowerLimitState(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getErrors(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getProtocolFeatures(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getTemperature(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getMinimumTemperature(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getMaximumTemperature(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getUnregulatedVoltage(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getUnregulatedCurrent(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_setRouter(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void system_setHBInterval(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void system_setLED(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void system_setLEDMaxBrightness(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void system_setBootSlot(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void system_setModuleSoftwareOffset(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void system_routeToMe(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void system_setInputPowerBehavior(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void system_setLinkInterface(const uint32_t* id, Result* result, int32_t index, uint8_t value);
MORV_WRAPPER_API void system_setPowerLimitMax(const uint32_t* id, Result* result, int32_t index, uint32_t value);
MORV_WRAPPER_API void system_save(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_reset(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_logEvents(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_resetEntityToFactoryDefaults(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_resetDeviceToFactoryDefaults(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void system_getInputPowerBehaviorConfig(const uint32_t* id, Result* result, int32_t index,
                                                         uint32_t* buffer, uint32_t length);
MORV_WRAPPER_API void system_getName(const uint32_t* id, Result* result, int32_t index, uint8_t* buffer,
                                     uint32_t length);
MORV_WRAPPER_API void system_setInputPowerBehaviorConfig(const uint32_t* id, Result* result, int32_t index,
                                                         const uint32_t* buffer, uint32_t length);
MORV_WRAPPER_API void system_setName(const uint32_t* id, Result* result, int32_t index, const uint8_t* buffer,
                                     uint32_t length);

/* ----------------------------------------------------------------------
 * powerdelivery_ functions (33).
 *
 * The power-delivery entities (one per port, chosen by the index).
 * PowerDeliveryClass, entity command 36.
 *
 * Data-object attributes: the selectors partner, powerRole and ruleIndex
 * travel as one byte: partner in bits 6-7 (0 local, 1 remote), power role
 * in bits 4-5 (1 source, 2 sink), rule index in bits 0-3. It is the
 * request's sub-index, and the value of resetPowerDataObjectToDefault. A
 * selector beyond its bits gives aErrParam (2) and nothing is sent.
 * Functions without a partner selector address the local partner.
 * powerdelivery_getFlagMode and powerdelivery_setFlagMode send their flag
 * number itself as the sub-index. The data-object list counts uint32_t
 * elements.
 *
 * option access    value           functions
 *    1   get       uint8_t         getConnectionState
 *    2   get       uint8_t         getNumberOfPowerDataObjects(partner, powerRole)
 *    3   get/set   uint32_t        getPowerDataObject(partner, powerRole, ruleIndex),
 *                                  setPowerDataObject(powerRole, ruleIndex)
 *    4   set       uint8_t         resetPowerDataObjectToDefault(powerRole, ruleIndex)
 *    5   get       uint32_t list   getPowerDataObjectList
 *    6   get/set   uint8_t         getPowerDataObjectEnabled(powerRole, ruleIndex),
 *                                  setPowerDataObjectEnabled(powerRole, ruleIndex)
 *    7   get       uint8_t         getPowerDataObjectEnabledList(powerRole)
 *    8   get/set   uint32_t        getRequestDataObject(partner), setRequestDataObject
 *    9   get/set   uint8_t         getPowerRole, setPowerRole
 *   10   get/set   uint8_t         getPowerRolePreferred, setPowerRolePreferred
 *   11   get       uint8_t         getCableVoltageMax
 *   12   get       uint8_t         getCableCurrentMax
 *   13   get       uint8_t         getCableSpeedMax
 *   14   get       uint8_t         getCableType
 *   15   get       uint8_t         getCableOrientation
 *   16   set       uint8_t         request
 *   17   get       uint32_t        requestStatus
 *   18   get/set   uint32_t        getOverride, setOverride
 *   19   call      -               resetEntityToFactoryDefaults
 *   20   get/set   uint8_t         getFlagMode(flag), setFlagMode(flag)
 *   21   get/set   uint8_t         getPeakCurrentConfiguration, setPeakCurrentConfiguration
 *   22   get/set   uint8_t         getFastRoleSwapCurrent, setFastRoleSwapCurrent
 *
 * powerdelivery_packDataObjectAttributes builds the attribute byte into
 * *attributes; powerdelivery_unpackDataObjectAttributes splits one into
 * *partner and *powerRole and reports the rule index as the value. Both
 * still need a registered device.
 */
MORV_WRAPPER_API void powerdelivery_getConnectionState(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void powerdelivery_getNumberOfPowerDataObjects(const uint32_t* id, Result* result, int32_t index,
                                                                uint8_t partner, uint8_t powerRole);
MORV_WRAPPER_API void powerdelivery_getPowerDataObject(const uint32_t* id, Result* result, int32_t index,
                                                       uint8_t partner, uint8_t powerRole, uint8_t ruleIndex);
MORV_WRAPPER_API void powerdelivery_setPowerDataObject(const uint32_t* id, Result* result, int32_t index,
                                                       uint8_t powerRole, uint8_t ruleIndex, uint32_t pdo);
MORV_WRAPPER_API void powerdelivery_resetPowerDataObjectToDefault(const uint32_t* id, Result* result, int32_t index,
                                                                  uint8_t powerRole, uint8_t ruleIndex);
MORV_WRAPPER_API void powerdelivery_getPowerDataObjectList(const uint32_t* id, Result* result, int32_t index,
                                                           uint32_t* buffer, uint32_t length);
MORV_WRAPPER_API void powerdelivery_getPowerDataObjectEnabled(const uint32_t* id, Result* result, int32_t index,
                                                              uint8_t powerRole, uint8_t ruleIndex);
MORV_WRAPPER_API void powerdelivery_setPowerDataObjectEnabled(const uint32_t* id, Result* result, int32_t index,
                                                              uint8_t powerRole, uint8_t ruleIndex, uint8_t enabled);
MORV_WRAPPER_API void powerdelivery_getPowerDataObjectEnabledList(const uint32_t* id, Result* result, int32_t index,
                                                                  uint8_t powerRole);
MORV_WRAPPER_API void powerdelivery_getRequestDataObject(const uint32_t* id, Result* result, int32_t index,
                                                         uint8_t partner);
MORV_WRAPPER_API void powerdelivery_setRequestDataObject(const uint32_t* id, Result* result, int32_t index,
                                                         uint32_t rdo);
MORV_WRAPPER_API void powerdelivery_getPowerRole(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void powerdelivery_setPowerRole(const uint32_t* id, Result* result, int32_t index, uint8_t powerRole);
MORV_WRAPPER_API void powerdelivery_getPowerRolePreferred(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void powerdelivery_setPowerRolePreferred(const uint32_t* id, Result* result, int32_t index,
                                                          uint8_t powerRole);
MORV_WRAPPER_API void powerdelivery_getCableVoltageMax(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void powerdelivery_getCableCurrentMax(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void powerdelivery_getCableSpeedMax(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void powerdelivery_getCableType(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void powerdelivery_getCableOrientation(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void powerdelivery_request(const uint32_t* id, Result* result, int32_t index, uint8_t request);
MORV_WRAPPER_API void powerdelivery_requestStatus(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void powerdelivery_getOverride(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void powerdelivery_setOverride(const uint32_t* id, Result* result, int32_t index, uint32_t overrides);
MORV_WRAPPER_API void powerdelivery_resetEntityToFactoryDefaults(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void powerdelivery_getFlagMode(const uint32_t* id, Result* result, int32_t index, uint8_t flag);
MORV_WRAPPER_API void powerdelivery_setFlagMode(const uint32_t* id, Result* result, int32_t index, uint8_t flag,
                                                uint8_t mode);
MORV_WRAPPER_API void powerdelivery_getPeakCurrentConfiguration(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void powerdelivery_setPeakCurrentConfiguration(const uint32_t* id, Result* result, int32_t index,
                                                                uint8_t configuration);
MORV_WRAPPER_API void powerdelivery_getFastRoleSwapCurrent(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void powerdelivery_setFastRoleSwapCurrent(const uint32_t* id, Result* result, int32_t index,
                                                           uint8_t current);
MORV_WRAPPER_API void powerdelivery_packDataObjectAttributes(const uint32_t* id, Result* result, int32_t index,
                                                             uint8_t* attributes, uint8_t partner, uint8_t powerRole,
                                                             uint8_t ruleIndex);
MORV_WRAPPER_API void powerdelivery_unpackDataObjectAttributes(const uint32_t* id, Result* result, int32_t index,
                                                               uint8_t attributes, uint8_t* partner,
                                                               uint8_t* powerRole);

/* ----------------------------------------------------------------------
 * usbsystem_ functions (31).
 *
 * The USB-system entity. USBSystemClass, entity command 37. The mode list,
 * the state list and both behaviour configurations count uint32_t elements;
 * getDataRoleList, getEnabledList and setEnabledList carry one word.
 *
 * option access    value           functions
 *    1   get/set   uint8_t         getUpstream, setUpstream
 *    2   get/set   uint32_t        getEnumerationDelay, setEnumerationDelay
 *    3   get       uint32_t        getDataRoleList
 *    4   get/set   uint32_t        getEnabledList, setEnabledList
 *    5   get/set   uint32_t list   getModeList, setModeList
 *    6   get       uint32_t list   getStateList
 *    7   get/set   uint8_t         getPowerBehavior, setPowerBehavior
 *    8   get/set   uint32_t list   getPowerBehaviorConfig, setPowerBehaviorConfig
 *    9   get/set   uint8_t         getDataRoleBehavior, setDataRoleBehavior
 *   10   get/set   uint32_t list   getDataRoleBehaviorConfig, setDataRoleBehaviorConfig
 *   11   get/set   uint8_t         getSelectorMode, setSelectorMode
 *   12   call      -               resetEntityToFactoryDefaults
 *   13   get/set   uint8_t         getUpstreamHS, setUpstreamHS
 *   14   get/set   uint8_t         getUpstreamSS, setUpstreamSS
 *   15   get/set   uint32_t        getOverride, setOverride
 *   16   get/set   uint32_t        setDataHSMaxDatarate, getDataHSMaxDatarate
 *   17   get/set   uint32_t        setDataSSMaxDatarate, getDataSSMaxDatarate
 */
MORV_WRAPPER_API void usbsystem_getUpstream(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void usbsystem_setUpstream(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usbsystem_getEnumerationDelay(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void usbsystem_setEnumerationDelay(const uint32_t* id, Result* result, int32_t index, uint32_t delay);
MORV_WRAPPER_API void usbsystem_getDataRoleList(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void usbsystem_getEnabledList(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void usbsystem_setEnabledList(const uint32_t* id, Result* result, int32_t index, uint32_t enabled);
MORV_WRAPPER_API void usbsystem_getModeList(const uint32_t* id, Result* result, int32_t index, uint32_t* buffer,
                                            uint32_t length);
MORV_WRAPPER_API void usbsystem_setModeList(const uint32_t* id, Result* result, int32_t index, const uint32_t* buffer,
                                            uint32_t length);
MORV_WRAPPER_API void usbsystem_getStateList(const uint32_t* id, Result* result, int32_t index, uint32_t* buffer,
                                             uint32_t length);
MORV_WRAPPER_API void usbsystem_getPowerBehavior(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void usbsystem_setPowerBehavior(const uint32_t* id, Result* result, int32_t index, uint8_t behavior);
MORV_WRAPPER_API void usbsystem_getPowerBehaviorConfig(const uint32_t* id, Result* result, int32_t index,
                                                       uint32_t* buffer, uint32_t length);
MORV_WRAPPER_API void usbsystem_setPowerBehaviorConfig(const uint32_t* id, Result* result, int32_t index,
                                                       const uint32_t* buffer, uint32_t length);
MORV_WRAPPER_API void usbsystem_getDataRoleBehavior(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void usbsystem_setDataRoleBehavior(const uint32_t* id, Result* result, int32_t index,
                                                    uint8_t behavior);
MORV_WRAPPER_API void usbsystem_getDataRoleBehaviorConfig(const uint32_t* id, Result* result, int32_t index,
                                                          uint32_t* buffer, uint32_t length);
MORV_WRAPPER_API void usbsystem_setDataRoleBehaviorConfig(const uint32_t* id, Result* result, int32_t index,
                                                          const uint32_t* buffer, uint32_t length);
MORV_WRAPPER_API void usbsystem_getSelectorMode(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void usbsystem_setSelectorMode(const uint32_t* id, Result* result, int32_t index, uint8_t mode);
MORV_WRAPPER_API void usbsystem_resetEntityToFactoryDefaults(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void usbsystem_getUpstreamHS(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void usbsystem_setUpstreamHS(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usbsystem_getUpstreamSS(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void usbsystem_setUpstreamSS(const uint32_t* id, Result* result, int32_t index, uint8_t port);
MORV_WRAPPER_API void usbsystem_getOverride(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void usbsystem_setOverride(const uint32_t* id, Result* result, int32_t index, uint32_t overrides);
MORV_WRAPPER_API void usbsystem_setDataHSMaxDatarate(const uint32_t* id, Result* result, int32_t index,
                                                     uint32_t datarate);
MORV_WRAPPER_API void usbsystem_getDataHSMaxDatarate(const uint32_t* id, Result* result, int32_t index);
MORV_WRAPPER_API void usbsystem_setDataSSMaxDatarate(const uint32_t* id, Result* result, int32_t index,
                                                     uint32_t datarate);
MORV_WRAPPER_API void usbsystem_getDataSSMaxDatarate(const uint32_t* id, Result* result, int32_t index);

#ifdef __cplusplus
}
#endif

#endif
