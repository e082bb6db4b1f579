// The contract every BSDF class keeps, over a registry of all of them: its
// name, bounce set and dump; flatten listing exactly its blocks; masks that
// share no bit with the bounce set answering zero; duplicate copying
// exactly `count` lanes into blocks of its own and answering as the
// original; every block and reference given back; no crash on bad input.
// Then the base class's own helpers, reference counting and allocation.
#include "KAL_DataPool.h"
#include "PoolCheck.h"
#include "Registry.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace TestUtil;

namespace
{
long outOf(int type) { return KAL_DataPool::getDataPool().blocksOut(type); }

// Fills pool blocks with a byte pattern and gives them back, so that the
// next blocks handed out hold it where nobody wrote.
void poisonPool()
{
    BX_Vector3 *v[16];
    float *f[16];
    for (int i = 0; i < 16; ++i)
    {
        std::memset(static_cast<void *>(v[i] = SRF_BSDF::allocVector()), 0xAB, sizeof(BX_Vector3) * KAL_MAX_LANES);
        std::memset(f[i] = SRF_BSDF::allocFloat(), 0xAB, sizeof(float) * KAL_MAX_LANES);
    }
    for (int i = 0; i < 16; ++i)
    {
        SRF_BSDF::release(v[i]);
        SRF_BSDF::release(f[i]);
    }
}

// The first `count` lanes of every block of `copy` equal those of
// `original`, the rest do not (they hold the poison).
template <class T> void expectCopiedLanes(const BX_PtrArray<T *> &original, const BX_PtrArray<T *> &copy, int count)
{
    ASSERT_EQ(copy.entries(), original.entries());
    for (int i = 0; i < original.entries(); ++i)
    {
        EXPECT_NE(copy[i], original[i]);
        EXPECT_EQ(std::memcmp(copy[i], original[i], sizeof(T) * count), 0) << "block " << i;
        for (int lane = count; lane < KAL_MAX_LANES; ++lane)
            ASSERT_NE(std::memcmp(copy[i] + lane, original[i] + lane, sizeof(T)), 0) << "block " << i << " " << lane;
    }
}
} // namespace

