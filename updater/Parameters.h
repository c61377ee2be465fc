// What the command line asks for: the commands as bits and their parameters.
#ifndef UPDATER_PARAMETERS_H
#define UPDATER_PARAMETERS_H

#include <cstdint>
#include <string>

// Command bits of CommandsClass.
enum COMMANDS : uint32_t {
    CMD_DISCOVER = 0x1u,
    CMD_UPDATE = 0x2u,
    CMD_LIST_BUILDS = 0x4u,
    CMD_GET_BUILD = 0x8u,
    CMD_VIEW_INFO = 0x10u,
    CMD_CHECK_BIRDFILE = 0x20u,
    CMD_FINGERPRINT = 0x40u,
    CMD_Z = 0x80u,
    CMD_GET_JWT = 0x100u,
    CMD_LIST_LOCAL_BUILDS = 0x200u,
    CMD_HELP = 0x80000000u,
    // Mask main tests to see whether some command was given.
    CMD_ANY = 0x307FFu,
};

class CommandsClass {
public:
    CommandsClass() : word(0) {}
    void Set(uint32_t bits) { word |= bits; }
    // True when the word and the mask share at least one bit.
    bool IsSet(uint32_t mask) const { return (word & mask) != 0; }

private:
    uint32_t word;
};

// The update host of the default server URL and of the usage text.
#define UPDATER_DEFAULT_HOST "update.zorventa.com"
#define UPDATER_DEFAULT_SERVER_URL "http://" UPDATER_DEFAULT_HOST "/cgi/u"

// linkType values of transport, plus recovery through the boot ROM.
enum : uint32_t {
    TRANSPORT_INVALID = 0,
    TRANSPORT_USB = 1,
    TRANSPORT_TCPIP = 2,
    TRANSPORT_RECOVER = 255,
};

struct Parameters {
    CommandsClass commands;
    uint32_t serialNumber = 0;
    uint32_t routerSerialNumber = 0;
    uint32_t transport = TRANSPORT_USB;
    bool transportGiven = false;
    std::string serialPort;
    uint32_t baudRate = 115200;
    std::string birdFile;
    std::string build; // decimal build number; empty for the latest build
    std::string serverUrl = UPDATER_DEFAULT_SERVER_URL;
    std::string storageDirectory; // empty: the default base under the home directory
    std::string programName;
    std::string homeDirectory;
    bool override = false;
    bool useUEI = true;
    uint32_t logMask = 0;
    bool logMaskGiven = false;
    bool helpRequested = false;
    // Optional heap buffer (malloc) released by _release_params.
    char* heapBuffer = nullptr;

    Parameters() = default;
    ~Parameters();
    Parameters(const Parameters&) = delete;
    Parameters& operator=(const Parameters&) = delete;
};

// Frees the optional heap buffer and clears the pointer.
void _release_params(Parameters* params);

#endif
