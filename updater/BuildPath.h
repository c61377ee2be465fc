// Joins path components with the separator, as they are.
#ifndef MORV_UPDATER_BUILDPATH_H
#define MORV_UPDATER_BUILDPATH_H

#include <string>

// BuildPath("a", "b", "c", nullptr) is "a/b/c". Nothing is normalised: an empty
// component or one that already ends in "/" gives a doubled separator.
// A null first component gives the empty text.
std::string BuildPath(const char* first, ...)
#if defined(__GNUC__)
    __attribute__((sentinel))
#endif
    ;

#endif
