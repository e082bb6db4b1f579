#ifndef SRF_TOOL_BATCH_H
#define SRF_TOOL_BATCH_H

#include "SrfShader.h"

#include "BX_Vector3.h"
#include "KAL_ProcArray.h"

class KAL_Instance;
class KAL_RefType;

// One thread's lane batch: an instance of the shader, an instance of the
// query program and a lane array of up to KAL_MAX_LANES lanes. The host
// writes each lane's geometry, runs the shader once for the batch, then runs
// queries on the BSDF it left in F, reading and writing per-lane values in
// place.
//
// The shader always runs with every lane of the batch running: its
// constructor ops read uniform parameters through lane 0, so a batch whose
// first lane were idle would build its lobes with zero parameters. Lanes
// that have nothing to shade (pixels off the sphere) get placeholder
// geometry for that run, and are marked idle in lanes() for the queries.
class SrfBatch
{
public:
    explicit SrfBatch(const SrfShader &shader);
    ~SrfBatch();

    // The lanes that the queries visit; set their count and states.
    KAL_ProcArray &lanes() { return myLanes; }

    // The shading point of a lane: normal N and the surface derivatives.
    void setGeometry(int lane, const BX_Vector3 &normal, const BX_Vector3 &dPds, const BX_Vector3 &dPdt);
    // Runs the shader over the first `count` lanes, all running, and hands
    // the BSDF it leaves in F to the query program.
    void shade(int count);
    // The BSDF of the last shade (borrowed; may be null).
    KAL_RefType *bsdf() const;

    // Runs one query over the running lanes of lanes().
    void run(SrfShader::Query query);

    // Query inputs, per lane.
    BX_Vector3 &u(int lane) { return myU[lane]; }
    float &sx(int lane) { return mySx[lane]; }
    float &sy(int lane) { return mySy[lane]; }
    BX_Vector3 &v(int lane) { return myV[lane]; }
    const BX_Vector3 &v(int lane) const { return myV[lane]; }
    // Query outputs, per lane.
    const BX_Vector3 &direction(int lane) const { return myDir[lane]; }
    const BX_Vector3 &colour(int lane) const { return myColour[lane]; }
    int bounce(int lane) const { return myBounce[lane]; }
    const BX_Vector3 &emitted(int lane) const { return myEmitted[lane]; }
    const BX_Vector3 &value(int lane) const { return myValue[lane]; }
    float albedo(int lane) const { return myAlbedo[lane].x; }
    float specularRatio(int lane) const { return myRatio[lane]; }
    int bounces(int lane) const { return myBounces[lane]; }
    float &sx2(int lane) { return mySx2[lane]; }
    float &sy2(int lane) { return mySy2[lane]; }
    const BX_Vector3 &direction2(int lane) const { return myDir2[lane]; }
    const BX_Vector3 &colour2(int lane) const { return myColour2[lane]; }
    int bounce2(int lane) const { return myBounce2[lane]; }
    // The DENSITY queries' outputs: value and pdf at direction d (0 dir,
    // 1 dir2, 2 v) under bounce class c (0 mask 1, 1 mask 6).
    const BX_Vector3 &densityValue(int d, int c, int lane) const { return myDensityValue[2 * d + c][lane]; }
    float density(int d, int c, int lane) const { return myDensity[2 * d + c][lane]; }

private:
    SrfBatch(const SrfBatch &) = delete;
    SrfBatch &operator=(const SrfBatch &) = delete;

    template <class T> T *storage(KAL_Instance &instance, const char *name);

    KAL_Instance *myShaderInstance;
    KAL_Instance *myQueryInstance;
    KAL_ProcArray myLanes;
    KAL_ProcArray myAllLanes;
    BX_Vector3 myNormal[KAL_MAX_LANES], myTangentS[KAL_MAX_LANES], myTangentT[KAL_MAX_LANES];
    BX_Vector3 *myN, *myDPds, *myDPdt, *myQueryN;
    BX_Vector3 *myU, *myV, *myDir, *myColour, *myEmitted, *myValue, *myAlbedo, *myDir2, *myColour2;
    float *mySx, *mySy, *myRatio, *mySx2, *mySy2;
    int *myBounce2;
    BX_Vector3 *myDensityValue[6];
    float *myDensity[6];
    int *myBounce, *myBounces;
};

#endif
