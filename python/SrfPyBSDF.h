#ifndef SRF_PY_BSDF_H
#define SRF_PY_BSDF_H

#include "KAL_API.h"

#include <string>
#include <vector>

class SRF_BSDF;

// What Python calls a BSDF: one BSDF value over `lanes` lanes.
//
// A C++ BSDF keeps one parameter value per lane in pooled blocks of
// KAL_MAX_LANES values, so the lanes are cut into chunks of KAL_MAX_LANES:
// chunk k is a C++ BSDF whose lane j is lane k * KAL_MAX_LANES + j. Every
// element of every block of a chunk is meaningful: the lanes past the end
// of the last chunk repeat its last lane. A BSDF of one lane therefore has
// the same parameters on all KAL_MAX_LANES lanes of its one chunk, which is
// what lets it answer any number of queries and join a composite with a BSDF
// of any lane count.
//
// The object holds one reference to each chunk and drops them when
// destroyed; it never changes after construction.
class SrfPyBSDF
{
public:
    static constexpr int CHUNK = KAL_MAX_LANES;

    // Collects the chunks of a BSDF being built, in lane order, and drops
    // the references of those made so far when the build fails part way.
    class Builder
    {
    public:
        // Refuses (ValueError) a BSDF of no lanes: an input of no rows.
        explicit Builder(long lanes);
        ~Builder();

        long lanes() const { return myLanes; }
        int count() const { return chunksFor(myLanes); }
        // Adopts a chunk built with one reference; a null chunk (no
        // storage could be had) raises a MemoryError.
        void add(SRF_BSDF *chunk);
        // The finished BSDF, which adopts the references.
        SrfPyBSDF *finish();

    private:
        long myLanes;
        std::vector<SRF_BSDF *> myChunks;
    };

    ~SrfPyBSDF();

    long lanes() const { return myLanes; }
    int chunkCount() const { return int(myChunks.size()); }
    const SRF_BSDF &chunk(int k) const { return *myChunks[k]; }
    // The chunk that serves chunk k of something over more lanes: its own,
    // or chunk 0 when this BSDF has one lane.
    SRF_BSDF *chunkFor(int k) const { return myChunks[myLanes == 1 ? 0 : k]; }

    static int chunksFor(long lanes) { return int((lanes + CHUNK - 1) / CHUNK); }
    // The lane count of something made of parts of lane counts a and b:
    // equal counts, or one of them 1. Raises a ValueError naming `what`
    // otherwise.
    static long commonLanes(long a, long b, const char *what);

    // The tree as dump prints it, one line per node (that of chunk 0: every
    // chunk is built the same way).
    std::string dump() const;
    // A deep copy: every chunk duplicated with all its lanes.
    SrfPyBSDF *duplicate() const;

private:
    SrfPyBSDF(long lanes, std::vector<SRF_BSDF *> chunks) : myLanes(lanes), myChunks(std::move(chunks)) {}
    SrfPyBSDF(const SrfPyBSDF &) = delete;
    SrfPyBSDF &operator=(const SrfPyBSDF &) = delete;

    long myLanes;
    std::vector<SRF_BSDF *> myChunks;
};

#endif