TEST(Contract, EveryClass)
{
    const int copied = 5;
    const BX_Vector3 u = unit(0.2f, 0.1f, 1.0f), n(0.0f, 0.0f, 1.0f), v = unit(-0.3f, 0.2f, 1.0f);
    const BX_Vector3 zero(0.0f, 0.0f, 0.0f);
    const auto &classes = Registry::all();
    for (const Registry::Class &c : classes)
    {
        SCOPED_TRACE(c.name);
        const long vectors0 = outOf(KAL_DataPool::VECTOR), floats0 = outOf(KAL_DataPool::FLOAT);
        Registry::Maker maker(Registry::varied);
        SRF_BSDF *bsdf = c.make(maker);
        ASSERT_NE(bsdf, nullptr);
        EXPECT_STREQ(bsdf->className(), c.name);
        EXPECT_EQ(bsdf->getBounces(), c.bounces);
        EXPECT_TRUE(bsdf->hasBounce(c.bounces) && !bsdf->hasBounce(SRF_BOUNCE_ALL & ~c.bounces));

        // dump: the class name after `indent` blanks (one at least), the
        // operands one deeper; a tabulated BSDF prints its values instead.
        const std::string dump0 = dumpText(*bsdf, 0), dump3 = dumpText(*bsdf, 3);
        if (c.duplicable)
        {
            EXPECT_EQ(dump0.substr(0, dump0.find('\n') + 1), std::string(" ") + c.name + "\n");
            EXPECT_EQ(dump3.substr(0, dump3.find('\n') + 1), std::string("   ") + c.name + "\n");
        }
        if (c.kind == Registry::COMPOSITE)
        {
            EXPECT_NE(dump3.find("\n    SRF_"), std::string::npos) << dump3;
        }

        // flatten: this object, then exactly the blocks it was built on.
        const Flat flat(bsdf);
        EXPECT_EQ(flat.bsdfs.entries() ? flat.bsdfs[0] : nullptr, c.duplicable ? bsdf : nullptr);
        ASSERT_EQ(flat.vectors.entries(), int(maker.vectors.size()));
        ASSERT_EQ(flat.floats.entries(), int(maker.floats.size()));
        for (int i = 0; i < flat.vectors.entries(); ++i)
            EXPECT_EQ(flat.vectors[i], maker.vectors[i]) << "vector block " << i;
        for (int i = 0; i < flat.floats.entries(); ++i)
            EXPECT_EQ(flat.floats[i], maker.floats[i]) << "float block " << i;

        // isEqual: another class differs; a BSDF of the same class on other
        // parameters is equal (lobes compare their class only), except a
        // scale, which compares its colour block by address.
        Registry::Maker otherMaker(Registry::varied);
        SRF_BSDF *other = classes[(&c - classes.data() + 1) % classes.size()].make(otherMaker);
        EXPECT_FALSE(bsdf->isEqual(*other, 0.0f));
        EXPECT_FALSE(other->isEqual(*bsdf, 0.0f));
        other->decRefCount();
        SRF_BSDF *same = Registry::make(c.name, Registry::varied(40));
        const bool byAddress = std::strcmp(c.name, "SRF_ScaleBSDF") == 0;
        EXPECT_EQ(bsdf->isEqual(*same, 0.0f), !byAddress);
        same->decRefCount();

        // duplicate: own blocks holding exactly the first `copied` lanes, the
        // same answers there, equal to the original unless compared by
        // address.
        poisonPool();
        SRF_BSDF *twin = bsdf->duplicate(copied);
        EXPECT_EQ(twin != nullptr, c.duplicable);
        if (twin)
        {
            EXPECT_EQ(twin->isEqual(*bsdf, 0.0f), !byAddress);
            EXPECT_EQ(outOf(KAL_DataPool::VECTOR) - vectors0, 2 * long(maker.vectors.size()));
            EXPECT_EQ(outOf(KAL_DataPool::FLOAT) - floats0, 2 * long(maker.floats.size()));
            const Flat twinFlat(twin);
            EXPECT_EQ(twinFlat.bsdfs.entries(), flat.bsdfs.entries());
            expectCopiedLanes(flat.vectors, twinFlat.vectors, copied);
            expectCopiedLanes(flat.floats, twinFlat.floats, copied);
            for (int lane = 0; lane < copied; ++lane)
            {
                EXPECT_EQ(twin->getBounces(lane), bsdf->getBounces(lane));
                const Evaluated a = evaluateOf(*bsdf, u, n, v, lane), b = evaluateOf(*twin, u, n, v, lane);
                EXPECT_TRUE(sameBits(a.colour.x, b.colour.x) && sameBits(a.colour.z, b.colour.z) &&
                            sameBits(a.scalar, b.scalar));
                EXPECT_TRUE(sameBits(bsdf->albedo(u, n, lane), twin->albedo(u, n, lane)));
            }
            twin->decRefCount();
        }

        // Masks sharing no bit with the bounce set give zeros and leave the
        // sampled direction and bounce alone; the mask of every type answers
        // as the unmasked query.
        for (int mask : {0, SRF_BOUNCE_ALL & ~c.bounces})
        {
            SCOPED_TRACE(mask);
            EXPECT_EQ(bsdf->albedo(u, n, 0, mask), 0.0f);
            EXPECT_EQ(bsdf->specularRatio(0, mask), 0.0f);
            Evaluated e;
            bsdf->evaluate(u, n, v, e.colour, e.scalar, 0, mask);
            EXPECT_TRUE(e.colour == zero && e.scalar == 0.0f);
            Sampled s;
            bsdf->sample(u, n, s.v, s.colour, s.scalar, s.bounce, 0.3f, 0.6f, 0, mask);
            EXPECT_TRUE(s.colour == zero && s.scalar == 0.0f);
            EXPECT_TRUE(s.v == Sampled().v && s.bounce == -7);
        }
        EXPECT_EQ(bsdf->albedo(u, n, 0, SRF_BOUNCE_ALL), bsdf->albedo(u, n, 0));
        EXPECT_EQ(bsdf->specularRatio(0, SRF_BOUNCE_ALL), bsdf->specularRatio(0));
        if (std::strcmp(c.name, "SRF_Measured") != 0) // draws from a shared generator
        {
            const Sampled plain = sampleOf(*bsdf, u, n, 0.3f, 0.6f, 1);
            Sampled masked;
            bsdf->sample(u, n, masked.v, masked.colour, masked.scalar, masked.bounce, 0.3f, 0.6f, 1, SRF_BOUNCE_ALL);
            EXPECT_TRUE(plain.v == masked.v && plain.colour == masked.colour && plain.bounce == masked.bounce);
        }

        bsdf->decRefCount();
        EXPECT_EQ(outOf(KAL_DataPool::VECTOR), vectors0);
        EXPECT_EQ(outOf(KAL_DataPool::FLOAT), floats0);
    }
}

