#include "SRF_ReWrite.h"

#include "KAL_IReWrite.h"
#include "KAL_OpCode.h"
#include "SRF_MeasuredCache.h"

#include <cstdint>
#include <new>

// The rewrite tables. Each program is a list of 32-bit words: the kind in the
// high 8 bits, an index in the low 24, and the word 0 closing an instruction.
//   kind 1  a name-table entry: the op to call when first in an instruction,
//           otherwise a shader global ("N", "dPds", "dPdt", "F");
//   kind 2  an argument of the rewritten call, counted from 0;
//   kind 3  a temporary of the rewrite;
//   kind 4  a constant of the rewrite, read from the integer or float table.
// The words are kept literally so that they can be set beside their
// instruction lists line by line. Above each program, "sig -> text" says
// what the call expands to: the instructions with their operands (aN an
// argument of the call, tN a temporary, cN a constant, or a shader global
// by name), then after "|" the temporaries' types and the constants' types,
// table positions and values. test_rewrites decodes the words and checks
// them against this text.

namespace
{
// Value types of temporaries and constants, as the data pool numbers them.
const int VEC = 2;
const int FLT = 3;
const int INT = 4;

// End mark of a written-argument list.
const int END = KAL_ARGS_END; // 0xFFFF0000

// Names shared by the general rewrites: ops to call and shader globals.
const char *const theNames[] = {
    "lafortune@BVF",          // 0
    "lafortune@BVVF",         // 1
    "set@FF",                 // 2
    "mul@FF",                 // 3
    "blinn@BF",               // 4
    "mul@BF",                 // 5
    "blinn@BVF",              // 6
    "matchkal_blinn@BF",      // 7
    "matchkal_blinn@BVF",     // 8
    "normalize@VV",           // 9
    "N",                      // 10
    "ashikhmin@BVFFVV",       // 11
    "dPds",                   // 12
    "dPdt",                   // 13
    "measured@BSVVV",         // 14
    "measured@BSV",           // 15
    "albedo@VBVVI",           // 16
    "albedo@VBI",             // 17
    "eval_bsdf@VBVVVI",       // 18
    "sample_bsdf@BVVVVIFFI",  // 19
    "specularratio_bsdf@FBI", // 20
};
const int NAME_COUNT = sizeof(theNames) / sizeof(theNames[0]);

// The bounce mask 15 (every bounce type), once per mask-less query.
const int32_t theInts[] = {15, 15, 15, 15, 15};
const int INT_COUNT = sizeof(theInts) / sizeof(theInts[0]);

// Each constant owns its own entries, so equal values repeat.
const float theFloats[] = {
    -1.0f, -1.0f, 1.0f, //  0: phong@BF coefficients
    -1.0f, -1.0f, 1.0f, //  3: phong@BVF coefficients
    0.0f,  0.0f,  1.0f, //  6: diffuse@B coefficients
    0.0f,               //  9: diffuse@B exponent
    0.0f,  0.0f,  1.0f, // 10: diffuse@BV coefficients
    0.0f,               // 13: diffuse@BV exponent
    2.0f,               // 14: matchkal_blinn@BF factor
    2.0f,               // 15: matchkal_blinn@BVF factor
    0.0f,  1.0f,  0.0f, // 16: albedo@VBI first direction
    0.0f,  1.0f,  0.0f, // 19: albedo@VBI second direction
};
const int FLOAT_COUNT = sizeof(theFloats) / sizeof(theFloats[0]);

// Programs of the general rewrites, in registration order.
// phong@BF -> lafortune@BVF(a0, c0, a1) | vector 0: (-1, -1, 1)
const int32_t thePhongBF[] = {0x01000000, 0x02000000, 0x04000000, 0x02000001, 0x00000000};
// phong@BVF -> lafortune@BVVF(a0, a1, c0, a2) | vector 3: (-1, -1, 1)
const int32_t thePhongBVF[] = {0x01000001, 0x02000000, 0x02000001, 0x04000000, 0x02000002, 0x00000000};
// diffuse@B -> lafortune@BVF(a0, c0, c1) | vector 6: (0, 0, 1); float 9: 0
const int32_t theDiffuseB[] = {0x01000000, 0x02000000, 0x04000000, 0x04000001, 0x00000000};
// diffuse@BV -> lafortune@BVVF(a0, a1, c0, c1) | vector 10: (0, 0, 1); float 13: 0
const int32_t theDiffuseBV[] = {0x01000001, 0x02000000, 0x02000001, 0x04000000, 0x04000001, 0x00000000};
// matchkal_blinn@BF -> set@FF(t0, a1); mul@FF(t0, a1); blinn@BF(a0, t0); mul@BF(a0, c0) | float | float 14: 2
const int32_t theMatchBlinnBF[] = {0x01000002, 0x03000000, 0x02000001, 0x00000000, 0x01000003, 0x03000000,
                                   0x02000001, 0x00000000, 0x01000004, 0x02000000, 0x03000000, 0x00000000,
                                   0x01000005, 0x02000000, 0x04000000, 0x00000000};
// matchkal_blinn@BVF -> set@FF(t0, a2); mul@FF(t0, a2); blinn@BVF(a0, a1, t0); mul@BF(a0, c0) | float | float 15: 2
const int32_t theMatchBlinnBVF[] = {0x01000002, 0x03000000, 0x02000002, 0x00000000, 0x01000003, 0x03000000,
                                    0x02000002, 0x00000000, 0x01000006, 0x02000000, 0x02000001, 0x03000000,
                                    0x00000000, 0x01000005, 0x02000000, 0x04000000, 0x00000000};
// matchkal_specular@BF -> matchkal_blinn@BF(a0, a1)
const int32_t theMatchSpecularBF[] = {0x01000007, 0x02000000, 0x02000001, 0x00000000};
// matchkal_specular@BVF -> matchkal_blinn@BVF(a0, a1, a2)
const int32_t theMatchSpecularBVF[] = {0x01000008, 0x02000000, 0x02000001, 0x02000002, 0x00000000};
// lafortune@BVF -> normalize@VV(t0, N); lafortune@BVVF(a0, t0, a1, a2) | vector
const int32_t theLafortuneBVF[] = {0x01000009, 0x03000000, 0x0100000A, 0x00000000, 0x01000001,
                                   0x02000000, 0x03000000, 0x02000001, 0x02000002, 0x00000000};
// ashikhmin@BFFVV -> normalize@VV(t0, N); ashikhmin@BVFFVV(a0, t0, a1, a2, a3, a4) | vector
const int32_t theAshikhminBFFVV[] = {0x01000009, 0x03000000, 0x0100000A, 0x00000000, 0x0100000B, 0x02000000,
                                     0x03000000, 0x02000001, 0x02000002, 0x02000003, 0x02000004, 0x00000000};
// blinn@BF -> normalize@VV(t0, N); blinn@BVF(a0, t0, a1) | vector
const int32_t theBlinnBF[] = {0x01000009, 0x03000000, 0x0100000A, 0x00000000, 0x01000006,
                              0x02000000, 0x03000000, 0x02000001, 0x00000000};
// measured@BSV -> normalize@VV(t0, dPds); normalize@VV(t1, dPdt); measured@BSVVV(a0, a1, a2, t0, t1) | vector, vector
const int32_t theMeasuredBSV[] = {0x01000009, 0x03000000, 0x0100000C, 0x00000000, 0x01000009,
                                  0x03000001, 0x0100000D, 0x00000000, 0x0100000E, 0x02000000,
                                  0x02000001, 0x02000002, 0x03000000, 0x03000001, 0x00000000};
// measured@BS -> normalize@VV(t0, N); measured@BSV(a0, a1, t0) | vector
const int32_t theMeasuredBS[] = {0x01000009, 0x03000000, 0x0100000A, 0x00000000, 0x0100000F,
                                 0x02000000, 0x02000001, 0x03000000, 0x00000000};
// albedo@VBVV -> albedo@VBVVI(a0, a1, a2, a3, c0) | int 0: 15
const int32_t theAlbedoVBVV[] = {0x01000010, 0x02000000, 0x02000001, 0x02000002, 0x02000003, 0x04000000, 0x00000000};
// albedo@VBI -> albedo@VBVVI(a0, a1, c0, c1, a2) | vector 16: (0, 1, 0); vector 19: (0, 1, 0)
const int32_t theAlbedoVBI[] = {0x01000010, 0x02000000, 0x02000001, 0x04000000, 0x04000001, 0x02000002, 0x00000000};
// albedo@VB -> albedo@VBI(a0, a1, c0) | int 1: 15
const int32_t theAlbedoVB[] = {0x01000011, 0x02000000, 0x02000001, 0x04000000, 0x00000000};
// eval_bsdf@VBVVV -> eval_bsdf@VBVVVI(a0, a1, a2, a3, a4, c0) | int 2: 15
const int32_t theEvalVBVVV[] = {0x01000012, 0x02000000, 0x02000001, 0x02000002,
                                0x02000003, 0x02000004, 0x04000000, 0x00000000};
// sample_bsdf@BVVVVIFF -> sample_bsdf@BVVVVIFFI(a0, a1, a2, a3, a4, a5, a6, a7, c0) | int 3: 15
const int32_t theSampleBVVVVIFF[] = {0x01000013, 0x02000000, 0x02000001, 0x02000002, 0x02000003, 0x02000004,
                                     0x02000005, 0x02000006, 0x02000007, 0x04000000, 0x00000000};
// specularratio_bsdf@FB -> specularratio_bsdf@FBI(a0, a1, c0) | int 4: 15
const int32_t theSpecularRatioFB[] = {0x01000014, 0x02000000, 0x02000001, 0x04000000, 0x00000000};

// Temporary types.
const int theOneFloat[] = {FLT};
const int theOneVector[] = {VEC};
const int theTwoVectors[] = {VEC, VEC};

// Constant types and where each constant starts in its table.
const int theVectorType[] = {VEC};
const int theVectorFloatTypes[] = {VEC, FLT};
const int theFloatType[] = {FLT};
const int theIntType[] = {INT};
const int theTwoVectorTypes[] = {VEC, VEC};
const int theAt0[] = {0};
const int theAt1[] = {1};
const int theAt2[] = {2};
const int theAt3[] = {3};
const int theAt4[] = {4};
const int theAt6And9[] = {6, 9};
const int theAt10And13[] = {10, 13};
const int theAt14[] = {14};
const int theAt15[] = {15};
const int theAt16And19[] = {16, 19};

// Written-argument lists.
const int theWritesResult[] = {0, END};
const int theWritesSample[] = {3, 4, 5, END};
const int theWritesNothing[] = {END};

// The flag with which the measured ops are registered.
const int MEASURED_FLAG = 0x2000000;

// One rewrite: everything its object is built from and registered with.
struct Row
{
    const char *signature;
    int count;
    const int32_t *words;
    int wordCount;
    const int *tempTypes;
    int tempCount;
    const int *constTypes;
    const int *constIndices;
    int constCount;
    const int *written;
    int flag;
};

#define WORDS(a) a, int(sizeof(a) / sizeof(a[0]))
#define NO_TEMPS nullptr, 0
#define NO_CONSTS nullptr, nullptr, 0

// The general rewrites, in registration order.
const Row theGeneralRows[] = {
    {"phong@BF", 2, WORDS(thePhongBF), NO_TEMPS, theVectorType, theAt0, 1, theWritesResult, 0},
    {"phong@BVF", 3, WORDS(thePhongBVF), NO_TEMPS, theVectorType, theAt3, 1, theWritesResult, 0},
    {"diffuse@B", 1, WORDS(theDiffuseB), NO_TEMPS, theVectorFloatTypes, theAt6And9, 2, theWritesResult, 0},
    {"diffuse@BV", 2, WORDS(theDiffuseBV), NO_TEMPS, theVectorFloatTypes, theAt10And13, 2, theWritesResult, 0},
    {"matchkal_blinn@BF", 2, WORDS(theMatchBlinnBF), theOneFloat, 1, theFloatType, theAt14, 1, theWritesResult, 0},
    {"matchkal_blinn@BVF", 3, WORDS(theMatchBlinnBVF), theOneFloat, 1, theFloatType, theAt15, 1, theWritesResult, 0},
    {"matchkal_specular@BF", 2, WORDS(theMatchSpecularBF), NO_TEMPS, NO_CONSTS, theWritesResult, 0},
    {"matchkal_specular@BVF", 3, WORDS(theMatchSpecularBVF), NO_TEMPS, NO_CONSTS, theWritesResult, 0},
    {"lafortune@BVF", 3, WORDS(theLafortuneBVF), theOneVector, 1, NO_CONSTS, theWritesResult, 0},
    {"ashikhmin@BFFVV", 5, WORDS(theAshikhminBFFVV), theOneVector, 1, NO_CONSTS, theWritesResult, 0},
    {"blinn@BF", 2, WORDS(theBlinnBF), theOneVector, 1, NO_CONSTS, theWritesResult, 0},
    {"measured@BSV", -4, WORDS(theMeasuredBSV), theTwoVectors, 2, NO_CONSTS, theWritesResult, MEASURED_FLAG},
    {"measured@BS", -3, WORDS(theMeasuredBS), theOneVector, 1, NO_CONSTS, theWritesResult, MEASURED_FLAG},
    {"albedo@VBVV", 4, WORDS(theAlbedoVBVV), NO_TEMPS, theIntType, theAt0, 1, theWritesResult, 0},
    {"albedo@VBI", 3, WORDS(theAlbedoVBI), NO_TEMPS, theTwoVectorTypes, theAt16And19, 2, theWritesResult, 0},
    {"albedo@VB", 2, WORDS(theAlbedoVB), NO_TEMPS, theIntType, theAt1, 1, theWritesResult, 0},
    {"eval_bsdf@VBVVV", 5, WORDS(theEvalVBVVV), NO_TEMPS, theIntType, theAt2, 1, theWritesResult, 0},
    {"sample_bsdf@BVVVVIFF", 8, WORDS(theSampleBVVVVIFF), NO_TEMPS, theIntType, theAt3, 1, theWritesSample, 0},
    {"specularratio_bsdf@FB", 2, WORDS(theSpecularRatioFB), NO_TEMPS, theIntType, theAt4, 1, theWritesResult, 0},
};
const int GENERAL_COUNT = sizeof(theGeneralRows) / sizeof(theGeneralRows[0]);

// Names of the photon rewrites.
const char *const thePhotonNames[] = {"diffuse@B", "F", "mul@BV", "specular@BV"};
const int PHOTON_NAME_COUNT = sizeof(thePhotonNames) / sizeof(thePhotonNames[0]);

// F = diffuse, scaled by argument 2.
// photon_store@VVVV, photon_diffuse@VVV -> diffuse@B(F); mul@BV(F, a2)
const int32_t thePhotonDiffuse[] = {0x01000000, 0x01000001, 0x00000000, 0x01000002, 0x01000001, 0x02000002, 0x00000000};
// F = a mirror about argument 1, scaled by argument 2.
// photon_reflect@VVV, photon_transmit@VVV -> specular@BV(F, a1); mul@BV(F, a2)
const int32_t thePhotonMirror[] = {0x01000003, 0x01000001, 0x02000001, 0x00000000,
                                   0x01000002, 0x01000001, 0x02000002, 0x00000000};

// The photon rewrites, in registration order. They write none of their
// arguments: their only effect is on the global F.
const Row thePhotonRows[] = {
    {"photon_store@VVVV", 4, WORDS(thePhotonDiffuse), NO_TEMPS, NO_CONSTS, theWritesNothing, 0},
    {"photon_diffuse@VVV", 3, WORDS(thePhotonDiffuse), NO_TEMPS, NO_CONSTS, theWritesNothing, 0},
    {"photon_reflect@VVV", 3, WORDS(thePhotonMirror), NO_TEMPS, NO_CONSTS, theWritesNothing, 0},
    {"photon_transmit@VVV", 3, WORDS(thePhotonMirror), NO_TEMPS, NO_CONSTS, theWritesNothing, 0},
};
const int PHOTON_COUNT = sizeof(thePhotonRows) / sizeof(thePhotonRows[0]);

#undef WORDS
#undef NO_TEMPS
#undef NO_CONSTS

KAL_IReWrite makeGeneral(const Row &row)
{
    return KAL_IReWrite(row.signature, row.count, theNames, NAME_COUNT, theInts, INT_COUNT, theFloats, FLOAT_COUNT,
                        row.words, row.wordCount, row.tempTypes, row.tempCount, row.constTypes, row.constIndices,
                        row.constCount);
}

KAL_IReWrite makePhoton(const Row &row)
{
    return KAL_IReWrite(row.signature, row.count, thePhotonNames, PHOTON_NAME_COUNT, nullptr, 0, nullptr, 0, row.words,
                        row.wordCount, row.tempTypes, row.tempCount, row.constTypes, row.constIndices, row.constCount);
}

// The library's static objects, in the order in which loading builds them and
// (reversed) unloading destroys them: the measured-data cache, then the
// photon rewrites, then the general rewrites. They are kept in this one
// translation unit so that the order is fixed by the language, not by the
// linker. The cache is made through its accessor, so that it is complete
// before the first rewrite and is destroyed after the last.
SRF_MeasuredCache &theCache = SRF_MeasuredCache::instance();

KAL_IReWrite thePhotonReWrites[] = {
    makePhoton(thePhotonRows[0]),
    makePhoton(thePhotonRows[1]),
    makePhoton(thePhotonRows[2]),
    makePhoton(thePhotonRows[3]),
};

KAL_IReWrite theGeneralReWrites[] = {
    makeGeneral(theGeneralRows[0]),  makeGeneral(theGeneralRows[1]),  makeGeneral(theGeneralRows[2]),
    makeGeneral(theGeneralRows[3]),  makeGeneral(theGeneralRows[4]),  makeGeneral(theGeneralRows[5]),
    makeGeneral(theGeneralRows[6]),  makeGeneral(theGeneralRows[7]),  makeGeneral(theGeneralRows[8]),
    makeGeneral(theGeneralRows[9]),  makeGeneral(theGeneralRows[10]), makeGeneral(theGeneralRows[11]),
    makeGeneral(theGeneralRows[12]), makeGeneral(theGeneralRows[13]), makeGeneral(theGeneralRows[14]),
    makeGeneral(theGeneralRows[15]), makeGeneral(theGeneralRows[16]), makeGeneral(theGeneralRows[17]),
    makeGeneral(theGeneralRows[18]),
};

static_assert(sizeof(thePhotonReWrites) / sizeof(thePhotonReWrites[0]) == sizeof(thePhotonRows) / sizeof(Row),
              "one photon rewrite object per row");
static_assert(sizeof(theGeneralReWrites) / sizeof(theGeneralReWrites[0]) == sizeof(theGeneralRows) / sizeof(Row),
              "one general rewrite object per row");

// Registers each rewrite of a table as an op of the context. An op object
// that cannot be allocated is skipped; the context owns the others.
void install(KAL_Context &context, const KAL_IReWrite *rewrites, const Row *rows, int count)
{
    for (int i = 0; i < count; ++i)
        new (std::nothrow) KAL_OpCode(context, &rewrites[i], rows[i].written, rows[i].flag);
}
} // namespace

void SRFinstallReWrite(KAL_Context &context) { install(context, theGeneralReWrites, theGeneralRows, GENERAL_COUNT); }

void SRFinstallPhotonReWrite(KAL_Context &context) { install(context, thePhotonReWrites, thePhotonRows, PHOTON_COUNT); }
