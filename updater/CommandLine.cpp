#include "CommandLine.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Log.h"
#include "aDirectory.h"

const SOption g_rgOptions[31] = {
    {OPT_COMMAND, "-B", SO_NONE},
    {OPT_COMMAND, "-L", SO_NONE},
    {OPT_COMMAND, "-D", SO_NONE},
    {OPT_COMMAND, "-G", SO_NONE},
    {OPT_COMMAND, "-I", SO_NONE},
    {OPT_COMMAND, "-U", SO_NONE},
    {OPT_COMMAND, "-OVERRIDE", SO_NONE},
    {OPT_COMMAND, "-N", SO_NONE},
    {OPT_COMMAND, "-Y", SO_NONE},
    {OPT_COMMAND, "-C", SO_NONE},
    {OPT_COMMAND, "-J", SO_NONE},
    {OPT_HELP, "-h", SO_NONE},
    {OPT_HELP, "-H", SO_NONE},
    {OPT_OPTION, "-n", SO_NONE},
    {OPT_OPTION, "-X", SO_REQ_SEP},
    {OPT_OPTION, "-Z", SO_REQ_SEP},
    {OPT_OPTION, "-m", SO_REQ_SEP},
    {OPT_OPTION, "-i", SO_REQ_SEP},
    {OPT_OPTION, "-b", SO_REQ_SEP},
    {OPT_OPTION, "-d", SO_REQ_SEP},
    {OPT_OPTION, "-t", SO_REQ_SEP},
    {OPT_OPTION, "-f", SO_REQ_SEP},
    {OPT_OPTION, "-r", SO_REQ_SEP},
    {OPT_OPTION, "-s", SO_REQ_SEP},
    {OPT_OPTION, "-o", SO_REQ_SEP},
    {OPT_OPTION, "-e", SO_NONE},
    {OPT_OPTION, "-l", SO_REQ_SEP},
    {OPT_OPTION, "-k", SO_REQ_SEP},
    {OPT_OPTION, "-u", SO_REQ_SEP},
    {OPT_HELP, "--help", SO_NONE},
    {-1, nullptr, SO_NONE},
};

namespace {

constexpr size_t kHomeBufferSize = 2048;
const char kDecimalDigits[] = "0123456789";
const char kHexDigits[] = "0123456789ABCDEFabcdef";
const char kUnprocessed[] = "Invalid format for \"%s\" parameter, unprocessed characters [%s]";

uint32_t get_arg(const char* text, char** end, const char* digits, int base)
{
    if (end == nullptr)
        return 0;
    if (text == nullptr) {
        *end = nullptr;
        return 0;
    }
    const size_t length = strlen(text);
    const size_t span = strspn(text, digits);
    if (span != length) {
        *end = const_cast<char*>(text + span);
        return 0;
    }
    errno = 0;
    const unsigned long long value = strtoull(text, nullptr, base);
    // Wrapping would quietly name another device or build: refuse the whole text.
    if (errno == ERANGE || value > UINT32_MAX) {
        *end = const_cast<char*>(text);
        return 0;
    }
    *end = const_cast<char*>(text + length);
    return static_cast<uint32_t>(value);
}

const char* skip_hex_prefix(const char* arg, const char* trace)
{
    if (arg[0] == '0' && (arg[1] == 'x' || arg[1] == 'X')) {
        Log::log(DEBUG_Updater, "%s", trace);
        return arg + 2;
    }
    return arg;
}

bool starts_with(const char* text, const char* prefix)
{
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

// The handlers return false on a parse error.

bool handle_log_mask(UpdaterDisplayInterface& display, const char* arg, Parameters* params)
{
    params->logMaskGiven = true;
    const int base = (arg[0] == '0' && (arg[1] == 'x' || arg[1] == 'X')) ? 16 : 10;
    char* end = nullptr;
    const unsigned long value = strtoul(arg, &end, base);
    if (end != nullptr && *end != '\0') {
        // Not fatal: the run goes on without tracing.
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, kUnprocessed, "-X", end);
        return true;
    }
    params->logMask = static_cast<uint32_t>(value);
    Log::ActivatePackage(params->logMask);
    return true;
}

bool handle_decimal(UpdaterDisplayInterface& display, const char* option, const char* arg,
                    uint32_t* value)
{
    char* end = nullptr;
    const uint32_t v = _get_int_arg(arg, &end);
    if (end == nullptr || *end != '\0') {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, kUnprocessed, option,
                        end != nullptr ? end : "");
        return false;
    }
    *value = v;
    return true;
}

bool handle_serial(UpdaterDisplayInterface& display, const char* arg, Parameters* params)
{
    const char* digits = skip_hex_prefix(arg, "Discarding '0x' serial number prefix\n");
    char* end = nullptr;
    const uint32_t value = _get_hex_arg(digits, &end);
    if (end != nullptr && *end != '\0')
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, kUnprocessed, "-d", end);
    if (value == 0) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR,
                        "Invalid serial number obtained from argument [%s]", digits);
        return false;
    }
    params->serialNumber = value;
    return true;
}

bool handle_router_serial(UpdaterDisplayInterface& display, const char* arg, Parameters* params)
{
    const char* digits = skip_hex_prefix(arg, "Discarding '0x' router serial number prefix\n");
    char* end = nullptr;
    const uint32_t value = _get_hex_arg(digits, &end);
    if (end != nullptr && *end != '\0')
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, kUnprocessed, digits, end);
    if (value == 0) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR,
                        "Invalid router serial number obtained from argument [%s]", digits);
        return false;
    }
    params->routerSerialNumber = value;
    return true;
}

