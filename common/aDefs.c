/* Display names of the module models. */
#include "aDefs.h"

#include <stddef.h>

typedef struct {
    uint32_t model;
    const char* name;
} aModelName;

/* No name may be a prefix of another: a bundle's model field is matched by prefix. */
static const aModelName MODEL_NAMES[] = {
    {4, "USBHub2x4"},   {5, "USBHub3p"},   {13, "USBCSwitch"}, {14, "PD3m"},
    {15, "USBHub3c"},   {16, "MTMPower"},  {17, "MTMIOSerial"}, {18, "MTMRelay"},
    {19, "MTMDAQ1"},    {20, "MTMDAQ2"},   {21, "MTMLoad1"},   {22, "USBExt3c"},
    {23, "PDSwitch"},   {24, "USBHub4x1"}, {25, "PowerLink"},  {26, "DevCharger"},
    {27, "HubPD3c"},
};

const char* aDefs_GetModelName(uint32_t model)
{
    for (size_t i = 0; i < sizeof(MODEL_NAMES) / sizeof(MODEL_NAMES[0]); ++i) {
        if (MODEL_NAMES[i].model == model)
            return MODEL_NAMES[i].name;
    }
    return "Unknown";
}
