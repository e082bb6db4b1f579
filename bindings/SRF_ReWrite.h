#ifndef SRF_REWRITE_H
#define SRF_REWRITE_H

#include "SRF_API.h"

class KAL_Context;

// Rewrites let a shader call older or shorter op signatures: the runtime's
// compiler replaces such a call by the short program of native ops that the
// rewrite carries ("phong@BF" becomes a normalised-N Lafortune lobe,
// "albedo@VB" a masked albedo query with every bounce type, ...).
//
// The rewrite objects are static: they are built when the library loads (the
// photon rewrites first, then the general ones) and destroyed in reverse
// order when it unloads. Each install call registers new op objects for them
// into the context; the context owns those op objects.

// Registers the 19 general rewrites. SRF_Functions::installFunctions calls it
// as its last step, after the native ops that the rewrites expand into.
SRF_API void SRFinstallReWrite(KAL_Context &context);

// Registers the 4 photon rewrites of older shaders, which set the shader's
// global BSDF F. They expand into "diffuse@B", "mul@BV" and "specular@BV", so
// the context needs the general install as well.
SRF_API void SRFinstallPhotonReWrite(KAL_Context &context);

#endif
