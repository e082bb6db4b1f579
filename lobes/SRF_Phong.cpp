#include "SRF_Phong.h"

#include "SRF_PhongKernel.h"

SRF_Phong::SRF_Phong(BX_Vector3 *axis, float *exponent) : SRF_Lobe(SRF_LobeBlocks{{axis, exponent}}) {}

template class SRF_Lobe<SRF_PhongKernel>;