// Directions of any length, NaN and infinite parameters and random numbers:
// no crash, and an analytic lobe's sample still reports its bounce type.
TEST(Contract, BadInputNeverCrashes)
{
    const float bad[] = {NaN, INF, -INF, -1.0f, 0.0f, 1e30f};
    const BX_Vector3 dirs[] = {BX_Vector3(0, 0, 0),      BX_Vector3(NaN, 0, 1),    BX_Vector3(INF, 0, 0),
                               BX_Vector3(-INF, INF, 1), BX_Vector3(0, 0, 1e30f),  BX_Vector3(0, 0, -1),
                               BX_Vector3(1e-30f, 0, 0), BX_Vector3(0.6f, 0, 0.8f)};
    for (const Registry::Class &c : Registry::all())
        for (float p : bad)
            for (const BX_Vector3 &pv : dirs)
            {
                SCOPED_TRACE(c.name);
                Registry::Lane lane{{pv, pv, pv}, {p, p}};
                auto bsdf = hold(Registry::make(c.name, lane));
                const int own = bsdf->getBounces();
                const int written = c.kind == Registry::ANALYTIC && own != SRF_BOUNCE_EMISSION ? own : -7;
                for (const BX_Vector3 &u : dirs)
                    for (const BX_Vector3 &n : {dirs[0], dirs[1], dirs[7]})
                    {
                        (void)bsdf->albedo(u, n, 0);
                        (void)bsdf->specularRatio(0);
                        for (const BX_Vector3 &w : {dirs[1], dirs[2], dirs[7], -u})
                            (void)evaluateOf(*bsdf, u, n, w);
                        for (float s : {NaN, INF, 0.0f, 1.0f, 0.25f, 0.75f})
                        {
                            const int a = sampleOf(*bsdf, u, n, s, 0.3f).bounce,
                                      b = sampleOf(*bsdf, u, n, 0.3f, s).bounce;
                            ASSERT_TRUE(written == -7 || (a == written && b == written)) << a << " " << b;
                        }
                    }
            }
}

namespace
{
// A lobe with one vector and one float block that exposes the protected
// helpers and has no dump of its own.
class ProbeLobe : public SRF_BSDF
{
public:
    ProbeLobe(BX_Vector3 *dir, float *e) : myDir(dir), myE(e) { bounces = SRF_BOUNCE_GLOSSY; }
    ~ProbeLobe() override
    {
        if (myE)
            release(myE);
        if (myDir)
            release(myDir);
    }
    const char *className() const override { return "SRF_ProbeLobe"; }
    float albedo(const BX_Vector3 &, const BX_Vector3 &, int lane) const override { return myE[lane]; }
    float specularRatio(int) const override { return 0.5f; }
    void evaluate(const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &colour, float &scalar,
                  int lane) const override
    {
        colour = myDir[lane];
        scalar = myE[lane];
    }
    void sample(const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &v, BX_Vector3 &, float &, int &, float, float,
                int lane) const override
    {
        v = myDir[lane];
    }
    SRF_BSDF *duplicate(int count) const override { return new ProbeLobe(copy(myDir, count), copy(myE, count)); }
    void flatten(BX_PtrArray<SRF_BSDF *> &, BX_PtrArray<BX_Vector3 *> &, BX_PtrArray<float *> &) override {}
    bool same(const BX_Vector3 &a, const BX_Vector3 &n, const BX_Vector3 &b) const { return sameHemisphere(a, n, b); }
    float cos(const BX_Vector3 &a, const BX_Vector3 &b) const { return cosine(a, b); }

