#include "SRF_Functions.h"

#include "KAL_OpCode.h"
#include "SRF_ArithmeticOps.h"
#include "SRF_ConstructorOps.h"
#include "SRF_MeasuredOp.h"
#include "SRF_QueryOps.h"
#include "SRF_ReWrite.h"

namespace
{
// Op flags: 1 for an op that updates its argument 0 in place, 0x2000000 for
// one with effects beyond its arguments (the measured op reads and caches
// files). Fold types are the runtime's classes of op: 4 addition, 8
// multiplication, 16 construction, 1 query.
const int READS_ARG0 = 1;
const int SIDE_EFFECTS = 33554432; // 0x2000000
const int FOLD_ADD = 4;
const int FOLD_MUL = 8;
const int FOLD_BUILD = 16;
const int FOLD_QUERY = 1;

struct OpRow
{
    const char *signature;
    int argCount; // the letters; -(letters + 1) for an op with side effects
    KAL_EvaluateFunc handler;
    KAL_WrittenArgsFunc writtenArgs; // null: argument 0 alone
    int opFlag;
    int foldType;
};

// The ops, in registration order.
const OpRow theOps[] = {
    {"add@BB", 2, opAddBB, nullptr, READS_ARG0, FOLD_ADD},
    {"mul@BF", 2, opMulBF, nullptr, READS_ARG0, FOLD_MUL},
    {"mul@BV", 2, opMulBV, nullptr, READS_ARG0, FOLD_MUL},
    {"mul@BB", 2, opMulBB, nullptr, READS_ARG0, FOLD_MUL},
    {"lafortune@BVVF", 4, opLafortune, nullptr, 0, FOLD_BUILD},
    {"ashikhmin@BVFFVV", 6, opAshikhmin, nullptr, 0, FOLD_BUILD},
    {"blinn@BVF", 3, opBlinn, nullptr, 0, FOLD_BUILD},
    {"specular@BV", 2, opSpecular, nullptr, 0, FOLD_BUILD},
    {"phonglobe@BVF", 3, opPhongLobe, nullptr, 0, FOLD_BUILD},
    {"cone@BVF", 3, opCone, nullptr, 0, FOLD_BUILD},
    {"wirediffuse@BV", 2, opWireDiffuse, nullptr, 0, FOLD_BUILD},
    {"wireblinn@BVF", 3, opWireBlinn, nullptr, 0, FOLD_BUILD},
    {"measured@BSVVV", -6, opMeasured, nullptr, SIDE_EFFECTS, FOLD_BUILD},
    {"isotropic@B", 1, opIsotropic, nullptr, 0, FOLD_BUILD},
    {"set@BF", 2, opSetBF, nullptr, 0, FOLD_BUILD},
    {"set@BV", 2, opSetBV, nullptr, 0, FOLD_BUILD},
    {"albedo@VBVVI", 5, opAlbedo, nullptr, 0, FOLD_QUERY},
    {"eval_bsdf@VBVVVI", 6, opEvalBsdf, nullptr, 0, FOLD_QUERY},
    {"sample_bsdf@BVVVVIFFI", 9, opSampleBsdf, sampleBsdfWrittenArgs, 0, FOLD_QUERY},
    {"emission_bsdf@VB", 2, opEmissionBsdf, nullptr, 0, FOLD_QUERY},
    {"specularratio_bsdf@FBI", 3, opSpecularRatioBsdf, nullptr, 0, FOLD_QUERY},
    {"getbounces@IB", 2, opGetBounces, nullptr, 0, FOLD_QUERY},
    {"nbouncetypes@I", 1, opNBounceTypes, nullptr, 0, FOLD_QUERY},
};
const int OP_COUNT = sizeof(theOps) / sizeof(theOps[0]);

// The queries beyond the 23.
const OpRow thePdfOps[] = {
    {"pdf_bsdf@FBVVVI", 6, opPdfBsdf, nullptr, 0, FOLD_QUERY},
    {"eval_pdf_bsdf@VFBVVVI", 7, opEvalPdfBsdf, evalPdfBsdfWrittenArgs, 0, FOLD_QUERY},
};

void install(KAL_Context &context, const OpRow *rows, int count)
{
    for (const OpRow *row = rows; row != rows + count; ++row)
        new KAL_OpCode(context, row->argCount, row->signature, row->handler, nullptr, nullptr, row->writtenArgs,
                       nullptr, row->opFlag, row->foldType, nullptr);
}
} // namespace

void SRF_Functions::installFunctions(KAL_Context &context)
{
    install(context, theOps, OP_COUNT);
    SRFinstallReWrite(context);
}

void SRF_Functions::installPdfFunctions(KAL_Context &context)
{
    install(context, thePdfOps, int(sizeof(thePdfOps) / sizeof(thePdfOps[0])));
}

void SRF_Functions::installPhotonFunctions(KAL_Context &context) { SRFinstallPhotonReWrite(context); }

int SRF_Functions::opCount() { return OP_COUNT; }
