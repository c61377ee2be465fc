// Texts that came from a module or a server, made safe to print on a terminal.
#ifndef MORV_UPDATER_PRINTABLETEXT_H
#define MORV_UPDATER_PRINTABLETEXT_H

#include <cstddef>
#include <string>

// Every byte outside printable ASCII (0x20-0x7E) becomes "\xNN" (upper-case hex),
// so no control sequence reaches the terminal and a zero byte does not cut the text.
// The result is printable ASCII: escaping it again changes nothing.
std::string PrintableText(const char* data, size_t length);
std::string PrintableText(const std::string& text);

#endif
