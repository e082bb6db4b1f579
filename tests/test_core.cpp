// The BSDF base: masked operations, geometry helpers, equality, dumps,
// block copying, reference counting and the shared allocator.
#include "KAL_DataPool.h"
#include "SRF_Emission.h"
#include "SRF_Isotropic.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
// A lobe with one vector and one float block, which records whether its
// mask-free operations ran, and exposes the protected helpers.
class ProbeLobe : public SRF_BSDF
{
public:
    ProbeLobe(BX_Vector3 *dir, float *e, int set) : myDir(dir), myE(e) { bounces = set; }
    ~ProbeLobe() override
    {
        if (myE)
            release(myE);
        if (myDir)
            release(myDir);
    }
    const char *className() const override { return "SRF_ProbeLobe"; }
    using SRF_BSDF::albedo;
    using SRF_BSDF::evaluate;
    using SRF_BSDF::sample;
    using SRF_BSDF::specularRatio;
    float albedo(const BX_Vector3 &, const BX_Vector3 &, int lane) const override { return myE[lane]; }
    float specularRatio(int) const override { return 0.5f; }
    void evaluate(const BX_Vector3 &, const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &colour, float &scalar,
                  int lane) const override
    {
        colour = myDir[lane];
        scalar = myE[lane];
    }
    void sample(const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &v, BX_Vector3 &colour, float &scalar, int &bounce,
                float, float, int lane) const override
    {
        v = myDir[lane];
        colour = BX_Vector3(1.0f, 1.0f, 1.0f);
        scalar = myE[lane];
        bounce = bounces;
    }
    SRF_BSDF *duplicate(int count) const override
    {
        return new ProbeLobe(copy(myDir, count), copy(myE, count), bounces);
    }
    void flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &vectors,
                 BX_PtrArray<float *> &floats) override
    {
        bsdfs.append(this);
        vectors.append(myDir);
        floats.append(myE);
    }
    bool same(const BX_Vector3 &a, const BX_Vector3 &n, const BX_Vector3 &b) const { return sameHemisphere(a, n, b); }
    float cos(const BX_Vector3 &a, const BX_Vector3 &b) const { return cosine(a, b); }

    BX_Vector3 *myDir;
    float *myE;
};

ProbeLobe *makeProbe(int set, int lanes)
{
    BX_Vector3 *dir = SRF_BSDF::allocVector();
    float *e = SRF_BSDF::allocFloat();
    for (int i = 0; i < lanes; ++i)
    {
        dir[i] = BX_Vector3(float(i), 0.0f, 1.0f);
        e[i] = 0.25f + float(i);
    }
    return new ProbeLobe(dir, e, set);
}

std::string dumpOf(const SRF_BSDF &b, int indent)
{
    testing::internal::CaptureStderr();
    b.dump(indent);
    return testing::internal::GetCapturedStderr();
}
} // namespace

