/* Creation, copy and release of linkSpec records. */
#include "aLinkSpec.h"

#include <stdlib.h>
#include <string.h>

linkSpec* aLinkSpec_Create(linkType type)
{
    linkSpec* spec = calloc(1, sizeof(*spec));
    if (spec)
        spec->type = type;
    return spec;
}

linkSpec* aLinkSpec_Copy(const linkSpec* source)
{
    if (!source)
        return NULL;
    linkSpec* spec = malloc(sizeof(*spec));
    if (spec)
        memcpy(spec, source, sizeof(*spec));
    return spec;
}

aErr aLinkSpec_Destroy(linkSpec** spec)
{
    if (!spec || !*spec)
        return aErrParam;
    free(*spec);
    *spec = NULL;
    return aErrNone;
}
