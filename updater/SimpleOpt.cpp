#include "SimpleOpt.h"

template class CSimpleOptTempl<char>;
