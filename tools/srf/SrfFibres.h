#ifndef SRF_TOOL_FIBRES_H
#define SRF_TOOL_FIBRES_H

#include "SrfCamera.h"

#include <cstdint>
#include <vector>

// A ball of hair for the curve lobes: generated fibres wound around the
// unit sphere in a shell a little thicker than the sphere, each a chain of
// thin straight segments (cylinders of one radius), intersected by the
// camera's rays.
//
// The camera is fixed, so the intersector bins the segments once, by the
// image cells of CELL x CELL pixels that their projected bounds touch; a ray tests the segments of its cell only,
// keeping the nearest hit. At a hit the shader gets the fibre's tangent as
// dPds (the wire lobes' curve direction), a normal across the fibre as N
// (perpendicular to the tangent, turned toward the viewer and rounded over
// the fibre's width, as on a cylinder) and the cross direction as dPdt.
class SrfFibres
{
public:
    SrfFibres(const SrfCamera &camera, int size, uint32_t seed = 1);

    // Replaces the sphere's hits in `lanes` (traced by the camera for the
    // same image points) with the fibres' hits: a ray that meets no fibre
    // misses.
    void trace(const float *x, const float *y, int count, SrfCamera::Lanes &lanes) const;

    int fibreCount() const { return FIBRES; }
    int segmentCount() const { return int(myStartX.size()); }

    static const int FIBRES = 3000;
    static const int SEGMENTS = 40; // per fibre
    static const int CELL = 2;      // pixels

private:
    void addSegment(const BX_Vector3 &from, const BX_Vector3 &to);
    void bin(const SrfCamera &camera);

    int mySize, myCellsPerRow;
    float myRadius;
    BX_Vector3 myEye;
    // Segments, structure of arrays: start, edge (end - start), edge . edge.
    std::vector<float> myStartX, myStartY, myStartZ, myEdgeX, myEdgeY, myEdgeZ, myEdge2;
    // The segments of cell c: myCellSegments[myCellStart[c] .. myCellStart[c + 1]).
    std::vector<uint32_t> myCellStart, myCellSegments;
};

#endif
