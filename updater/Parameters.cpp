#include "Parameters.h"

#include <cstdlib>

Parameters::~Parameters()
{
    _release_params(this);
}

void _release_params(Parameters* params)
{
    if (params == nullptr)
        return;
    free(params->heapBuffer);
    params->heapBuffer = nullptr;
}
