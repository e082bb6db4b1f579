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

    // Registers two query ops beyond the 23, for hosts that weigh light
    // samples against the BSDF's own (multiple importance sampling):
    //   "pdf_bsdf@FBVVVI"        0 out F pdf; 1 B bsdf; 2 V u; 3 V n; 4 V v; 5 I mask
    //   "eval_pdf_bsdf@VFBVVVI"  0 out V value; 1 out F pdf; 2 B bsdf; 3 V u;
    //                            4 V n; 5 V v; 6 I mask
    // (SRF_BSDF::pdf and SRF_BSDF::evaluatePdf for every running lane).
    static void installPdfFunctions(KAL_Context &context);

    // The number of native ops installFunctions registers.
    static int opCount();
};

#endif