bool handle_transport(UpdaterDisplayInterface& display, const char* arg, Parameters* params)
{
    params->transportGiven = true;
    if (starts_with(arg, "USB")) {
        params->transport = TRANSPORT_USB;
    } else if (starts_with(arg, "TCP")) {
        params->transport = TRANSPORT_TCPIP;
    } else if (starts_with(arg, "RECOVER")) {
        params->transport = TRANSPORT_RECOVER;
    } else {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR,
                        "Invalid transport type:[%s]\nMust be one of the following: USB, TCPIP, RECOVER",
                        arg);
        params->transport = TRANSPORT_INVALID;
        return false;
    }
    return true;
}

bool handle_command(UpdaterDisplayInterface& display, const char* text, Parameters* params)
{
    switch (text[1]) {
    case 'B': params->commands.Set(CMD_LIST_BUILDS); break;
    case 'L': params->commands.Set(CMD_LIST_LOCAL_BUILDS); break;
    case 'D': params->commands.Set(CMD_DISCOVER); break;
    case 'G': params->commands.Set(CMD_GET_BUILD); break;
    case 'I': params->commands.Set(CMD_VIEW_INFO); break;
    case 'U': params->commands.Set(CMD_UPDATE); break;
    case 'O': params->override = true; break;
    case 'N': params->commands.Set(CMD_FINGERPRINT); break;
    case 'C': params->commands.Set(CMD_CHECK_BIRDFILE); break;
    case 'J': params->commands.Set(CMD_GET_JWT); break;
    default:
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, "Unhandled command: [%s]", text);
        return false;
    }
    return true;
}

bool handle_option(UpdaterDisplayInterface& display, const char* text, const char* arg,
                   Parameters* params)
{
    // Options without an argument, and those that ignore it.
    switch (text[1]) {
    case 'n':
    case 'e':
    case 'l':
    case 'k':
        return true;
    case 'Z':
        params->commands.Set(CMD_Z);
        return true;
    default:
        break;
    }
    if (arg == nullptr)
        return true; // every other entry takes an argument; the parser gave one

    uint32_t value = 0;
    switch (text[1]) {
    case 'X':
        return handle_log_mask(display, arg, params);
    case 'm':
        params->useUEI = starts_with(arg, "1") || starts_with(arg, "true");
        return true;
    case 'i':
        params->storageDirectory = arg;
        return true;
    case 'b':
        if (!handle_decimal(display, "-b", arg, &value))
            return false;
        params->build = std::to_string(value);
        return true;
    case 'o':
        if (!handle_decimal(display, "-o", arg, &value))
            return false;
        params->baudRate = value;
        return true;
    case 'd':
        return handle_serial(display, arg, params);
    case 'r':
        return handle_router_serial(display, arg, params);
    case 't':
        return handle_transport(display, arg, params);
    case 'f':
        params->birdFile = arg;
        return true;
    case 's':
        params->serialPort = arg;
        return true;
    case 'u':
        params->serverUrl = arg;
        return true;
    default:
        return true;
    }
}

void set_defaults(int argc, char** argv, Parameters* params)
{
    params->commands = CommandsClass();
    params->serialNumber = 0;
    params->routerSerialNumber = 0;
    params->transport = TRANSPORT_USB;
    params->transportGiven = false;
    params->serialPort.clear();
    params->baudRate = 115200;
    params->birdFile.clear();
    params->build.clear();
    params->serverUrl = UPDATER_DEFAULT_SERVER_URL;
    params->storageDirectory.clear();
    params->override = false;
    params->useUEI = true;
    params->logMask = 0;
    params->logMaskGiven = false;
    params->helpRequested = false;

    params->programName.clear();
    if (argc > 0 && argv != nullptr && argv[0] != nullptr) {
        const char* name = argv[0];
        for (const char* p = argv[0]; *p != '\0'; ++p) {
            if (*p == '/' || *p == '\\')
                name = p + 1;
        }
        params->programName = name;
    }

    char home[kHomeBufferSize] = {};
    aDirectory_GetHomeDirectory(home, sizeof(home));
    home[sizeof(home) - 1] = '\0'; // the copy stops at the size, unterminated
    params->homeDirectory = home;
    Log::log(DEBUG_APP, "Home directory:[%s]\n", params->homeDirectory.c_str());
}

} // namespace

uint32_t _get_hex_arg(const char* text, char** end)
{
    return get_arg(text, end, kHexDigits, 16);
}

uint32_t _get_int_arg(const char* text, char** end)
{
    return get_arg(text, end, kDecimalDigits, 10);
}

int _validate_params(Parameters* params)
{
    (void)params;
    return 0;
}

int _get_params(CLI_Display& display, int argc, char** argv, Parameters* params)
{
    if (params == nullptr)
        return 1;
    set_defaults(argc, argv, params);

    bool failed = false;
    CSimpleOpt parser(argc, argv, g_rgOptions, 0);
    while (parser.Next()) {
        if (parser.LastError() != SO_SUCCESS)
            continue; // words the parser cannot match are ignored without a message
        const char* text = parser.OptionText();
        switch (parser.OptionId()) {
        case OPT_HELP:
            params->commands.Set(CMD_HELP);
            params->helpRequested = true;
            return 0;
        case OPT_COMMAND:
            if (!handle_command(display, text, params))
                failed = true;
            break;
        case OPT_OPTION:
            if (!handle_option(display, text, parser.OptionArg(), params))
                failed = true;
            break;
        default:
            break;
        }
    }

    Log::log(DEBUG_APP, "\nApplication parameters:[%s]\n", params->programName.c_str());
    for (int i = 0; argv != nullptr && i < argc; ++i)
        Log::log(DEBUG_APP, "\t[%s]\n", argv[i] != nullptr ? argv[i] : "");

    if (failed)
        return 1;
    return _validate_params(params);
}