TEST(BSDFBase, MasksSharingNoBitZeroOutputsAndKeepDirectionAndBounce)
{
    ProbeLobe *glossy = makeProbe(SRF_BOUNCE_GLOSSY, 4);
    const BX_Vector3 u(0.0f, 0.0f, 1.0f), n(0.0f, 0.0f, 1.0f);
    for (int mask : {0, int(SRF_BOUNCE_DIFFUSE), SRF_BOUNCE_SPECULAR | SRF_BOUNCE_EMISSION})
    {
        BX_Vector3 v(7.0f, 8.0f, 9.0f), colour(3.0f, 3.0f, 3.0f);
        float scalar = 5.0f;
        int bounce = 42;
        glossy->sample(u, n, v, colour, scalar, bounce, 0.5f, 0.5f, 2, mask);
        EXPECT_TRUE(v == BX_Vector3(7.0f, 8.0f, 9.0f));
        EXPECT_EQ(bounce, 42);
        EXPECT_TRUE(colour == BX_Vector3(0.0f, 0.0f, 0.0f));
        EXPECT_EQ(scalar, 0.0f);

        colour = BX_Vector3(3.0f, 3.0f, 3.0f);
        scalar = 5.0f;
        glossy->evaluate(u, n, v, colour, scalar, 2, mask);
        EXPECT_TRUE(colour == BX_Vector3(0.0f, 0.0f, 0.0f));
        EXPECT_EQ(scalar, 0.0f);
        EXPECT_EQ(glossy->albedo(u, n, 2, mask), 0.0f);
        EXPECT_EQ(glossy->specularRatio(2, mask), 0.0f);
    }
    // A mask sharing a bit reaches the lobe, with the lane passed through.
    BX_Vector3 v, colour;
    float scalar = 0.0f;
    int bounce = 0;
    glossy->sample(u, n, v, colour, scalar, bounce, 0.5f, 0.5f, 2, SRF_BOUNCE_SCATTER);
    EXPECT_TRUE(v == BX_Vector3(2.0f, 0.0f, 1.0f));
    EXPECT_EQ(scalar, 2.25f);
    EXPECT_EQ(bounce, SRF_BOUNCE_GLOSSY);
    glossy->evaluate(u, n, v, colour, scalar, 3, SRF_BOUNCE_GLOSSY);
    EXPECT_TRUE(colour == BX_Vector3(3.0f, 0.0f, 1.0f));
    EXPECT_EQ(scalar, 3.25f);
    EXPECT_EQ(glossy->albedo(u, n, 1, SRF_BOUNCE_ALL), 1.25f);
    EXPECT_EQ(glossy->specularRatio(1, SRF_BOUNCE_GLOSSY), 0.5f);
    glossy->decRefCount();
}

TEST(BSDFBase, HemisphereAndCosine)
{
    ProbeLobe *p = makeProbe(1, 1);
    const BX_Vector3 n(0.0f, 0.0f, 1.0f);
    const BX_Vector3 inPlane(1.0f, 0.0f, 0.0f), below(0.0f, 0.3f, -1.0f), above(0.0f, 0.3f, 1.0f);
    EXPECT_TRUE(p->same(inPlane, n, below));
    EXPECT_TRUE(p->same(below, n, inPlane));
    EXPECT_FALSE(p->same(inPlane, n, above));
    EXPECT_TRUE(p->same(above, n, above));
    const float nan = std::nanf("");
    EXPECT_TRUE(p->same(BX_Vector3(nan, 0.0f, 0.0f), n, below)); // NaN counts as not above
    EXPECT_EQ(p->cos(BX_Vector3(0.0f, 0.0f, 1.0f), BX_Vector3(0.0f, 0.0f, -1.0f)), 1.0f);
    EXPECT_EQ(p->cos(BX_Vector3(2.0f, 1.0f, 0.0f), BX_Vector3(-3.0f, 1.0f, 5.0f)), 5.0f); // not normalised
    p->decRefCount();
}

TEST(BSDFBase, EqualityByClassNameAndDumpIndentation)
{
    SRF_BSDF *iso = new SRF_Isotropic(), *iso2 = new SRF_Isotropic(), *em = new SRF_Emission();
    ProbeLobe *p = makeProbe(1, 1), *q = makeProbe(2, 1);
    q->myE[0] = 99.0f;
    EXPECT_TRUE(iso->isEqual(*iso2, 0.0f));
    EXPECT_FALSE(iso->isEqual(*em, 1e6f));
    EXPECT_TRUE(p->isEqual(*q, 0.0f)); // parameters do not take part
    EXPECT_FALSE(p->isEqual(*iso, 0.0f));

    EXPECT_EQ(dumpOf(*iso, 0), " SRF_Isotropic\n");
    EXPECT_EQ(dumpOf(*iso, 1), " SRF_Isotropic\n");
    EXPECT_EQ(dumpOf(*em, 4), "    SRF_Emission\n");
    // The base dump, for a class without its own.
    EXPECT_EQ(dumpOf(*p, 0), " no dump function defined\n");
    EXPECT_EQ(dumpOf(*p, 1), " no dump function defined\n");
    EXPECT_EQ(dumpOf(*p, 4), "    no dump function defined\n");
    for (SRF_BSDF *b : {iso, iso2, em, static_cast<SRF_BSDF *>(p), static_cast<SRF_BSDF *>(q)})
        b->decRefCount();
}

