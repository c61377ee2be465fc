// Build numbers given as text, by the operator or by the update server.
#ifndef MORV_UPDATER_BUILDNUMBER_H
#define MORV_UPDATER_BUILDNUMBER_H

#include <cstdint>
#include <string>

// Decimal digits only, with blanks, tabs and line ends allowed around them (a server
// line may keep its carriage return); the value must fit 32 bits. False, leaving
// *build 0, for anything else, the empty text included.
bool ParseBuildNumber(const std::string& text, uint32_t* build);

#endif
