#ifndef SRF_LOBEKERNELS_H
#define SRF_LOBEKERNELS_H

// Every analytic lobe's kernel, in one list: what builds the Python
// constructors, the tests' registry of classes and the benchmarks' rows.
// Not installed.

#include "SRF_AshikhminKernel.h"
#include "SRF_BlinnKernel.h"
#include "SRF_ConeKernel.h"
#include "SRF_EmissionKernel.h"
#include "SRF_IsotropicKernel.h"
#include "SRF_LafortuneKernel.h"
#include "SRF_PhongKernel.h"
#include "SRF_SpecularKernel.h"
#include "SRF_WireBlinnKernel.h"
#include "SRF_WireDiffuseKernel.h"

template <class... Kernels> struct SRF_KernelList
{
    // Calls visit(K()) for each kernel K in order.
    template <class Visit> static void forEach(Visit visit) { (visit(Kernels()), ...); }
};

using SRF_LobeKernels = SRF_KernelList<SRF_IsotropicKernel, SRF_EmissionKernel, SRF_SpecularKernel, SRF_PhongKernel,
                                       SRF_BlinnKernel, SRF_ConeKernel, SRF_AshikhminKernel, SRF_LafortuneKernel,
                                       SRF_WireDiffuseKernel, SRF_WireBlinnKernel>;

#endif
