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

    // The query program's per-lane variables as arrays (lane i at index
    // i): inputs u, sx, sy, v, sx2, sy2; outputs of the queries named in
    // SrfShader::Query. densityValue[2 d + c] and density[2 d + c] are
    // the DENSITY queries' value and pdf at direction d (0 dir, 1 dir2, 2 v)
    // under bounce class c (0 mask 1, 1 mask 6). Lane loops copy these
    // pointers and read and write through the copies.
    struct Variables
    {
        BX_Vector3 *u, *v, *dir, *colour, *emitted, *value, *albedo, *dir2, *colour2;
        float *sx, *sy, *ratio, *sx2, *sy2;
        int *bounce, *bounces, *bounce2;
        BX_Vector3 *densityValue[6];
        float *density[6];
    };
    const Variables &variables() const { return myVariables; }

    // Query inputs, per lane.
    BX_Vector3 &u(int lane) { return myVariables.u[lane]; }
    float &sx(int lane) { return myVariables.sx[lane]; }
    float &sy(int lane) { return myVariables.sy[lane]; }
    BX_Vector3 &v(int lane) { return myVariables.v[lane]; }
    // Query outputs, per lane.
    const BX_Vector3 &direction(int lane) const { return myVariables.dir[lane]; }
    const BX_Vector3 &value(int lane) const { return myVariables.value[lane]; }
    float albedo(int lane) const { return myVariables.albedo[lane].x; }
    float specularRatio(int lane) const { return myVariables.ratio[lane]; }
    int bounces(int lane) const { return myVariables.bounces[lane]; }

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
    Variables myVariables;
};

#endif