TEST(BSDFBase, DuplicateCopiesExactlyCountElements)
{
    ProbeLobe *src = makeProbe(SRF_BOUNCE_GLOSSY, 8);
    // Mark what the pool hands out next so that uncopied elements are seen.
    ProbeLobe *dup = nullptr;
    {
        BX_Vector3 *v = SRF_BSDF::allocVector();
        float *f = SRF_BSDF::allocFloat();
        for (int i = 0; i < KAL_MAX_LANES; ++i)
        {
            v[i] = BX_Vector3(-1.0f, -1.0f, -1.0f);
            f[i] = -1.0f;
        }
        SRF_BSDF::release(v);
        SRF_BSDF::release(f);
        dup = static_cast<ProbeLobe *>(src->duplicate(3));
    }
    ASSERT_NE(dup, nullptr);
    EXPECT_NE(dup->myDir, src->myDir);
    EXPECT_EQ(dup->getBounces(), SRF_BOUNCE_GLOSSY);
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_TRUE(dup->myDir[i] == src->myDir[i]);
        EXPECT_EQ(dup->myE[i], src->myE[i]);
    }
    EXPECT_TRUE(dup->myDir[3] == BX_Vector3(-1.0f, -1.0f, -1.0f));
    EXPECT_EQ(dup->myE[3], -1.0f);
    EXPECT_TRUE(dup->isEqual(*src, 0.0f));
    src->decRefCount();
    EXPECT_EQ(dup->myE[1], 1.25f); // the copy survives its source

    BX_PtrArray<SRF_BSDF *> bsdfs;
    BX_PtrArray<BX_Vector3 *> vectors;
    BX_PtrArray<float *> floats;
    dup->flatten(bsdfs, vectors, floats);
    ASSERT_EQ(bsdfs.entries(), 1);
    EXPECT_EQ(bsdfs[0], dup);
    EXPECT_EQ(vectors[0], dup->myDir);
    EXPECT_EQ(floats[0], dup->myE);
    dup->decRefCount();

    SRF_BSDF *iso = new SRF_Isotropic(), *em = new SRF_Emission();
    for (int count : {0, 1, KAL_MAX_LANES})
    {
        SRF_BSDF *a = iso->duplicate(count), *b = em->duplicate(count);
        EXPECT_STREQ(a->className(), "SRF_Isotropic");
        EXPECT_STREQ(b->className(), "SRF_Emission");
        EXPECT_EQ(a->getBounces(), 1);
        EXPECT_EQ(b->getBounces(8), 8);
        EXPECT_NE(a, iso);
        a->decRefCount();
        b->decRefCount();
    }
    iso->decRefCount();
    em->decRefCount();
}

TEST(BSDFBase, DestroyedExactlyWhenLastReferenceGoes)
{
    const long before = KAL_RefType::liveObjects();
    const long blocks = KAL_DataPool::getDataPool().blocksOut();
    ProbeLobe *p = makeProbe(1, 2);
    EXPECT_EQ(KAL_DataPool::getDataPool().blocksOut(), blocks + 2);
    EXPECT_EQ(p->getRefCount(), 1);
    p->addRefCount();
    p->addRefCount();
    EXPECT_EQ(p->getRefCount(), 3);
    p->decRefCount();
    p->decRefCount();
    EXPECT_EQ(KAL_RefType::liveObjects(), before + 1);
    EXPECT_EQ(KAL_DataPool::getDataPool().blocksOut(), blocks + 2);
    p->decRefCount();
    EXPECT_EQ(KAL_RefType::liveObjects(), before);
    EXPECT_EQ(KAL_DataPool::getDataPool().blocksOut(), blocks);

    // A destructor skips null blocks.
    SRF_BSDF *empty = new ProbeLobe(nullptr, nullptr, 1);
    empty->decRefCount();
    EXPECT_EQ(KAL_DataPool::getDataPool().blocksOut(), blocks);
}