    BX_Vector3 *myDir;
    float *myE;
};
} // namespace

TEST(BSDFBase, HelpersReferencesAndAllocation)
{
    // sameHemisphere: (a.n > 0) == (b.n > 0); in the plane counts as below.
    ProbeLobe p(nullptr, nullptr);
    const BX_Vector3 n(0, 0, 1), inPlane(1, 0, 0), below(0, 0.3f, -1), above(0, 0.3f, 1);
    EXPECT_TRUE(p.same(inPlane, n, below) && p.same(below, n, inPlane) && p.same(above, n, above));
    EXPECT_FALSE(p.same(inPlane, n, above) || p.same(above, n, below));
    EXPECT_TRUE(p.same(BX_Vector3(NaN, 0, 0), n, below));
    // cosine: |a.b|, not normalised.
    EXPECT_EQ(p.cos(n, -n), 1.0f);
    EXPECT_EQ(p.cos(BX_Vector3(2, 1, 0), BX_Vector3(-3, 1, 5)), 5.0f);
    EXPECT_EQ(p.cos(BX_Vector3(1, 2, 3), BX_Vector3(4, 5, 6)), 32.0f);
    // A class that knows nothing of its density is only ever sampled: the
    // base answers pdf 0 and value 0, over whatever the caller had.
    BX_Vector3 value(7, 7, 7);
    float pdf = 7.0f;
    p.evaluatePdf(n, n, n, value, pdf, 0, SRF_BOUNCE_ALL);
    EXPECT_TRUE(value == BX_Vector3(0, 0, 0) && pdf == 0.0f && p.pdf(n, n, n, 0, SRF_BOUNCE_ALL) == 0.0f);
    // The base dump, for a class without its own.
    EXPECT_EQ(dumpText(p, 0), " no dump function defined\n");
    EXPECT_EQ(dumpText(p, 4), "    no dump function defined\n");

    // Destroyed exactly at the last reference, with its blocks; the memory
    // goes back to the shared allocator with the object's size.
    BX_SmallObjectAllocator &shared = SRF_BSDFBase::allocator();
    const long live = PoolCheck::liveObjects(), blocks = PoolCheck::blocksOut(), objects = shared.outstanding();
    const long ofSize = shared.outstanding(sizeof(ProbeLobe));
    ProbeLobe *q = new ProbeLobe(vectors({BX_Vector3(1, 2, 3)}), floats({0.25f}));
    EXPECT_EQ(shared.outstanding(sizeof(ProbeLobe)), ofSize + 1);
    q->addRefCount();
    q->addRefCount();
    EXPECT_EQ(q->getRefCount(), 3);
    q->decRefCount();
    q->decRefCount();
    EXPECT_EQ(PoolCheck::liveObjects(), live + 1);
    EXPECT_EQ(PoolCheck::blocksOut(), blocks + 2);
    q->decRefCount();
    EXPECT_EQ(PoolCheck::liveObjects(), live);
    EXPECT_EQ(PoolCheck::blocksOut(), blocks);
    EXPECT_EQ(shared.outstanding(), objects);
    EXPECT_EQ(shared.outstanding(sizeof(ProbeLobe)), ofSize);
    // A destructor skips null blocks.
    (new ProbeLobe(nullptr, nullptr))->decRefCount();
    EXPECT_EQ(PoolCheck::blocksOut(), blocks);
}
