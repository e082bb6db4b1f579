#ifndef SRF_FUNCTIONS_H
#define SRF_FUNCTIONS_H

#include "SRF_API.h"

class KAL_Context;

// The entry points a host calls to make the library's BSDFs available to
// the shaders of a shading-language context.
class SRF_API SRF_Functions
{
public:
    // Registers the 23 native ops (constructors, arithmetic and queries) in
    // a fixed order, then the general rewrites (SRFinstallReWrite). Call it
    // once per context; the context owns the op objects from then on.
    static void installFunctions(KAL_Context &context);
    // Registers the rewrites of older photon functions
    // (SRFinstallPhotonReWrite); they expand into ops of installFunctions.
    static void installPhotonFunctions(KAL_Context &context);

    // The number of native ops installFunctions registers.
    static int opCount();
};

#endif