TEST(BSDFBase, ObjectsOfEverySizeComeFromTheSharedAllocator)
{
    BX_SmallObjectAllocator &shared = SRF_BSDFBase::allocator();
    const long before = shared.outstanding();
    SRF_BSDF *iso = new SRF_Isotropic();
    ProbeLobe *p = makeProbe(1, 1);
    ASSERT_NE(sizeof(SRF_Isotropic), sizeof(ProbeLobe));
    EXPECT_EQ(shared.outstanding(), before + 2);
    EXPECT_GE(shared.outstanding(sizeof(SRF_Isotropic)), 1);
    EXPECT_GE(shared.outstanding(sizeof(ProbeLobe)), 1);
    const long isoOut = shared.outstanding(sizeof(SRF_Isotropic));
    iso->decRefCount(); // the deleting destructor gives back the exact size
    EXPECT_EQ(shared.outstanding(sizeof(SRF_Isotropic)), isoOut - 1);
    p->decRefCount();
    EXPECT_EQ(shared.outstanding(), before);
}

TEST(Lobes, IsotropicAndEmission)
{
    SRF_BSDF *iso = new SRF_Isotropic();
    SRF_BSDF *em = new SRF_Emission();
    const BX_Vector3 u(0.0f, 0.6f, 0.8f), n(0.0f, 0.0f, 1.0f);
    BX_Vector3 v, colour;
    float scalar = 0.0f;
    int bounce = 0;
    iso->sample(u, n, v, colour, scalar, bounce, 0.3f, 0.0f, 0, SRF_BOUNCE_ALL);
    EXPECT_NEAR((v + u).length(), 0.0f, 1e-6f); // sy = 0: v = -u
    EXPECT_TRUE(colour == BX_Vector3(1.0f, 1.0f, 1.0f));
    EXPECT_EQ(scalar, 1.0f);
    EXPECT_EQ(bounce, 1);
    iso->sample(u, n, v, colour, scalar, bounce, 0.3f, 1.0f, 0, SRF_BOUNCE_ALL);
    EXPECT_NEAR((v - u).length(), 0.0f, 1e-6f); // sy = 1: v = u
    iso->sample(u, n, v, colour, scalar, bounce, 0.7f, 0.5f, 0, SRF_BOUNCE_ALL);
    EXPECT_NEAR(v.dot(u), 0.0f, 1e-6f); // sy = 0.5: perpendicular
    EXPECT_NEAR(v.length(), 1.0f, 1e-6f);
    iso->evaluate(u, n, BX_Vector3(0.0f, 0.0f, -1.0f), colour, scalar, 0, SRF_BOUNCE_DIFFUSE);
    EXPECT_TRUE(colour == BX_Vector3(1.0f, 1.0f, 1.0f)); // no hemisphere test
    EXPECT_EQ(scalar, 1.0f);
    EXPECT_EQ(iso->albedo(u, n, 0), 1.0f);
    EXPECT_EQ(iso->specularRatio(0), 0.0f);
    iso->emission(colour, 0);
    EXPECT_TRUE(colour == BX_Vector3(0.0f, 0.0f, 0.0f));

    v = BX_Vector3(1.0f, 2.0f, 3.0f);
    bounce = 77;
    em->sample(u, n, v, colour, scalar, bounce, 0.5f, 0.5f, 0, SRF_BOUNCE_EMISSION);
    EXPECT_TRUE(v == BX_Vector3(1.0f, 2.0f, 3.0f));
    EXPECT_EQ(bounce, 77);
    EXPECT_TRUE(colour == BX_Vector3(0.0f, 0.0f, 0.0f));
    EXPECT_EQ(scalar, 0.0f);
    em->emission(colour, 5);
    EXPECT_TRUE(colour == BX_Vector3(1.0f, 1.0f, 1.0f));
    EXPECT_EQ(em->albedo(u, n, 0, SRF_BOUNCE_SCATTER), 0.0f);
    EXPECT_FALSE(em->hasBounce(SRF_BOUNCE_SCATTER));
    EXPECT_TRUE(em->hasBounce(SRF_BOUNCE_ALL));
    iso->decRefCount();
    em->decRefCount();
}
