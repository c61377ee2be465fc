// Serial download protocol command packets and byte dumps.
#include "SDPLoader.h"

#include "Log.h"

#include <string>

namespace {

void appendType(std::vector<uint8_t>& command, uint16_t type)
{
    command.push_back(static_cast<uint8_t>(type >> 8));
    command.push_back(static_cast<uint8_t>(type & 0xFF));
}

void appendBigEndian(std::vector<uint8_t>& command, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        command.push_back(static_cast<uint8_t>(value >> shift));
}

}  // namespace

void SDPLoader::_fillCommand(std::vector<uint8_t>& command)
{
    if (command.size() < COMMAND_SIZE)
        command.resize(COMMAND_SIZE, 0);
}

std::vector<uint8_t> SDPLoader::_createStatusPacket()
{
    std::vector<uint8_t> command{REPORT_COMMAND};
    appendType(command, CMD_ERROR_STATUS);
    _fillCommand(command);
    return command;
}

std::vector<uint8_t> SDPLoader::_createWriteFilePacket(uint32_t address, uint32_t length)
{
    std::vector<uint8_t> command{REPORT_COMMAND};
    appendType(command, CMD_WRITE_FILE);
    appendBigEndian(command, address);
    command.push_back(FORMAT_32BIT);
    appendBigEndian(command, length);
    _fillCommand(command);
    return command;
}

std::vector<uint8_t> SDPLoader::_createJumpPacket(uint32_t address)
{
    std::vector<uint8_t> command{REPORT_COMMAND};
    appendType(command, CMD_JUMP_ADDRESS);
    appendBigEndian(command, address);
    _fillCommand(command);
    return command;
}

std::vector<uint8_t> SDPLoader::_create4ByteReadRegisterPacket(uint32_t address)
{
    std::vector<uint8_t> command{REPORT_COMMAND};
    appendType(command, CMD_READ_REGISTER);
    appendBigEndian(command, address);
    command.push_back(FORMAT_32BIT);
    appendBigEndian(command, 4);
    _fillCommand(command);
    return command;
}

void SDPLoader::_printBuffer(const std::vector<uint8_t>& buffer)
{
    // Pieces well below the trace line limit, so a long dump is never cut.
    std::string line;
    char byte[8];
    for (uint8_t value : buffer) {
        snprintf(byte, sizeof(byte), "%X ", value);
        line += byte;
        if (line.size() >= 1500) {
            Log::log(DEBUG_iMXSerial, "%s", line.c_str());
            line.clear();
        }
    }
    line += "\n";
    Log::log(DEBUG_iMXSerial, "%s", line.c_str());
}
